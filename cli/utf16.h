#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tintwell_cli {

// Converts well-formed UTF-8 to UTF-16; nothing for ill-formed input
// (overlong forms, surrogates, code points above U+10FFFF, stray bytes) and
// for text holding a NUL, which a C string cannot carry.
std::optional<std::u16string> Utf8ToUtf16(std::string_view text);

// Whether a file name can be passed to the library faithfully; when not,
// says why in `problem`.
bool IsValidFileName(const std::string& name, std::string& problem);

}  // namespace tintwell_cli
