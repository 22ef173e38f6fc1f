#include "edit_picture.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "bitmap_layout.h"
#include "edits.h"
#include "file_name.h"
#include "host_messages.h"
#include "input_file.h"
#include "library_call.h"
#include "picture_check.h"
#include "platform.h"
#include "safe_output.h"
#include "shown_name.h"
#include "stream_names.h"
#include "stream_output.h"

namespace tintwell_cli {
namespace {

// Of a stream, what may follow the pixels and still be kept: more is refused.
constexpr std::uint64_t kMostAfterPixels = std::uint64_t{16} << 20;
// The library opens two files: the input and the output.
constexpr int kLibraryDescriptors = 2;
// Bytes after the pixels are copied this much at a time.
constexpr std::size_t kCopyChunk = std::size_t{1} << 20;

Outcome Refusal(const PictureEdit& edit, const std::string& file, Message reason, std::string_view force_note = {}) {
    Outcome outcome;
    outcome.kind = OutcomeKind::kRefused;
    outcome.file = file;
    outcome.reason = std::move(reason);
    outcome.nothing_written = edit.output.has_value();
    outcome.force_note = force_note;
    return outcome;
}

Outcome Failure(const std::string& file, Message reason, OutcomeKind kind = OutcomeKind::kFailed) {
    Outcome outcome;
    outcome.kind = kind;
    outcome.file = file;
    outcome.reason = std::move(reason);
    return outcome;
}

const std::string& FileOfResult(const PictureEdit& edit, std::int32_t result) {
    return result == TINTWELL_RESULT_SAVE_FAILED && edit.output ? *edit.output : edit.input;
}

Outcome LibraryFailure(const PictureEdit& edit, std::int32_t result) {
    return Failure(FileOfResult(edit, result), MessageOf(text::kResultReason, result, ResultMeaning(result)));
}

// Why a descriptor named as a file cannot be used, if it cannot.
std::optional<Message> DescriptorProblem(int fd) {
    if (WasClosedAtStart(fd)) return MessageOf(text::kClosedAtStart, DescriptorWords(fd));
    if (!IsOpenDescriptor(fd)) return MessageOf(text::kDescriptorNotOpen, fd);
    return std::nullopt;
}

// The input as it is to be checked: a file, or the descriptor its name stands for.
std::optional<InputFile> OpenInput(const PictureEdit& edit, Outcome& refused) {
    OpenFailure failure;
    std::optional<InputFile> input;
    if (const std::optional<int> fd = DescriptorNamed(edit.input, false)) {
        if (std::optional<Message> problem = DescriptorProblem(*fd)) {
            refused = Refusal(edit, edit.input, std::move(*problem));
            return std::nullopt;
        }
        input = InputFile::OpenDescriptor(*fd, failure);
    } else {
        input = InputFile::Open(edit.input, failure);
    }
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
    return input;
}

// A stream cannot be checked where it stands: its header is read and
// checked first, then as much as the picture needs (and what follows, up to
// kMostAfterPixels) goes into a private file, which is checked and edited
// like any file. Nothing more than the header is read of a stream refused.
std::optional<InputFile> CaptureStream(const PictureEdit& edit, InputFile& stream, Outcome& refused) {
    const bool writes = edit.output.has_value();
    if (stream.IsTerminal()) {
        refused = Refusal(edit, edit.input, MessageOf(text::kInputTerminal));
        return std::nullopt;
    }
    std::string error;
    const std::optional<std::vector<std::uint8_t>> header = stream.ReadFirstBytes(kPictureHeaderSize, error);
    if (!header) {
        refused = Refusal(edit, edit.input, MessageOf(text::kInputUnreadable, error));
        return std::nullopt;
    }
    // A whole header leaves the length open until the stream has been read.
    const std::uint64_t known_length = header->size() < kPictureHeaderSize ? header->size() : UINT64_MAX;
    if (const std::optional<std::string> refusal = PictureRefusal(*header, known_length)) {
        refused = Refusal(edit, edit.input, MessageOf(text::kNotAPicture, *refusal),
                          writes ? text::kForceEditsUnchecked : text::kForceReadsUnchecked);
        return std::nullopt;
    }
    const korvane::RowLayout layout = korvane::RowLayout::Of(korvane::ParseHeader(*header));
    bool longer = false;
    std::string folder;
    std::optional<InputFile> copy = stream.Capture(layout.FileLength() + kMostAfterPixels, longer, folder, error);
    if (!copy) {
        refused = Refusal(edit, edit.input, MessageOf(text::kNoPrivateCopy, folder, error));
        return std::nullopt;
    }
    if (longer) {
        refused = Refusal(edit, edit.input, MessageOf(text::kStreamTooLong, kMostAfterPixels));
        return std::nullopt;
    }
    return copy;
}

// Checks that the input is a picture the library edits correctly, reading
// a stream into a private file first; its first bytes go to `header`.
std::optional<InputFile> CheckInput(const PictureEdit& edit, InputFile input, std::vector<std::uint8_t>& header,
                                    Outcome& refused) {
    const bool writes = edit.output.has_value();
    if (input.NeedsCopy()) {
        std::optional<InputFile> copy = CaptureStream(edit, input, refused);
        if (!copy) return std::nullopt;
        input = std::move(*copy);
    }
    // Watched from before its header is read: a writer from then on shows.
    input.Watch();
    std::string error;
    std::optional<std::vector<std::uint8_t>> first = input.ReadFirstBytes(kPictureHeaderSize, error);
    if (!first) {
        refused = Refusal(edit, edit.input, MessageOf(text::kInputUnreadable, error));
        return std::nullopt;
    }
    if (const std::optional<std::string> refusal = PictureRefusal(*first, input.size())) {
        refused = Refusal(edit, edit.input, MessageOf(text::kNotAPicture, *refusal),
                          writes ? text::kForceEditsBytes : text::kForceReadsBytes);
        return std::nullopt;
    }
    header = std::move(*first);
    return input;
}

// Where the picture goes: a file (replaced safely), or a descriptor (a stream).
struct Destination {
    std::optional<SafeOutput> file;
    std::optional<StreamOutput> stream;
    int stream_fd = -1;

    std::string LibraryName() const { return stream ? stream->LibraryName() : file->LibraryName(); }
    bool Append(const std::vector<std::uint8_t>& bytes, std::string& error) {
        return stream ? stream->Append(bytes, error) : file->Append(bytes, error);
    }
};

std::optional<Message> OpenStream(int fd, const PictureEdit& edit, const FileIdentity& input, Destination& to) {
    if (IsTerminalDescriptor(fd)) return MessageOf(text::kOutputTerminal);
    if (IdentityOfDescriptor(fd) == input) return MessageOf(text::kStreamLeadsToInput, ShownName(edit.input));
    std::string error;
    to.stream = StreamOutput::Open(fd, error);
    if (!to.stream) return MessageOf(text::kSystemWords, error);
    to.stream_fd = fd;
    return std::nullopt;
}

// The library's messages go to stdout, unless the picture does: then to
// stderr, or nowhere when stderr is where the picture goes too.
LibraryMessages MessagesFor(const Destination& to, const CallOptions& options) {
    if (options.quiet) return LibraryMessages::kDropped;
    if (options.json_report) return LibraryMessages::kOnStderr;
    if (!to.stream) return LibraryMessages::kOnStdout;
    const std::optional<FileIdentity> picture = IdentityOfDescriptor(to.stream_fd);
    if (picture != IdentityOfDescriptor(1)) return LibraryMessages::kOnStdout;
    return picture == IdentityOfDescriptor(2) ? LibraryMessages::kDropped : LibraryMessages::kOnStderr;
}

// Whether the library can open what it is handed; why not, if it cannot.
std::optional<Message> LibraryCannotOpen() {
    if (!HeldFilesHaveNames()) return MessageOf(text::kNoProc);
    if (!HasFreeDescriptors(kLibraryDescriptors)) return MessageOf(text::kOutOfDescriptors, kLibraryDescriptors);
    return std::nullopt;
}

// Whether the input changed while the library read it: its header as the
// library copied it (exactly what a rewritten header shows), then its size,
// the writes to it and its times.
bool InputChanged(const InputFile& input, const std::vector<std::uint8_t>& checked_header,
                  const std::optional<std::vector<std::uint8_t>>& written_header) {
    // A library that wrote no whole header rewrote nothing it read.
    if (written_header && written_header->size() == checked_header.size() && *written_header != checked_header) {
        return true;
    }
    return input.ChangedSinceWatch();
}

// Copies the bytes after the pixel rows to the output unchanged, so that it
// is as long as the input.
std::optional<std::string> KeepBytesAfterPixels(const InputFile& input, const std::vector<std::uint8_t>& header,
                                                Destination& to) {
    const korvane::ByteRange after =
        korvane::RowLayout::Of(korvane::ParseHeader(header)).BytesAfterRows(input.size());
    std::string error;
    for (std::uint64_t at = after.first; at < after.end; at += kCopyChunk) {
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(kCopyChunk, after.end - at));
        const std::optional<std::vector<std::uint8_t>> bytes = input.ReadAt(at, count, error);
        if (!bytes || !to.Append(*bytes, error)) return error;
    }
    return std::nullopt;
}

// A picture written to a stream cannot be taken back: what reached it is said.
Outcome FinishStream(const PictureEdit& edit, const CallOptions& options, std::int32_t result, InputFile& input,
                     const std::vector<std::uint8_t>& header, Destination& to) {
    const bool succeeded = result == TINTWELL_RESULT_WRITTEN;
    std::optional<std::string> error;
    if (succeeded && options.check) error = KeepBytesAfterPixels(input, header, to);
    const StreamOutput::Delivered delivered = to.stream->Finish();
    if (!error) error = delivered.error;
    const std::string& output = *edit.output;
    if (!succeeded) {
        const Message reason = MessageOf(text::kResultReason, result, ResultMeaning(result));
        return Failure(FileOfResult(edit, result), MessageOf(text::kStreamPartial, reason.Text(), delivered.bytes));
    }
    if (error) {
        const Message reason = MessageOf(text::kStreamWriteFailed, *error);
        return Failure(output, MessageOf(text::kStreamPartial, reason.Text(), delivered.bytes));
    }
    if (options.check && InputChanged(input, header, delivered.first_bytes)) {
        return Failure(edit.input, MessageOf(text::kInputChangedStream), OutcomeKind::kInputChanged);
    }
    return {};
}

// A file is replaced only when the edit succeeded and the input did not
// change meanwhile, with the bytes after the pixels kept.
Outcome FinishFile(const PictureEdit& edit, const CallOptions& options, std::int32_t result, InputFile& input,
                   std::uint64_t checked_size, const std::vector<std::uint8_t>& header, Destination& to) {
    SafeOutput& output = *to.file;
    if (result != TINTWELL_RESULT_WRITTEN) {
        Outcome failure = LibraryFailure(edit, result);
        if (result == TINTWELL_RESULT_SAVE_FAILED) {
            if (std::optional<std::string> cause = output.ShortOfRoom(checked_size)) {
                failure.reason = MessageOf(text::kResultWithCause, result, ResultMeaning(result), *cause);
            }
        }
        return failure;
    }
    if (options.check) {
        if (InputChanged(input, header, output.ReadFirstBytes(header.size()))) {
            Outcome changed = Refusal(edit, edit.input, MessageOf(text::kInputChanged));
            changed.kind = OutcomeKind::kInputChanged;
            return changed;
        }
        if (std::optional<std::string> error = KeepBytesAfterPixels(input, header, to)) {
            return Refusal(edit, *edit.output, MessageOf(text::kBytesAfterPixelsLost, *error));
        }
    }
    // The replacement may delete the replaced file, which may be this very input.
    input.Close();
    Outcome outcome;
    if (output.IsReplaced()) {
        SafeOutput::Committed committed = output.Commit(options.sync);
        if (committed.failure) return Refusal(edit, *edit.output, std::move(*committed.failure));
        outcome.file = *edit.output;
        outcome.remarks = std::move(committed.remarks);
        // Written, but --sync was asked for and not done: that is no success.
        if (!committed.durable) outcome.kind = OutcomeKind::kFailed;
    }
    return outcome;
}

}  // namespace

Outcome EditPicture(TintwellEntry entry, const PictureEdit& edit, const CallOptions& options) {
    // A descriptor named as the output is looked at before anything is
    // opened, so that no file of ours takes its number.
    const int output_fd = edit.output ? DescriptorNamed(*edit.output, true).value_or(-1) : -1;
    if (output_fd >= 0) {
        if (std::optional<Message> problem = DescriptorProblem(output_fd)) {
            return Refusal(edit, *edit.output, std::move(*problem));
        }
    }
    Outcome refused;
    std::optional<InputFile> input = OpenInput(edit, refused);
    if (!input) return refused;
    const FileIdentity identity = input->Identity();
    std::vector<std::uint8_t> header;
    if (options.check) {
        input = CheckInput(edit, std::move(*input), header, refused);
        if (!input) return refused;
    }
    const std::uint64_t checked_size = input->size();
    Destination to;
    if (output_fd >= 0) {
        if (std::optional<Message> problem = OpenStream(output_fd, edit, identity, to)) {
            return Refusal(edit, *edit.output, std::move(*problem));
        }
    } else if (edit.output) {
        Message problem;
        to.file = SafeOutput::Prepare(*edit.output, checked_size, problem);
        if (!to.file) return Refusal(edit, *edit.output, std::move(problem));
    }
    if (std::optional<Message> problem = LibraryCannotOpen()) return Refusal(edit, edit.input, std::move(*problem));
    const std::int32_t result =
        CallLibrary(entry, input->LibraryName(edit.input), edit.output ? std::optional(to.LibraryName()) : std::nullopt,
                    edit.amount, edit.function, MessagesFor(to, options));
    Outcome outcome;
    if (to.stream) {
        outcome = FinishStream(edit, options, result, *input, header, to);
    } else if (to.file) {
        outcome = FinishFile(edit, options, result, *input, checked_size, header, to);
    } else if (!IsSuccess(result)) {
        outcome = LibraryFailure(edit, result);
    }
    outcome.result = result;
    return outcome;
}

Outcome CallWithNames(TintwellEntry entry, const PictureEdit& edit, const CallOptions& options) {
    const std::int32_t result = CallLibrary(entry, edit.input, edit.output, edit.amount, edit.function,
                                            MessagesFor(Destination{}, options));
    Outcome outcome = IsSuccess(result) ? Outcome{} : LibraryFailure(edit, result);
    outcome.result = result;
    return outcome;
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
