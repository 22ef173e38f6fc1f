#include "edit_picture.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "bitmap_layout.h"
#include "edit_variant.h"
#include "edits.h"
#include "file_name.h"
#include "host_messages.h"
#include "input_file.h"
#include "language.h"
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

Outcome Refusal(const PictureEdit& edit, const std::string& file, Message reason, std::string_view hint = {}) {
    Outcome outcome;
    outcome.kind = OutcomeKind::kRefused;
    outcome.file = file;
    outcome.reason = std::move(reason);
    outcome.nothing_written = edit.output.has_value();
    outcome.hint = hint;
    return outcome;
}

Outcome Failure(const std::string& file, Message reason, OutcomeKind kind = OutcomeKind::kFailed) {
    Outcome outcome;
    outcome.kind = kind;
    outcome.file = file;
    outcome.reason = std::move(reason);
    return outcome;
}

std::string_view MeaningOf(std::int32_t result) { return Translated(ResultMeaning(result)); }

const std::string& FileOfResult(const PictureEdit& edit, std::int32_t result) {
    return result == TINTWELL_RESULT_SAVE_FAILED && edit.output ? *edit.output : edit.input;
}

Outcome LibraryFailure(const PictureEdit& edit, std::int32_t result) {
    return Failure(FileOfResult(edit, result), MessageOf(text::kResultReason, result, MeaningOf(result)));
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

// The file's first bytes: its 54-byte header, and what follows it up to
// its pixels (other headers, masks, a palette), as far as the layout needs.
std::optional<std::vector<std::uint8_t>> ReadHead(InputFile& input, std::string& error) {
    const std::optional<std::vector<std::uint8_t>> first = input.ReadFirstBytes(kPictureHeaderSize, error);
    if (!first) return std::nullopt;
    return input.ReadFirstBytes(korvane::HeadBytesNeeded(*first), error);
}

// The most bytes a picture of this kind can take, its header included.
std::uint64_t MostPictureBytes(const korvane::BitmapVariant& variant) {
    if (!variant.Rle()) return variant.RowsEnd();
    // Each pixel at most 2 bytes (a run of one), each row 2 more (its end);
    // the product fits in 64 bits: a row's pixels and the rows fit in 32 each.
    const std::uint64_t row_codes = variant.row_stride * 8 / variant.bits * 2 + 2;
    return variant.pixel_offset + row_codes * variant.rows + 2;
}

// A stream cannot be checked where it stands: its header is read and
// checked first, then as much as the picture needs (and what follows, up to
// kMostAfterPixels) goes into a private file, which is checked and edited
// like any file. Nothing more than the header is read of a stream refused.
std::optional<InputFile> CaptureStream(const PictureEdit& edit, InputFile& stream, Outcome& refused) {
    if (stream.IsTerminal()) {
        refused = Refusal(edit, edit.input, MessageOf(text::kInputTerminal));
        return std::nullopt;
    }
    std::string error;
    const std::optional<std::vector<std::uint8_t>> head = ReadHead(stream, error);
    if (!head) {
        refused = Refusal(edit, edit.input, MessageOf(text::kInputUnreadable, error));
        return std::nullopt;
    }
    // A whole header leaves the length open until the stream has been read.
    const std::uint64_t known_length = head->size() < kPictureHeaderSize ? head->size() : UINT64_MAX;
    const PictureVerdict verdict = CheckPicture(*head, known_length);
    if (verdict.refusal) {
        refused = Refusal(edit, edit.input, MessageOf(text::kNotAPicture, *verdict.refusal), text::kConvertHint);
        return std::nullopt;
    }
    const std::uint64_t picture_bytes =
        verdict.variant ? MostPictureBytes(*verdict.variant)
                        : korvane::RowLayout::Of(korvane::ParseHeader(*head)).FileLength();
    bool longer = false;
    std::string folder;
    std::optional<InputFile> copy = stream.Capture(picture_bytes + kMostAfterPixels, longer, folder, error);
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

// Checks that the input is a picture the library edits correctly, or one
// the host adapts around it (`variant`), reading a stream into a private
// file first; its first 54 bytes go to `header`.
std::optional<InputFile> CheckInput(const PictureEdit& edit, const CallOptions& options, InputFile input,
                                    std::vector<std::uint8_t>& header,
                                    std::optional<korvane::BitmapVariant>& variant, Outcome& refused) {
    if (input.NeedsCopy()) {
        std::optional<InputFile> copy = CaptureStream(edit, input, refused);
        if (!copy) return std::nullopt;
        input = std::move(*copy);
    }
    // Watched from before its header is read: a writer from then on shows.
    input.Watch();
    std::string error;
    std::optional<std::vector<std::uint8_t>> head = ReadHead(input, error);
    if (!head) {
        refused = Refusal(edit, edit.input, MessageOf(text::kInputUnreadable, error));
        return std::nullopt;
    }
    PictureVerdict verdict = CheckPicture(*head, input.size());
    if (verdict.refusal) {
        refused = Refusal(edit, edit.input, MessageOf(text::kNotAPicture, *verdict.refusal), text::kConvertHint);
        return std::nullopt;
    }
    if (verdict.variant && verdict.variant->Rle()) {
        if (std::optional<Message> damaged = RleProblem(*verdict.variant, input)) {
            refused = Refusal(edit, edit.input, std::move(*damaged), text::kConvertHint);
            return std::nullopt;
        }
    }
    // Noise gives each pixel a colour of its own: a palette cannot hold that.
    if (verdict.variant && verdict.variant->Paletted() && edit.function == TINTWELL_FUNCTION_NOISE && !options.to_24_bit) {
        refused = Refusal(edit, edit.input, MessageOf(text::kNoiseInPalette, verdict.variant->palette_entries),
                          text::kNoiseHint);
        return std::nullopt;
    }
    // Written as a 24-bit picture, a palette's picture must fit the library's
    // one buffer like any other; checked before a byte of it is staged.
    if (verdict.variant && verdict.variant->Paletted() && options.to_24_bit && !verdict.variant->FitsAs24Bit()) {
        refused = Refusal(edit, edit.input,
                          MessageOf(text::kNotAPicture, Format(text::kTooManyStaged, korvane::kMostPixelBytes)),
                          text::kConvertHint);
        return std::nullopt;
    }
    head->resize(std::min(head->size(), kPictureHeaderSize));
    header = std::move(*head);
    variant = std::move(verdict.variant);
    return input;
}

// Where the picture goes: a file (replaced safely), or a descriptor (a stream).
struct Destination {
    std::optional<SafeOutput> file;
    std::optional<StreamOutput> stream;
    int stream_fd = -1;

    std::string LibraryName() const { return stream ? stream->LibraryName() : file->LibraryName(); }
    bool Append(std::span<const std::uint8_t> bytes, std::string& error) {
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

LibraryWording WordingFor(const CallOptions& options) {
    return options.library_text ? LibraryWording::kAsPrinted : LibraryWording::kUsersLanguage;
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
bool InputChanged(InputFile& input, const std::vector<std::uint8_t>& checked_header,
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

// What the host did to the output after the library wrote: bytes after
// the pixels still to be kept, or a variant put back (and how that went).
struct Completion {
    bool keep_after = true;
    std::optional<std::string> put_back_error;
};

// A picture written to a stream cannot be taken back: what reached it is said.
Outcome FinishStream(const PictureEdit& edit, const CallOptions& options, std::int32_t result, InputFile& input,
                     const std::vector<std::uint8_t>& header, Destination& to, const Completion& completion) {
    const bool succeeded = result == TINTWELL_RESULT_WRITTEN;
    std::optional<std::string> error = completion.put_back_error;
    if (succeeded && options.check && completion.keep_after) error = KeepBytesAfterPixels(input, header, to);
    const StreamOutput::Delivered delivered = to.stream->Finish();
    if (!error) error = delivered.error;
    const std::string& output = *edit.output;
    if (!succeeded) {
        const Message reason = MessageOf(text::kResultReason, result, MeaningOf(result));
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
                   std::uint64_t checked_size, const std::vector<std::uint8_t>& header, Destination& to,
                   const Completion& completion) {
    SafeOutput& output = *to.file;
    if (result != TINTWELL_RESULT_WRITTEN) {
        Outcome failure = LibraryFailure(edit, result);
        if (result == TINTWELL_RESULT_SAVE_FAILED) {
            if (std::optional<std::string> cause = output.ShortOfRoom(checked_size)) {
                failure.reason = MessageOf(text::kResultWithCause, result, MeaningOf(result), *cause);
            }
        }
        return failure;
    }
    if (completion.put_back_error) {
        return Refusal(edit, *edit.output, MessageOf(text::kNotPutBack, *completion.put_back_error));
    }
    if (options.check) {
        if (InputChanged(input, header, output.ReadFirstBytes(header.size()))) {
            Outcome changed = Refusal(edit, edit.input, MessageOf(text::kInputChanged));
            changed.kind = OutcomeKind::kInputChanged;
            return changed;
        }
        std::optional<std::string> error;
        if (completion.keep_after) error = KeepBytesAfterPixels(input, header, to);
        if (error) {
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

Outcome Finish(const PictureEdit& edit, const CallOptions& options, std::int32_t result, InputFile& input,
               std::uint64_t checked_size, const std::vector<std::uint8_t>& header, Destination& to,
               const Completion& completion) {
    if (to.stream) return FinishStream(edit, options, result, input, header, to, completion);
    if (to.file) return FinishFile(edit, options, result, input, checked_size, header, to, completion);
    if (!IsSuccess(result)) return LibraryFailure(edit, result);
    return {};
}

// Another kind of BMP file: the library edits a 24-bit copy of its pixels
// or its palette, and the host puts the edit back into the picture's own
// kind; or, with --to-24-bit, the library writes a 24-bit picture of it.
Outcome EditVariant(TintwellEntry entry, const PictureEdit& edit, const CallOptions& options,
                    const korvane::BitmapVariant& variant, InputFile& input, std::uint64_t checked_size,
                    const std::vector<std::uint8_t>& header, Destination& to) {
    const StageKind kind = StageKindOf(variant, options.to_24_bit);
    Message problem;
    std::optional<InputFile> stage = MakeStage(variant, kind, input, problem);
    if (!stage) return Refusal(edit, edit.input, std::move(problem));
    // The library writes its edit of the copy into another private file,
    // unless the copy is the picture to be written.
    std::optional<InputFile> edited;
    if (edit.output && kind != StageKind::kExpanded) {
        std::string folder;
        std::string error;
        edited = InputFile::Scratch(folder, error);
        if (!edited) return Refusal(edit, edit.input, MessageOf(text::kNoStage, folder, error));
    }
    std::optional<std::string> output_name;
    if (edit.output) output_name = edited ? edited->LibraryName(*edit.output) : to.LibraryName();
    const LibraryMessages messages = MessagesFor(to, options);
    const std::int32_t result =
        CallLibrary(entry, stage->LibraryName(edit.input), output_name, edit.amount, edit.function, messages,
                    WordingFor(options));
    Completion completion{false, std::nullopt};
    if (result == TINTWELL_RESULT_WRITTEN && edited) {
        completion.put_back_error = PutBack(variant, kind, input, *edited,
                                            [&to](std::span<const std::uint8_t> bytes, std::string& error) {
                                                return to.Append(bytes, error);
                                            });
    }
    // The output's first bytes are the input's up to its palette or pixels
    // (an OS/2 file's lie within 54 bytes); a 24-bit picture written
    // instead has a header of its own.
    const std::uint64_t unedited = kind == StageKind::kExpanded ? 0
                                   : kind == StageKind::kPalette ? variant.palette_offset
                                                                 : variant.pixel_offset;
    const std::vector<std::uint8_t> compared(
        header.begin(), header.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(header.size(), unedited)));
    Outcome outcome = Finish(edit, options, result, input, checked_size, compared, to, completion);
    outcome.result = result;
    if (messages != LibraryMessages::kDropped) {
        outcome.remarks.insert(outcome.remarks.begin(), StageRemark(variant, kind, edit.output.has_value()));
    }
    if (outcome.file.empty()) outcome.file = edit.input;
    if (!edit.output && IsSuccess(result)) {
        outcome.answer = MessageOf(text::kReadOtherKind, variant.width, variant.rows, variant.bits, checked_size);
    }
    return outcome;
}

// What read found, in words: the picture, and whether tintwell edits it;
// with --force, why not.
Outcome ReadAnswer(const PictureEdit& edit, InputFile& input) {
    Outcome outcome;
    outcome.file = edit.input;
    std::string error;
    const std::optional<std::vector<std::uint8_t>> first = input.ReadFirstBytes(kPictureHeaderSize, error);
    if (!first) return outcome;
    if (const std::optional<std::string> refusal = PictureRefusal(*first, input.size())) {
        outcome.answer = MessageOf(text::kReadNotEditable, *refusal);
    } else {
        const korvane::BitmapHeader header = korvane::ParseHeader(*first);
        outcome.answer = MessageOf(text::kReadEditable, header.biWidth, header.biHeight, input.size());
    }
    return outcome;
}

// What the check found the input to be.
PictureFacts FactsOf(const std::vector<std::uint8_t>& header, const std::optional<korvane::BitmapVariant>& variant,
                     std::uint64_t file_size) {
    if (variant) return PictureFacts{variant->width, variant->rows, variant->bits, file_size, true};
    const korvane::BitmapHeader parsed = korvane::ParseHeader(header);
    return PictureFacts{parsed.biWidth, parsed.biHeight, parsed.biBitCount, file_size, false};
}

// The edit once the input is open (and checked, unless --force): the
// output prepared, the library called, the output put in place.
Outcome EditOpenInput(TintwellEntry entry, const PictureEdit& edit, const CallOptions& options, int output_fd,
                      const FileIdentity& identity, InputFile& input, const std::vector<std::uint8_t>& header,
                      const std::optional<korvane::BitmapVariant>& variant) {
    const std::uint64_t checked_size = input.size();
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
    if (variant) return EditVariant(entry, edit, options, *variant, input, checked_size, header, to);
    const std::int32_t result =
        CallLibrary(entry, input.LibraryName(edit.input), edit.output ? std::optional(to.LibraryName()) : std::nullopt,
                    edit.amount, edit.function, MessagesFor(to, options), WordingFor(options));
    Outcome outcome = !to.stream && !to.file && IsSuccess(result)
                          ? ReadAnswer(edit, input)
                          : Finish(edit, options, result, input, checked_size, header, to, Completion{});
    outcome.result = result;
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
    std::optional<korvane::BitmapVariant> variant;
    if (!options.check) return EditOpenInput(entry, edit, options, output_fd, identity, *input, header, variant);
    input = CheckInput(edit, options, std::move(*input), header, variant, refused);
    if (!input) return refused;
    const PictureFacts facts = FactsOf(header, variant, input->size());
    Outcome outcome = EditOpenInput(entry, edit, options, output_fd, identity, *input, header, variant);
    outcome.picture = facts;
    return outcome;
}

Outcome CallWithNames(TintwellEntry entry, const PictureEdit& edit, const CallOptions& options) {
    const std::int32_t result = CallLibrary(entry, edit.input, edit.output, edit.amount, edit.function,
                                            MessagesFor(Destination{}, options), LibraryWording::kAsPrinted);
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
