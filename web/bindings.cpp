// What the page asks of the C++ besides Tintwell itself: the host's picture
// check, its table of edits and the meaning of each result code, compiled
// from the very sources the command-line host uses.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <emscripten/emscripten.h>

#include "edits.h"
#include "picture_check.h"

namespace {

// Returned strings live here until the next call; the page copies them at once.
std::string returned_text;

const char* Returned(std::string text) {
    returned_text = std::move(text);
    return returned_text.c_str();
}

// The edit names and summaries are plain words: quotes and backslashes are
// the only characters that need escaping in them.
std::string JsonString(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

extern "C" {

// Why the file is not a picture the library edits correctly, or "" when it
// is one. `first_bytes` holds the file's first `count` bytes; the size comes
// as a double, which holds every file size a page can load exactly.
EMSCRIPTEN_KEEPALIVE const char* TintwellPageRefusal(const std::uint8_t* first_bytes, std::size_t count,
                                                     double file_size) {
    const std::optional<std::string> refusal =
        tintwell_cli::PictureRefusal({first_bytes, count}, static_cast<std::uint64_t>(file_size));
    return Returned(refusal.value_or(""));
}

// The edits that write a picture, as a JSON array of
// {"name", "function", "amount", "summary"} in function-number order.
EMSCRIPTEN_KEEPALIVE const char* TintwellPageEdits() {
    std::string json = "[";
    for (const tintwell_cli::EditInfo& edit : tintwell_cli::AllEdits()) {
        if (!edit.writes_output) continue;
        if (json.size() > 1) json += ",";
        json += "{\"name\":" + JsonString(edit.name) + ",\"function\":" + std::to_string(edit.function) +
                ",\"amount\":" + (edit.needs_amount() ? "true" : "false") + ",\"summary\":" +
                JsonString(edit.summary) + "}";
    }
    return Returned(json + "]");
}

// What the amount does instead where it does not act as it reads, for the
// edit with this function number ("amount 300 acts as 44 ..."), or "".
EMSCRIPTEN_KEEPALIVE const char* TintwellPageAmountWarning(std::int32_t function, std::int32_t amount) {
    const std::optional<tintwell_cli::EditInfo> edit = tintwell_cli::FindEdit(std::to_string(function));
    if (!edit) return Returned("");
    return Returned(tintwell_cli::AmountWarning(*edit, amount).value_or(""));
}

// One English line saying what a result code means.
EMSCRIPTEN_KEEPALIVE const char* TintwellPageResultMeaning(std::int32_t result) {
    return Returned(std::string(tintwell_cli::ResultMeaning(result)));
}

// Whether the result code means the call did what was asked.
EMSCRIPTEN_KEEPALIVE int TintwellPageSucceeded(std::int32_t result) {
    return tintwell_cli::IsSuccess(result) ? 1 : 0;
}

}  // extern "C"
