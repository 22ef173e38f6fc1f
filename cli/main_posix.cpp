// The arguments arrive as the bytes the shell passed, UTF-8 by convention.
#include <cstdio>
#include <string>
#include <vector>

#include "language.h"
#include "main.h"
#include "platform.h"

int main(int argc, char** argv) {
    tintwell_cli::HoldStandardStreams();
    // Line by line, so that each of the library's messages leaves stdout
    // (or the pipe that renders it) when it is printed, not when it ends.
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    tintwell_cli::ChooseLanguage();
    return tintwell_cli::Main(std::vector<std::string>(argv + 1, argv + argc));
}
