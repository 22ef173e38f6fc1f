// The exported call: converts the names, loads the picture, checks the
// function number, writes the edited picture and reports on stdout.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "bitmap.h"
#include "file_name.h"
#include "korvane/tintwell.h"
#include "messages.h"
#include "pixel_operations.h"

namespace korvane {
namespace {

// Output attempts before giving up; each failure prints the prompt again.
constexpr int kSaveAttempts = 3;

struct Picture {
    BitmapHeader header;
    PixelBuffer pixels;
};

void Print(const char* message) { std::fputs(message, stdout); }

// Loads the whole picture; on failure prints why and sets the result code.
// The input is closed when this returns.
std::optional<Picture> LoadPicture(const char* name, std::int32_t& failure) {
    Print(messages::kLoadPrompt);
    std::optional<InputStream> input = InputStream::Open(name);
    BitmapHeader header;
    if (!input || !ReadHeader(*input, header)) {
        Print(messages::kLoadFailure);
        failure = TINTWELL_RESULT_LOAD_FAILED;
        return std::nullopt;
    }
    const std::optional<std::size_t> size = PixelByteCount(header);
    std::optional<PixelBuffer> pixels = size ? PixelBuffer::Allocate(*size) : std::nullopt;
    if (!pixels) {
        Print(messages::kAllocationFailure);
        failure = TINTWELL_RESULT_ALLOCATION_FAILED;
        return std::nullopt;
    }
    if (!ReadRows(*input, RowLayout::Of(header, *pixels))) {
        Print(messages::kLoadFailure);
        failure = TINTWELL_RESULT_LOAD_FAILED;
        return std::nullopt;
    }
    std::printf(messages::kReadCompleteFormat, header.biWidth, header.biHeight,
                static_cast<std::int32_t>(header.bfSize));
    return Picture{header, std::move(*pixels)};
}

std::optional<OutputStream> CreateOutput(const char* name) {
    for (int attempt = 0; attempt < kSaveAttempts; ++attempt) {
        Print(messages::kSavePrompt);
        std::optional<OutputStream> output = OutputStream::Create(name);
        if (output) return output;
        Print(messages::kSaveFailure);
    }
    return std::nullopt;
}

// What a valid function number (1 to 9) does to the pixels.
struct Edit {
    std::uint8_t kind;
    bool noise;
};

// Prints the edit's own prompts and tells which operation it runs. Tint up
// and down run the same pixels as brighten and darken.
Edit SetUpEdit(std::int32_t function, std::int32_t amount) {
    switch (function) {
    case TINTWELL_FUNCTION_NOISE:
        // A zero bound would divide by zero: it adds nothing and draws nothing.
        if (amount == 0) return {static_cast<std::uint8_t>(OperationKind::kCopy), false};
        return {static_cast<std::uint8_t>(OperationKind::kAdd), true};
    case TINTWELL_FUNCTION_TINT_UP:
        Print(messages::kIncreasePrompt);
        std::printf(messages::kEchoFormat, amount, amount, amount);
        return {static_cast<std::uint8_t>(OperationKind::kAdd), false};
    case TINTWELL_FUNCTION_TINT_DOWN:
        Print(messages::kDecreasePrompt);
        return {static_cast<std::uint8_t>(OperationKind::kSubtract), false};
    default:
        return {static_cast<std::uint8_t>(function), false};
    }
}

// Edits the pixels in place, slice by slice, writing each slice behind the
// header. A failed write stops the writing but not the editing, so the noise
// edit draws the same random values whatever happens to the disk.
bool EditAndWrite(OutputStream& output, Picture& picture, std::int32_t function, std::int32_t amount) {
    bool written = WriteHeader(output, picture.header);
    const Edit edit = SetUpEdit(function, amount);
    const RowLayout layout = RowLayout::Of(picture.header, picture.pixels);
    const std::size_t rows_per_slice = layout.RowsPerSlice();
    for (std::size_t row = 0; row < layout.rows; row += rows_per_slice) {
        const std::size_t count = std::min(rows_per_slice, layout.rows - row);
        std::uint8_t* slice = layout.pixels + row * layout.row_bytes;
        const std::size_t slice_bytes = count * layout.row_bytes;
        if (edit.noise) {
            AddNoiseToBuffer(slice, slice_bytes, amount);
        } else {
            TransformBuffer(slice, slice_bytes, edit.kind, static_cast<std::uint8_t>(amount));
        }
        if (written) written = WriteRows(output, layout, row, count);
    }
    return written;
}

std::int32_t Run(const TintwellChar16* input, const TintwellChar16* output, std::int32_t amount,
                 std::int32_t function) {
    const FileName input_name = ConvertFileName(input);
    const FileName output_name = ConvertFileName(output);

    std::int32_t failure = 0;
    std::optional<Picture> picture = LoadPicture(input_name.data(), failure);
    if (!picture) return failure;

    if (function < TINTWELL_FUNCTION_COPY || function > TINTWELL_FUNCTION_EXIT) {
        Print(messages::kRejection);
        return TINTWELL_RESULT_REJECTED;
    }
    if (function == TINTWELL_FUNCTION_EXIT) {
        picture.reset();
        Print(messages::kExit);
        return TINTWELL_RESULT_EXITED;
    }

    std::optional<OutputStream> out = CreateOutput(output_name.data());
    if (!out) return TINTWELL_RESULT_SAVE_FAILED;
    const bool written = EditAndWrite(*out, *picture, function, amount);
    const bool closed = out->Close();
    if (!written || !closed) {
        Print(messages::kSaveFailure);
        return TINTWELL_RESULT_SAVE_FAILED;
    }
    return TINTWELL_RESULT_WRITTEN;
}

}  // namespace
}  // namespace korvane

extern "C" TINTWELL_API std::int32_t Tintwell(const TintwellChar16* input, const TintwellChar16* output,
                                              std::int32_t amount, std::int32_t function) {
    return korvane::Run(input, output, amount, function);
}
