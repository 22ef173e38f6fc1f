// Whether a file is a picture the library edits correctly: the one layout it
// reads (a 24-bit uncompressed BMP with the 40-byte information header and
// pixels at byte 54, bottom-up rows). The library itself checks nothing, so
// the host asks this before every call. Standard C++ only, so that every
// host, the web page included, compiles this very file; the layout itself
// is processing/bitmap_layout.h's, the library's own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "bitmap_layout.h"
#include "bitmap_variant.h"

namespace tintwell_cli {

// The header bytes the check needs: the file header and the information header.
inline constexpr std::size_t kPictureHeaderSize = korvane::kHeaderSize;

// Why a file is not a picture the library edits correctly, in plain English
// ("32 bits per pixel", "not a BMP file", "pixels start at byte 138, not 54",
// "top-down rows (negative height)", "the file ends after 4,000 of 12,054 bytes"...),
// or nothing when it is one. `first_bytes` are the file's first bytes (up to 54
// of them; fewer when the file is shorter), `file_size` its length in bytes.
std::optional<std::string> PictureRefusal(std::span<const std::uint8_t> first_bytes, std::uint64_t file_size);

// What the host makes of a file: the library's own layout as it stands
// (neither field set), another kind of BMP file that the host adapts
// around the library (`variant`), or why it can do neither (`refusal`).
// `head` holds the file's first korvane::HeadBytesNeeded bytes.
struct PictureVerdict {
    std::optional<korvane::BitmapVariant> variant;
    std::optional<std::string> refusal;
};
PictureVerdict CheckPicture(std::span<const std::uint8_t> head, std::uint64_t file_size);

// Why an RLE stream cannot be edited, in the words of a refusal.
std::string DamagedRleRefusal(bool ended_early);

}  // namespace tintwell_cli
