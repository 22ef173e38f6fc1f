// The edits the host offers, by name and by number, and the meaning of each
// result code.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace tintwell_cli {

struct EditInfo {
    std::string_view name;
    std::int32_t function;
    bool needs_amount;
    bool writes_output;
    std::string_view summary;
};

// Every edit, in function-number order.
std::span<const EditInfo> AllEdits();

// Finds an edit by its name or its decimal function number (1 to 10).
std::optional<EditInfo> FindEdit(std::string_view word);

// Parses a signed 32-bit decimal number; nothing for anything else.
std::optional<std::int32_t> ParseInt32(std::string_view text);

// One English line saying what a result code means.
std::string_view ResultMeaning(std::int32_t result);

// Whether a result code means the call did what was asked.
bool IsSuccess(std::int32_t result);

}  // namespace tintwell_cli
