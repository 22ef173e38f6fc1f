#include "report.h"

#include <cstdio>
#include <optional>

#include "host_messages.h"
#include "shown_name.h"

namespace tintwell_cli {
namespace {

std::string_view RefusalFormat(const Outcome& outcome) {
    if (outcome.hint.empty()) {
        return outcome.nothing_written ? text::kRefusedNothingWrittenLine : text::kRefusedLine;
    }
    return outcome.nothing_written ? text::kRefusedNothingWrittenHintLine : text::kRefusedHintLine;
}

std::string_view KindName(OutcomeKind kind) {
    switch (kind) {
    case OutcomeKind::kSucceeded: return "succeeded";
    case OutcomeKind::kRefused: return "refused";
    case OutcomeKind::kFailed: return "failed";
    case OutcomeKind::kInputChanged: return "input-changed";
    }
    return "failed";
}

// A JSON string: quotes, backslashes and control characters escaped, the
// rest (valid UTF-8, as every name the host takes is) as it is.
std::string JsonString(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20 || byte == 0x7f) {
            quoted += "\\u00";
            quoted += kHex[byte >> 4];
            quoted += kHex[byte & 0xf];
        } else {
            quoted += c;
        }
    }
    return quoted + '"';
}

std::string JsonOrNull(const std::optional<std::string>& text) { return text ? JsonString(*text) : "null"; }

std::string PictureJson(const std::optional<PictureFacts>& picture) {
    if (!picture) return "null";
    return "{\"width\":" + std::to_string(picture->width) + ",\"height\":" + std::to_string(picture->height) +
           ",\"bits_per_pixel\":" + std::to_string(picture->bits_per_pixel) +
           ",\"file_size\":" + std::to_string(picture->file_size) +
           ",\"through_copy\":" + (picture->through_copy ? "true" : "false") + "}";
}

}  // namespace

std::string LinesOf(const Outcome& outcome) {
    std::string lines;
    const std::string file = ShownName(outcome.file);
    for (const Message& remark : outcome.remarks) lines += Format(text::kFileRemarkLine, file, remark.Text()) + "\n";
    if (outcome.reason) {
        lines += Format(RefusalFormat(outcome), file, outcome.reason->Text(), Format(outcome.hint)) + "\n";
    }
    return lines;
}

void Report(const Outcome& outcome, std::FILE* answer_stream) {
    if (outcome.answer) {
        Write(answer_stream, Format(text::kReadAnswerLine, ShownName(outcome.file), outcome.answer->Text()) + "\n");
    }
    Write(stderr, LinesOf(outcome));
}

std::string JsonOf(const Outcome& outcome, const PictureEdit& edit) {
    // The lines themselves: with the report, the host speaks English.
    std::optional<std::string> message = LinesOf(outcome);
    if (message->empty()) {
        message.reset();
    } else {
        message->pop_back();  // the last line's newline
    }
    const std::optional<std::string> reason =
        outcome.reason ? std::optional(outcome.reason->Text()) : std::nullopt;
    return "{\"input\":" + JsonString(edit.input) + ",\"output\":" + JsonOrNull(edit.output) +
           ",\"file\":" + JsonString(outcome.file.empty() ? edit.output.value_or(edit.input) : outcome.file) +
           ",\"kind\":" + JsonString(KindName(outcome.kind)) +
           ",\"result\":" + (outcome.result ? std::to_string(*outcome.result) : "null") +
           ",\"exit_status\":" + std::to_string(outcome.ExitStatus()) + ",\"message\":" + JsonOrNull(message) +
           ",\"reason\":" + JsonOrNull(reason) + ",\"picture\":" + PictureJson(outcome.picture) + "}";
}

void ReportPicture(const Outcome& outcome, const PictureEdit& edit, const CallOptions& options) {
    // With the report, stdout carries JSON alone: what read found joins the host's lines.
    Report(outcome, options.json_report ? stderr : stdout);
    if (options.json_report) {
        Write(stdout, JsonOf(outcome, edit) + "\n");
        std::fflush(stdout);
    }
}

void ReportError(const Message& message) { Write(stderr, Format(text::kErrorLine, message.Text()) + "\n"); }

void ReportWarning(const Message& message) { Write(stderr, Format(text::kWarningLine, message.Text()) + "\n"); }

int ReportUsageError(const Message& problem) {
    Write(stderr, Format(text::kUsageLine, problem.Text()) + "\n");
    return kExitUsage;
}

void Say(const Message& message) { Write(stdout, message.Text() + "\n"); }

void Write(std::FILE* stream, std::string_view text) { std::fwrite(text.data(), 1, text.size(), stream); }

void FlushOutput() {
    std::fflush(stdout);
    std::fflush(stderr);
}

}  // namespace tintwell_cli
