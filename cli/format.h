// Whole messages with positional arguments: "{0}: {1} bytes" filled in with
// the arguments in any order, so that a message is one string that can be
// translated whole, never glued from pieces. (GCC 12 has no <format>.)
#pragma once

#include <array>
#include <concepts>
#include <string>
#include <string_view>

namespace tintwell_cli {

// Puts each pattern into the user's language before it is filled in. The
// host points it at its catalog when it starts (language.h); programs that
// never do, such as the web page, keep the English.
inline std::string_view (*pattern_translator)(std::string_view english) = nullptr;

// Replaces each "{N}" in `pattern` with argument N. A brace that starts no
// such field, or names an argument that was not given, stays as it is.
inline std::string FormatWith(std::string_view pattern, const std::string* arguments, std::size_t count) {
    if (pattern_translator != nullptr) pattern = pattern_translator(pattern);
    std::string text;
    for (std::size_t at = 0; at < pattern.size();) {
        const std::size_t close = pattern[at] == '{' ? pattern.find('}', at) : std::string_view::npos;
        std::size_t index = 0;
        bool field = close != std::string_view::npos && close > at + 1 && close - at <= 3;
        for (std::size_t digit = at + 1; field && digit < close; ++digit) {
            field = pattern[digit] >= '0' && pattern[digit] <= '9';
            index = index * 10 + static_cast<std::size_t>(pattern[digit] - '0');
        }
        if (field && index < count) {
            text += arguments[index];
            at = close + 1;
        } else {
            text += pattern[at++];
        }
    }
    return text;
}

inline std::string FormatArgument(std::string_view text) { return std::string(text); }
inline std::string FormatArgument(const char* text) { return text; }
inline std::string FormatArgument(std::string text) { return text; }
template <std::integral Number>
std::string FormatArgument(Number number) {
    return std::to_string(number);
}

template <typename... Arguments>
std::string Format(std::string_view pattern, const Arguments&... arguments) {
    const std::array<std::string, sizeof...(Arguments)> texts{FormatArgument(arguments)...};
    return FormatWith(pattern, texts.data(), texts.size());
}

}  // namespace tintwell_cli
