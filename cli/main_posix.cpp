// The arguments arrive as the bytes the shell passed, UTF-8 by convention.
#include <string>
#include <vector>

#include "main.h"
#include "platform.h"

int main(int argc, char** argv) {
    tintwell_cli::HoldStandardStreams();
    return tintwell_cli::Main(std::vector<std::string>(argv + 1, argv + argc));
}
