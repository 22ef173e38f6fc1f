// The host's side of editing a BMP file of another kind than the library
// reads: it makes a private 24-bit copy for the library (the picture's
// pixels widened to 8 bits a channel, or its palette as one row), and puts
// the library's edit back into the picture's own kind, every other byte
// kept. The library still computes every value. The layout is
// processing/bitmap_variant.h's; this file only moves the bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "bitmap_variant.h"
#include "input_file.h"
#include "outcome.h"
#include "stream_output.h"

namespace tintwell_cli {

// Why an RLE stream cannot be edited (damaged, or cut before its end), or
// why it could not be read; nothing when it is whole.
std::optional<Message> RleProblem(const korvane::BitmapVariant& variant, const InputFile& input);

// What the library is given for a variant: the 24-bit copy it reads.
enum class StageKind {
    kPixels,    // direct colour: every pixel, widened, rows in file order
    kPalette,   // paletted: the palette's colours as one row
    kExpanded,  // paletted, written as a 24-bit picture: every pixel's colour, bottom row first
};
StageKind StageKindOf(const korvane::BitmapVariant& variant, bool expand);

// The copy's size in pixels: the palette as one row, or the picture's own.
struct StageSize {
    std::uint32_t width;
    std::uint32_t rows;
};
StageSize StageSizeOf(const korvane::BitmapVariant& variant, StageKind kind);

// The 24-bit copy, in a private file; nothing with the reason when it cannot
// be made. The pixels' kept bits are noted in `kept` as they pass.
std::optional<InputFile> MakeStage(const korvane::BitmapVariant& variant, StageKind kind, const InputFile& input,
                                   korvane::KeptBits& kept, Message& problem);

// The picture in its own kind, written as the library's edit of the copy
// (a 24-bit picture) comes in, a piece at a time: the input's bytes with
// the edited values put back in place of the values that were staged.
// Memory stays at a chunk of rows whatever the picture's size.
class PutBackWriter {
public:
    PutBackWriter(const korvane::BitmapVariant& variant, StageKind kind, const InputFile& input,
                  const korvane::KeptBits& kept, Appender append);
    // The next bytes of the library's output; false with the system's words.
    bool Feed(std::span<const std::uint8_t> edited, std::string& error);
    // After the last: the rest of the picture. Nothing, or the system's words.
    std::optional<std::string> Finish();

private:
    bool PutRowsBack(std::span<const std::uint8_t> rows, std::string& error);

    const korvane::BitmapVariant& variant_;
    StageKind kind_;
    const InputFile& input_;
    const korvane::KeptBits& kept_;  // what the staging saw of the bits to keep
    Appender append_;
    std::uint64_t stride_;          // of the copy's rows
    std::uint64_t rows_;            // of the copy
    std::uint64_t row_bytes_;       // of the copy's rows, without padding
    std::uint64_t rows_per_chunk_;
    bool as_they_come_;             // the edited rows are the picture's rows
    std::uint64_t received_ = 0;    // bytes of the library's output
    std::uint64_t rows_done_ = 0;   // rows put back
    std::vector<std::uint8_t> pending_;  // an edited row split between pieces (or the palette's row)
    std::vector<std::uint8_t> input_rows_;  // the rows they go into: the input's, or made of the kept bits
};

// The same from the library's whole edit in a file (`edited`).
std::optional<std::string> PutBack(const korvane::BitmapVariant& variant, StageKind kind, const InputFile& input,
                                   const korvane::KeptBits& kept, const InputFile& edited, const Appender& append);

// What the library's messages describe, for a picture edited (or, without
// `writes`, read) through a copy.
Message StageRemark(const korvane::BitmapVariant& variant, StageKind kind, bool writes);

}  // namespace tintwell_cli
