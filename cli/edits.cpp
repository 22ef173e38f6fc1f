#include "edits.h"

#include <array>
#include <charconv>
#include <cstdlib>

#include "format.h"
#include "host_messages.h"
#include "language.h"
#include "korvane/tintwell.h"

namespace tintwell_cli {
namespace {

constexpr std::array<EditInfo, 10> kEdits = {{
    {"copy", TINTWELL_FUNCTION_COPY, AmountUse::kNone, true, N_("copy the pixels unchanged")},
    {"brighten", TINTWELL_FUNCTION_BRIGHTEN, AmountUse::kChannel, true, N_("raise every channel by AMOUNT, capped at 255")},
    {"darken", TINTWELL_FUNCTION_DARKEN, AmountUse::kChannel, true, N_("lower every channel by AMOUNT, floored at 0")},
    {"gray", TINTWELL_FUNCTION_GRAY, AmountUse::kNone, true, N_("black-and-white")},
    {"invert", TINTWELL_FUNCTION_INVERT, AmountUse::kNone, true, N_("invert every channel")},
    {"threshold", TINTWELL_FUNCTION_THRESHOLD, AmountUse::kChannel, true, N_("255 where a channel is >= AMOUNT, else 0")},
    {"noise", TINTWELL_FUNCTION_NOISE, AmountUse::kNoiseBound, true, N_("add a random value below AMOUNT to each channel")},
    {"tint-up", TINTWELL_FUNCTION_TINT_UP, AmountUse::kChannel, true, N_("as brighten, with the library's prompt and echo")},
    {"tint-down", TINTWELL_FUNCTION_TINT_DOWN, AmountUse::kChannel, true, N_("as darken, with the library's prompt")},
    {"read", TINTWELL_FUNCTION_EXIT, AmountUse::kNone, false, N_("check and read INPUT, write nothing")},
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

std::optional<std::string> AmountWarning(const EditInfo& edit, std::int32_t amount) {
    switch (edit.amount_use) {
    case AmountUse::kNone: return std::nullopt;
    case AmountUse::kChannel:
        if (amount >= 0 && amount <= 255) return std::nullopt;
        return Format(text::kAmountLowBits, amount, amount & 0xFF, edit.name);
    case AmountUse::kNoiseBound:
        if (amount >= 1 && amount <= 256) return std::nullopt;
        if (amount == 0) return Format(text::kAmountNoNoise, amount);
        if (amount < 0 && amount >= -256) return Format(text::kAmountActsAs, amount, -amount);
        // Beyond 256 the draws wrap: each adds the low 8 bits of a value below |amount|.
        return Format(text::kAmountWraps, amount, std::abs(std::int64_t{amount}));
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
    case TINTWELL_RESULT_WRITTEN: return N_("the output file was written");
    case TINTWELL_RESULT_EXITED: return N_("the input was read and nothing was written");
    case TINTWELL_RESULT_LOAD_FAILED: return N_("the input file could not be opened or read");
    case TINTWELL_RESULT_ALLOCATION_FAILED:
        return N_("the pixel buffer could not be allocated (the size in the header is negative, too large, or memory ran out)");
    case TINTWELL_RESULT_REJECTED: return N_("the function number is not between 1 and 10");
    case TINTWELL_RESULT_SAVE_FAILED: return N_("the output file could not be opened or written");
    default: return N_("unknown result code");
    }
}

bool IsSuccess(std::int32_t result) {
    return result == TINTWELL_RESULT_WRITTEN || result == TINTWELL_RESULT_EXITED;
}

}  // namespace tintwell_cli
