#include "utf16.h"

namespace tintwell_cli {
namespace {

// Decodes one code point at `i`, advancing it; nothing when ill-formed.
std::optional<char32_t> DecodeOne(std::string_view text, std::size_t& i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length;
    char32_t code_point;
    char32_t minimum;
    if (lead < 0x80) {
        ++i;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, code_point = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, code_point = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, code_point = lead & 0x07, minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    if (text.size() - i < length) return std::nullopt;
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) return std::nullopt;
        code_point = (code_point << 6) | (next & 0x3F);
    }
    const bool surrogate = code_point >= 0xD800 && code_point <= 0xDFFF;
    if (code_point < minimum || code_point > 0x10FFFF || surrogate) return std::nullopt;
    i += length;
    return code_point;
}

}  // namespace

std::optional<std::u16string> Utf8ToUtf16(std::string_view text) {
    std::u16string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::optional<char32_t> code_point = DecodeOne(text, i);
        if (!code_point || *code_point == 0) return std::nullopt;
        if (*code_point < 0x10000) {
            result.push_back(static_cast<char16_t>(*code_point));
        } else {
            const char32_t offset = *code_point - 0x10000;
            result.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
            result.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
        }
    }
    return result;
}

bool IsValidFileName(const std::string& name, std::string& problem) {
    if (Utf8ToUtf16(name)) return true;
    problem = "file name is not valid UTF-8: '" + name + "'";
    return false;
}

}  // namespace tintwell_cli
