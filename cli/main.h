// The host's command line carried out; each platform's entry point
// (main_posix.cpp, main_windows.cpp) calls it with the arguments in UTF-8.
#pragma once

#include <string>
#include <vector>

namespace tintwell_cli {

// Carries out a command line (`arguments` without the program's name) and
// returns the exit status.
int Main(const std::vector<std::string>& arguments);

// The usage error for argument `index` (from 1), which the system handed
// over in a form that converts to no text (a lone surrogate on Windows).
int RefuseArgument(int index);

}  // namespace tintwell_cli
