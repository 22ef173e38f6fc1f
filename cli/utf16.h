#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tintwell_cli {

// Converts well-formed UTF-8 to UTF-16; nothing for ill-formed input
// (overlong forms, surrogates, code points above U+10FFFF, stray bytes) and
// for text holding a NUL, which a C string cannot carry.
std::optional<std::u16string> Utf8ToUtf16(std::string_view text);

// Converts well-formed UTF-16 to UTF-8; nothing for a lone surrogate.
std::optional<std::string> Utf16ToUtf8(std::u16string_view text);

// A path from a UTF-8 name, and back: the host holds every name in UTF-8,
// and on Windows a path made from a plain string would read it in the ANSI
// code page instead.
std::filesystem::path PathOf(const std::string& utf8_name);
std::string Utf8Of(const std::filesystem::path& path);

// Whether a file name can be passed to the library faithfully.
bool IsValidFileName(const std::string& name);

}  // namespace tintwell_cli
