// The edits the host offers, by name and by number, and the meaning of each
// result code.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tintwell_cli {

// How an edit uses its AMOUNT.
enum class AmountUse {
    kNone,
    kChannel,     // added, subtracted or compared per channel: its low 8 bits count
    kNoiseBound,  // the bound of a random draw per channel
};

struct EditInfo {
    std::string_view name;
    std::int32_t function;
    AmountUse amount_use;
    bool writes_output;
    std::string_view summary;

    bool needs_amount() const { return amount_use != AmountUse::kNone; }
};

// Every edit, in function-number order.
std::span<const EditInfo> AllEdits();

// Finds an edit by its name or its decimal function number (1 to 10).
std::optional<EditInfo> FindEdit(std::string_view word);

// What an amount that does not act as it reads does instead ("amount 300
// acts as 44"); nothing when it acts as it reads.
std::optional<std::string> AmountWarning(const EditInfo& edit, std::int32_t amount);

// Parses a signed 32-bit decimal number; nothing for anything else.
std::optional<std::int32_t> ParseInt32(std::string_view text);

// One English line saying what a result code means (a message id of the
// catalogs: Translated gives it in the user's language).
std::string_view ResultMeaning(std::int32_t result);

// Whether a result code means the call did what was asked.
bool IsSuccess(std::int32_t result);

}  // namespace tintwell_cli
