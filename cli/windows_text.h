// Text at the Windows API's edge: UTF-8 names to the API's UTF-16, the
// system's error texts and this program's path back.
#pragma once

#include <windows.h>

#include <string>

namespace tintwell_cli {

// A UTF-8 name as the API takes it; names were checked to be valid UTF-8
// when the command line was read.
std::wstring Wide(const std::string& utf8);

// UTF-16 from the API as UTF-8 (a lone surrogate becomes U+FFFD).
std::string Narrow(const std::wstring& wide);

// The system's text for an error code, in the words a user expects for the
// common ones, then "(error N)".
std::string SystemMessage(DWORD error);

// The whole path of this program's own file; empty when the system cannot say.
std::wstring ThisProgramPath();

}  // namespace tintwell_cli
