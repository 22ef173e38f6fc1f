#include "edits.h"

#include <array>
#include <charconv>

#include "korvane/tintwell.h"

namespace tintwell_cli {
namespace {

constexpr std::array<EditInfo, 10> kEdits = {{
    {"copy", TINTWELL_FUNCTION_COPY, false, true, "copy the pixels unchanged"},
    {"brighten", TINTWELL_FUNCTION_BRIGHTEN, true, true, "raise every channel by AMOUNT, capped at 255"},
    {"darken", TINTWELL_FUNCTION_DARKEN, true, true, "lower every channel by AMOUNT, floored at 0"},
    {"gray", TINTWELL_FUNCTION_GRAY, false, true, "black-and-white"},
    {"invert", TINTWELL_FUNCTION_INVERT, false, true, "invert every channel"},
    {"threshold", TINTWELL_FUNCTION_THRESHOLD, true, true, "255 where a channel is >= AMOUNT, else 0"},
    {"noise", TINTWELL_FUNCTION_NOISE, true, true, "add a random value below AMOUNT to each channel"},
    {"tint-up", TINTWELL_FUNCTION_TINT_UP, true, true, "as brighten, with the library's prompt and echo"},
    {"tint-down", TINTWELL_FUNCTION_TINT_DOWN, true, true, "as darken, with the library's prompt"},
    {"read", TINTWELL_FUNCTION_EXIT, false, false, "read INPUT and write nothing"},
}};

}  // namespace

std::span<const EditInfo> AllEdits() { return kEdits; }

std::optional<EditInfo> FindEdit(std::string_view word) {
    const std::optional<std::int32_t> number = ParseInt32(word);
    for (const EditInfo& edit : kEdits) {
        if (edit.name == word || (number && *number == edit.function)) return edit;
    }
    return std::nullopt;
}

std::optional<std::int32_t> ParseInt32(std::string_view text) {
    // from_chars takes no leading '+'; accept it as people write it.
    if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
    std::int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, 10);
    if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
    return value;
}

std::string_view ResultMeaning(std::int32_t result) {
    switch (result) {
    case TINTWELL_RESULT_WRITTEN: return "the output file was written";
    case TINTWELL_RESULT_EXITED: return "the input was read and nothing was written";
    case TINTWELL_RESULT_LOAD_FAILED: return "the input file could not be opened or read";
    case TINTWELL_RESULT_ALLOCATION_FAILED:
        return "the pixel buffer could not be allocated (the size in the header is negative, too large, or memory ran out)";
    case TINTWELL_RESULT_REJECTED: return "the function number is not between 1 and 10";
    case TINTWELL_RESULT_SAVE_FAILED: return "the output file could not be opened or written";
    default: return "unknown result code";
    }
}

bool IsSuccess(std::int32_t result) {
    return result == TINTWELL_RESULT_WRITTEN || result == TINTWELL_RESULT_EXITED;
}

}  // namespace tintwell_cli
