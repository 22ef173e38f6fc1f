// The arguments arrive as the bytes the shell passed, UTF-8 by convention.
#include <string>
#include <vector>

#include "main.h"

int main(int argc, char** argv) { return tintwell_cli::Main(std::vector<std::string>(argv + 1, argv + argc)); }
