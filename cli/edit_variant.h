// The host's side of editing a BMP file of another kind than the library
// reads: it makes a private 24-bit copy for the library (the picture's
// pixels widened to 8 bits a channel, or its palette as one row), and puts
// the library's edit back into the picture's own kind, every other byte
// kept. The library still computes every value. The layout is
// processing/bitmap_variant.h's; this file only moves the bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "bitmap_variant.h"
#include "input_file.h"
#include "outcome.h"

namespace tintwell_cli {

// Where the picture's bytes go, a piece at a time; false with the system's words.
using Appender = std::function<bool(std::span<const std::uint8_t>, std::string&)>;

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

// The 24-bit copy, in a private file; nothing with the reason when it cannot be made.
std::optional<InputFile> MakeStage(const korvane::BitmapVariant& variant, StageKind kind, const InputFile& input,
                                   Message& problem);

// The picture in its own kind: the input's bytes with the library's edit
// of the copy (`edited`, a 24-bit picture) put back in place of the values
// that were staged. Nothing, or the system's words.
std::optional<std::string> PutBack(const korvane::BitmapVariant& variant, StageKind kind, const InputFile& input,
                                   const InputFile& edited, const Appender& append);

// What the library's messages describe, for a picture edited (or, without
// `writes`, read) through a copy.
Message StageRemark(const korvane::BitmapVariant& variant, StageKind kind, bool writes);

}  // namespace tintwell_cli
