#include "file_name.h"

#include <cstdint>

namespace korvane {
namespace {

constexpr bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Appends one code point as UTF-8; false when it does not fit before the NUL.
bool AppendUtf8(FileName& name, std::size_t& length, char32_t code_point) {
    char bytes[4];
    std::size_t count;
    if (code_point < 0x80) {
        bytes[0] = static_cast<char>(code_point);
        count = 1;
    } else if (code_point < 0x800) {
        bytes[0] = static_cast<char>(0xC0 | (code_point >> 6));
        bytes[1] = static_cast<char>(0x80 | (code_point & 0x3F));
        count = 2;
    } else if (code_point < 0x10000) {
        bytes[0] = static_cast<char>(0xE0 | (code_point >> 12));
        bytes[1] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        bytes[2] = static_cast<char>(0x80 | (code_point & 0x3F));
        count = 3;
    } else {
        bytes[0] = static_cast<char>(0xF0 | (code_point >> 18));
        bytes[1] = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
        bytes[2] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        bytes[3] = static_cast<char>(0x80 | (code_point & 0x3F));
        count = 4;
    }
    if (length + count >= kFileNameCapacity) return false;
    for (std::size_t i = 0; i < count; ++i) name[length++] = bytes[i];
    return true;
}

}  // namespace

FileName ConvertFileName(const TintwellChar16* name) {
    FileName converted{};
    if (name == nullptr) return converted;
    std::size_t length = 0;
    // Reading stops at the terminator or at the first refusal, so an
    // overlong name is never walked past the point where it fails.
    for (std::size_t i = 0; name[i] != 0; ++i) {
        char32_t code_point = static_cast<char16_t>(name[i]);
        if (IsHighSurrogate(code_point)) {
            const char32_t next = static_cast<char16_t>(name[i + 1]);
            if (!IsLowSurrogate(next)) return FileName{};
            code_point = 0x10000 + ((code_point - 0xD800) << 10) + (next - 0xDC00);
            ++i;
        } else if (IsLowSurrogate(code_point)) {
            return FileName{};
        }
        if (!AppendUtf8(converted, length, code_point)) return FileName{};
    }
    return converted;
}

}  // namespace korvane
