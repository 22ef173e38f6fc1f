// The exported call, step by step: convert the names, read the header and
// the rows, check the function number, open the output, edit and write the
// rows slice by slice, and report each step on stdout.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <utility>

#include "bitmap.h"
#include "file_name.h"
#include "korvane/tintwell.h"
#include "messages.h"
#include "picture_rows.h"
#include "pixel_operations.h"

namespace korvane {
namespace {

// Output attempts before giving up; each failure prints the prompt again.
constexpr int kSaveAttempts = 3;

void Print(const char* message) { std::fputs(message, stdout); }

// Prints the message of the step that ends the call and returns its result.
std::int32_t Finish(const char* message, std::int32_t result) {
    Print(message);
    return result;
}

std::optional<OutputStream> OpenOutput(const char* name) {
    for (int attempt = 0; attempt < kSaveAttempts; ++attempt) {
        Print(messages::kSavePrompt);
        std::optional<OutputStream> output = OutputStream::Open(name);
        if (output) return output;
        Print(messages::kSaveFailure);
    }
    return std::nullopt;
}

// What a valid function number (1 to 9) does to the pixels. The tint edits
// print their own prompts first and run the same pixels as brighten and darken.
OperationKind SetUpEdit(std::int32_t function, std::int32_t amount) {
    switch (function) {
    case TINTWELL_FUNCTION_COPY: return OperationKind::kCopy;
    case TINTWELL_FUNCTION_BRIGHTEN: return OperationKind::kAdd;
    case TINTWELL_FUNCTION_DARKEN: return OperationKind::kSubtract;
    case TINTWELL_FUNCTION_GRAY: return OperationKind::kGray;
    case TINTWELL_FUNCTION_INVERT: return OperationKind::kInvert;
    case TINTWELL_FUNCTION_THRESHOLD: return OperationKind::kThreshold;
    case TINTWELL_FUNCTION_NOISE:
        // A zero bound would divide by zero: it adds nothing and draws nothing.
        return amount == 0 ? OperationKind::kCopy : OperationKind::kNoise;
    case TINTWELL_FUNCTION_TINT_UP:
        Print(messages::kIncreasePrompt);
        std::printf(messages::kEchoFormat, amount, amount, amount);
        return OperationKind::kAdd;
    case TINTWELL_FUNCTION_TINT_DOWN:
        Print(messages::kDecreasePrompt);
        return OperationKind::kSubtract;
    default:
        return OperationKind::kCopy;  // never reached: the number was checked
    }
}

// Writes the header, then edits and writes the rows slice by slice, each
// slice read again just before (when streamed). The output was opened at its
// first byte and every byte is written in order, so each slice lands where
// it lies in the input: when the output is the input itself, under any name,
// each range is read before it is written over. A failed write stops the
// writing but not the editing, so the noise edit draws the same random values
// whatever happens to the disk. A regular file is cut to the picture's length
// only after everything was written: a failure never cuts it.
bool EditAndWrite(OutputStream& output, const BitmapHeader& header, PictureRows& rows, OperationKind edit,
                  std::int32_t amount) {
    bool written = WriteHeader(output, header);
    ForEachSlice(rows.layout(), [&](const Slice& slice) {
        std::uint8_t* pixels = rows.Fetch(slice);
        TransformBuffer(pixels, slice.size, edit, amount);
        if (written) written = rows.Intact() && WriteSlice(output, rows.layout(), slice, pixels);
        return true;
    });
    return written && output.SetLength(rows.layout().FileLength());
}

std::int32_t Run(const TintwellChar16* input_name, const TintwellChar16* output_name, std::int32_t amount,
                 std::int32_t function) {
    const FileName input_path = ConvertFileName(input_name);
    const FileName output_path = ConvertFileName(output_name);

    Print(messages::kLoadPrompt);
    std::optional<InputStream> input = InputStream::Open(input_path.data());
    BitmapHeader header;
    if (!input || !ReadHeader(*input, header)) return Finish(messages::kLoadFailure, TINTWELL_RESULT_LOAD_FAILED);
    const std::optional<std::size_t> pixel_bytes = PixelByteCount(header);
    if (!pixel_bytes) return Finish(messages::kAllocationFailure, TINTWELL_RESULT_ALLOCATION_FAILED);

    // The one choice between streaming the rows and holding them whole
    // (picture_rows.h): everything after it is the same for both.
    const RowLayout layout = RowLayout::Of(header);
    LoadFailure failure = LoadFailure::kReadError;
    std::optional<PictureRows> rows = input->IsRegularWithData()
                                          ? PictureRows::Stream(std::move(*input), layout, *pixel_bytes, failure)
                                          : PictureRows::Hold(std::move(*input), layout, *pixel_bytes, failure);
    if (!rows && failure == LoadFailure::kNoMemory) {
        return Finish(messages::kAllocationFailure, TINTWELL_RESULT_ALLOCATION_FAILED);
    }
    if (!rows) return Finish(messages::kLoadFailure, TINTWELL_RESULT_LOAD_FAILED);
    std::printf(messages::kReadCompleteFormat, header.biWidth, header.biHeight,
                static_cast<std::int32_t>(header.bfSize));

    if (function < TINTWELL_FUNCTION_COPY || function > TINTWELL_FUNCTION_EXIT) {
        return Finish(messages::kRejection, TINTWELL_RESULT_REJECTED);
    }
    if (function == TINTWELL_FUNCTION_EXIT) {
        rows.reset();
        return Finish(messages::kExit, TINTWELL_RESULT_EXITED);
    }

    std::optional<OutputStream> output = OpenOutput(output_path.data());
    if (!output) return TINTWELL_RESULT_SAVE_FAILED;
    const bool written = EditAndWrite(*output, header, *rows, SetUpEdit(function, amount), amount);
    const bool closed = output->Close();
    if (!written || !closed) return Finish(messages::kSaveFailure, TINTWELL_RESULT_SAVE_FAILED);
    return TINTWELL_RESULT_WRITTEN;
}

}  // namespace
}  // namespace korvane

extern "C" TINTWELL_API std::int32_t Tintwell(const TintwellChar16* input, const TintwellChar16* output,
                                              std::int32_t amount, std::int32_t function) {
    return korvane::Run(input, output, amount, function);
}
