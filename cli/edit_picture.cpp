#include "edit_picture.h"

#include <optional>
#include <string>
#include <utility>

#include "edits.h"
#include "file_name.h"
#include "host_messages.h"
#include "input_file.h"
#include "library_call.h"
#include "picture_check.h"
#include "safe_output.h"

namespace tintwell_cli {
namespace {

std::string_view KindWords(FileKind kind) {
    switch (kind) {
    case FileKind::kPipe: return text::kKindPipe;
    case FileKind::kCharacterDevice: return text::kKindCharacterDevice;
    case FileKind::kBlockDevice: return text::kKindBlockDevice;
    case FileKind::kSocket: return text::kKindSocket;
    case FileKind::kDirectory: return text::kKindDirectory;
    default: return text::kKindOther;
    }
}

Outcome Refusal(const PictureEdit& edit, const std::string& file, Message reason, std::string_view force_note = {}) {
    Outcome outcome;
    outcome.kind = OutcomeKind::kRefused;
    outcome.file = file;
    outcome.reason = std::move(reason);
    outcome.nothing_written = edit.output.has_value();
    outcome.force_note = force_note;
    return outcome;
}

Outcome LibraryFailure(const PictureEdit& edit, std::int32_t result) {
    Outcome outcome;
    outcome.kind = OutcomeKind::kFailed;
    const bool about_output = result == TINTWELL_RESULT_SAVE_FAILED && edit.output;
    outcome.file = about_output ? *edit.output : edit.input;
    outcome.reason = MessageOf(text::kResultReason, result, ResultMeaning(result));
    return outcome;
}

// Opens the input and, unless told not to, checks that it is a picture the
// library edits correctly: nothing and the refusal when it is not.
std::optional<InputFile> OpenInput(const PictureEdit& edit, const CallOptions& options, Outcome& refused) {
    const bool writes = edit.output.has_value();
    OpenFailure failure;
    std::optional<InputFile> input = InputFile::Open(edit.input, failure);
    if (!input) {
        refused = Refusal(edit, edit.input,
                          failure.permission_denied ? MessageOf(text::kInputNotReadable)
                                                    : MessageOf(text::kSystemWords, failure.error));
        return std::nullopt;
    }
    if (input->kind() == FileKind::kDirectory) {
        refused = Refusal(edit, edit.input, MessageOf(text::kInputIsDirectory));
        return std::nullopt;
    }
    if (!options.check) return input;
    if (input->kind() != FileKind::kRegular) {
        refused = Refusal(edit, edit.input, MessageOf(text::kInputNotRegular, KindWords(input->kind())),
                          writes ? text::kForceEditsUnchecked : text::kForceReadsUnchecked);
        return std::nullopt;
    }
    std::string error;
    const std::optional<std::vector<std::uint8_t>> header = input->ReadFirstBytes(kPictureHeaderSize, error);
    if (!header) {
        refused = Refusal(edit, edit.input, MessageOf(text::kInputUnreadable, error));
        return std::nullopt;
    }
    if (const std::optional<std::string> refusal = PictureRefusal(*header, input->size())) {
        refused = Refusal(edit, edit.input, MessageOf(text::kNotAPicture, *refusal),
                          writes ? text::kForceEditsBytes : text::kForceReadsBytes);
        return std::nullopt;
    }
    return input;
}

}  // namespace

Outcome EditPicture(TintwellEntry entry, const PictureEdit& edit, const CallOptions& options) {
    Outcome outcome;
    std::optional<InputFile> input = OpenInput(edit, options, outcome);
    if (!input) return outcome;
    std::optional<SafeOutput> output;
    if (edit.output) {
        Message problem;
        output = SafeOutput::Prepare(*edit.output, input->size(), problem);
        if (!output) return Refusal(edit, *edit.output, std::move(problem));
    }
    const std::int32_t result =
        CallLibrary(entry, input->LibraryName(edit.input), output ? std::optional(output->LibraryName()) : std::nullopt,
                    edit.amount, edit.function, options.quiet);
    // The replacement may delete the replaced file, which may be this very input.
    input->Close();
    const bool succeeded = output ? result == TINTWELL_RESULT_WRITTEN : IsSuccess(result);
    if (!succeeded) return LibraryFailure(edit, result);
    if (output && output->IsReplaced()) {
        if (std::optional<Message> failure = output->Commit(options.sync, outcome.remarks)) {
            return Refusal(edit, *edit.output, std::move(*failure));
        }
        outcome.file = *edit.output;
    }
    return outcome;
}

Outcome CallWithNames(TintwellEntry entry, const PictureEdit& edit, const CallOptions& options) {
    const std::int32_t result = CallLibrary(entry, edit.input, edit.output, edit.amount, edit.function, options.quiet);
    if (IsSuccess(result)) return {};
    return LibraryFailure(edit, result);
}

std::vector<Message> NameWarnings(const PictureEdit& edit) {
    std::vector<Message> warnings;
    for (const std::optional<std::string>& name : {std::optional(edit.input), edit.output}) {
        if (name && name->size() >= korvane::kFileNameCapacity) {
            warnings.push_back(MessageOf(text::kNameTooLong, *name, name->size(), korvane::kFileNameCapacity - 1));
        }
    }
    return warnings;
}

}  // namespace tintwell_cli
