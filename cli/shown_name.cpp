#include "shown_name.h"

#include <cstdint>
#include <cstdio>

namespace tintwell_cli {
namespace {

// The length of the UTF-8 sequence at `at` and its code point; a stray byte
// counts as one code point that is never safe.
std::size_t Decode(std::string_view name, std::size_t at, char32_t& code_point) {
    const auto lead = static_cast<unsigned char>(name[at]);
    const std::size_t length = lead < 0x80 ? 1 : lead >> 5 == 0x6 ? 2 : lead >> 4 == 0xE ? 3 : lead >> 3 == 0x1E ? 4 : 0;
    if (length == 0 || at + length > name.size()) {
        code_point = 0;  // unsafe
        return 1;
    }
    code_point = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) code_point = code_point << 6 | (static_cast<unsigned char>(name[at + i]) & 0x3F);
    return length;
}

bool IsUnsafe(char32_t c) {
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

void AppendQuoted(std::string& shown, std::string_view safe) {
    shown += '\'';
    for (const char c : safe) {
        if (c == '\'') {
            shown += "'\\''";
        } else {
            shown += c;
        }
    }
    shown += '\'';
}

void AppendEscaped(std::string& shown, std::string_view unsafe) {
    shown += "$'";
    for (const char c : unsafe) {
        char octal[5];
        std::snprintf(octal, sizeof octal, "\\%03o", static_cast<unsigned char>(c));
        shown += octal;
    }
    shown += '\'';
}

}  // namespace

std::string ShownName(std::string_view name) {
    bool any_unsafe = false;
    for (std::size_t at = 0; at < name.size() && !any_unsafe;) {
        char32_t c = 0;
        at += Decode(name, at, c);
        any_unsafe = IsUnsafe(c);
    }
    if (!any_unsafe) return std::string(name);
    std::string shown;
    std::size_t run = 0;
    bool run_unsafe = false;
    for (std::size_t at = 0; at < name.size();) {
        char32_t c = 0;
        const std::size_t length = Decode(name, at, c);
        if (at > run && IsUnsafe(c) != run_unsafe) {
            (run_unsafe ? AppendEscaped : AppendQuoted)(shown, name.substr(run, at - run));
            run = at;
        }
        run_unsafe = IsUnsafe(c);
        at += length;
    }
    (run_unsafe ? AppendEscaped : AppendQuoted)(shown, name.substr(run));
    return shown;
}

}  // namespace tintwell_cli
