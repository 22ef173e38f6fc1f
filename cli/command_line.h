// The host's command line, read and carried out; main.cpp holds it, and each
// platform's entry point calls it with the arguments in UTF-8.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tintwell_cli {

// The option that a batch on Windows passes to the process of each of its
// pictures, which then edits that one picture without repeating the
// batch's warnings. Not for people: neither --help nor the manual names it.
inline constexpr std::string_view kBatchPictureOption = "--batch-picture";

// Carries out a command line (`arguments` without the program's name) and
// returns the exit status.
int Main(const std::vector<std::string>& arguments);

}  // namespace tintwell_cli
