// File names as they are safe to print: a name holding a control character
// (a newline could forge a line of its own) or a bidirectional override
// (which reorders what a terminal shows) is quoted as a POSIX shell reads it
// back, 'a'$'\n''b'; every other name, non-ASCII included, is shown as it is.
#pragma once

#include <string>
#include <string_view>

namespace tintwell_cli {

std::string ShownName(std::string_view name);

}  // namespace tintwell_cli
