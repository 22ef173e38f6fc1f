// What the page asks of the C++ besides Tintwell itself: the host's picture
// check, its table of edits, the meaning of each result code, and the
// host's editing of the other kinds of BMP file through a 24-bit copy,
// compiled from the very sources the command-line host uses.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <emscripten/emscripten.h>

#include "bitmap_layout.h"
#include "descriptor_linux.h"
#include "edit_variant.h"
#include "edits.h"
#include "host_messages.h"
#include "input_file.h"
#include "korvane/tintwell.h"
#include "picture_check.h"
#include "picture_plan.h"
#include "utf16.h"

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

std::string JsonField(std::string_view name, std::string_view value) {
    return JsonString(name) + ":" + JsonString(value);
}

// The in-memory file system grows a file to the size the page last said
// (web/engine_hooks.js): before each file is written, its size.
void ExpectFileSize(std::uint64_t bytes) {
// EM_ASM names its arguments $0, $1...
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdollar-in-identifier-extension"
    EM_ASM({ Module["expectFileSize"]($0); }, static_cast<double>(bytes));
#pragma clang diagnostic pop
}

// The size of the library's 24-bit copy, and of its edit.
std::uint64_t StageFileSize(const korvane::BitmapVariant& variant, tintwell_cli::StageKind kind) {
    const tintwell_cli::StageSize size = tintwell_cli::StageSizeOf(variant, kind);
    return korvane::RowLayout::Of(korvane::BitmapVariant::StageHeader(size.width, size.rows)).FileLength();
}

// Calls the library on two files named in UTF-8; its messages go to stdout.
std::int32_t CallTintwell(const std::string& input, const std::string& output, std::int32_t amount,
                          std::int32_t function) {
    const std::u16string input16 = tintwell_cli::Utf8ToUtf16(input).value_or(u"");
    const std::u16string output16 = tintwell_cli::Utf8ToUtf16(output).value_or(u"");
    const std::int32_t result = Tintwell(input16.c_str(), output16.c_str(), amount, function);
    std::fflush(stdout);
    return result;
}

// Writes the picture in its own kind to `output` from the library's edit
// of the copy; nothing, or why not.
std::optional<std::string> WritePutBack(const korvane::BitmapVariant& variant, tintwell_cli::StageKind kind,
                                        const tintwell_cli::InputFile& input, const korvane::KeptBits& kept,
                                        const tintwell_cli::InputFile& edited, const std::string& output) {
    ExpectFileSize(input.size());
    const tintwell_cli::Descriptor file(::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!file.valid()) return tintwell_cli::ErrnoWords(errno);
    const tintwell_cli::Appender append = [&file](std::span<const std::uint8_t> bytes, std::string& error) {
        if (tintwell_cli::WriteAll(file.get(), bytes.data(), bytes.size())) return true;
        error = tintwell_cli::ErrnoWords(errno);
        return false;
    };
    std::optional<std::string> error = tintwell_cli::PutBack(variant, kind, input, kept, edited, append);
    if (error) ::unlink(output.c_str());
    return error;
}

// One edit of a BMP file of another kind, as the host makes it: the
// library edits a 24-bit copy of its pixels or palette, and the edit is put
// back into the picture's own kind; noise on a paletted picture is written
// as a 24-bit picture (the host's --to-24-bit). As JSON: {"result", "remark",
// "as_24_bit"}, or {"refusal"} when the library was not called.
std::string EditKept(const std::string& input_name, const std::string& output_name, std::int32_t amount,
                     std::int32_t function) {
    using tintwell_cli::StageKind;
    tintwell_cli::OpenFailure failure;
    std::optional<tintwell_cli::InputFile> input = tintwell_cli::InputFile::Open(input_name, failure);
    if (!input) return "{" + JsonField("refusal", failure.error) + "}";
    const bool expand = function == TINTWELL_FUNCTION_NOISE;
    tintwell_cli::PicturePlan plan = tintwell_cli::PlanPicture(*input, function, expand);
    if (plan.refusal || !plan.variant) {
        return "{" + JsonField("refusal", plan.refusal ? plan.refusal->Text() : "the library reads it as it is") + "}";
    }
    const korvane::BitmapVariant& variant = *plan.variant;
    const StageKind kind = tintwell_cli::StageKindOf(variant, expand);
    tintwell_cli::Message problem;
    ExpectFileSize(StageFileSize(variant, kind));
    korvane::KeptBits kept(variant);
    std::optional<tintwell_cli::InputFile> stage = tintwell_cli::MakeStage(variant, kind, *input, kept, problem);
    if (!stage) return "{" + JsonField("refusal", problem.Text()) + "}";
    // The library writes its edit into a private file, from which the
    // picture is written in its own kind (as the host does on Windows); a
    // 24-bit picture written instead is the library's output itself.
    std::optional<tintwell_cli::InputFile> edited;
    if (kind != StageKind::kExpanded) {
        std::string folder;
        std::string error;
        edited = tintwell_cli::InputFile::Scratch(folder, error);
        if (!edited) return "{" + JsonField("refusal", tintwell_cli::MessageOf(tintwell_cli::text::kNoStage, folder, error).Text()) + "}";
    }
    const std::int32_t result = CallTintwell(stage->LibraryName(input_name),
                                             edited ? edited->LibraryName(output_name) : output_name, amount, function);
    std::optional<std::string> put_back_error;
    if (result == TINTWELL_RESULT_WRITTEN && edited) {
        put_back_error = WritePutBack(variant, kind, *input, kept, *edited, output_name);
    }
    std::string json = "{\"result\":" + std::to_string(result) + "," +
                       JsonField("remark", StageRemark(variant, kind, result != TINTWELL_RESULT_EXITED).Text()) +
                       ",\"as_24_bit\":" + (kind == StageKind::kExpanded ? "true" : "false");
    if (put_back_error) json += "," + JsonField("put_back_error", *put_back_error);
    return json + "}";
}

// What the picture is, as JSON: {"bits", "info_size", "compression",
// "palette", "top_down"} of a kind the host keeps, {"refusal", "hint"} of
// one it refuses, or {} for the library's own layout.
std::string PlanOf(const std::string& name) {
    tintwell_cli::OpenFailure failure;
    std::optional<tintwell_cli::InputFile> input = tintwell_cli::InputFile::Open(name, failure);
    if (!input) return "{" + JsonField("refusal", failure.error) + "}";
    const tintwell_cli::PicturePlan plan = tintwell_cli::PlanPicture(*input, TINTWELL_FUNCTION_COPY, false);
    if (plan.refusal) return "{" + JsonField("refusal", plan.refusal->Text()) + "," + JsonField("hint", plan.hint) + "}";
    if (!plan.variant) return "{}";
    const korvane::BitmapVariant& variant = *plan.variant;
    return "{\"bits\":" + std::to_string(variant.bits) + ",\"info_size\":" + std::to_string(variant.info_size) +
           ",\"compression\":" + std::to_string(variant.compression) +
           ",\"palette\":" + std::to_string(variant.Paletted() ? variant.palette_entries : 0) +
           ",\"top_down\":" + (variant.top_down ? "true" : "false") + "}";
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

// What the host makes of the BMP file at `name` (UTF-8) in the page's
// files: a kind it keeps, or why it refuses it (PlanOf's JSON).
EMSCRIPTEN_KEEPALIVE const char* TintwellPagePlan(const char* name) { return Returned(PlanOf(name)); }

// Edits the BMP file of another kind at `input` into `output` (UTF-8
// names) as the host does, keeping its kind (EditKept's JSON).
EMSCRIPTEN_KEEPALIVE const char* TintwellPageEditKept(const char* input, const char* output, std::int32_t amount,
                                                      std::int32_t function) {
    return Returned(EditKept(input, output, amount, function));
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
