// The BMP variants beside the one layout the library reads: other
// information headers (OS/2 1.x and 2.x, V2 to V5), 1 to 32 bits per
// pixel with a palette or bit masks, RLE4 and RLE8, top-down rows. This is
// the layout model of bitmap_layout.h carried on to those files, as numbers
// only: where the palette, the masks and the rows lie, how a pixel's
// channels widen to the library's 8 bits and narrow back, and whether an
// RLE stream stays inside its picture. No file access: the host reads the
// bytes and hands them here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>
#include <optional>
#include <span>

#include "bitmap_layout.h"

namespace korvane {

// Information header sizes, by the system that defined them.
inline constexpr std::uint32_t kOs2InfoHeaderSize = 12;       // 16-bit sizes, 3-byte palette entries
inline constexpr std::uint32_t kOs2ShortInfoHeaderSize = 16;  // OS/2 2.x, its optional fields left out
inline constexpr std::uint32_t kOs2LongInfoHeaderSize = 64;   // OS/2 2.x, whole
inline constexpr std::uint32_t kV2InfoHeaderSize = 52;        // with RGB masks
inline constexpr std::uint32_t kV3InfoHeaderSize = 56;        // with an alpha mask too
inline constexpr std::uint32_t kV4InfoHeaderSize = 108;
inline constexpr std::uint32_t kV5InfoHeaderSize = 124;

// biCompression values.
inline constexpr std::uint32_t kRle8 = 1;
inline constexpr std::uint32_t kRle4 = 2;
inline constexpr std::uint32_t kBitFields = 3;  // OS/2 2.x: Huffman 1D
inline constexpr std::uint32_t kJpeg = 4;       // OS/2 2.x: RLE24
inline constexpr std::uint32_t kPng = 5;
inline constexpr std::uint32_t kAlphaBitFields = 6;

// The most header bytes (headers, masks, palette) read to describe a file;
// a palette that would reach past them is refused.
inline constexpr std::size_t kMostHeadBytes = std::size_t{1} << 16;

// Why a file is not a picture the host can adapt. `value` carries the
// number the reason names (a size, a bit count, a method, a mask).
enum class VariantProblem {
    kNotBmp,
    kHeaderCut,           // value: bytes present
    kInfoHeaderSize,      // value: biSize
    kBitsPerPixel,        // value: biBitCount
    kEmbeddedJpeg,
    kEmbeddedPng,
    kHuffman,
    kRle24,
    kCompression,         // value: biCompression
    kRedMask, kGreenMask, kBlueMask,  // value: the mask, wider than 8 bits or not contiguous
    kEmptyMask,           // value: 0 red, 1 green, 2 blue
    kMasksOverlap,
    kPaletteTooLong,      // value: palette entries
    kPixelsInsideHeader,  // value: bfOffBits
    kNegativeWidth,       // value: biWidth
    kZeroWidth,
    kZeroHeight,
    kTopDownRle,
    kTooManyPixels,
    kFileCut,             // value: bytes needed
};

struct VariantRefusal {
    VariantProblem problem;
    std::int64_t value = 0;
};

// One colour channel of a direct-colour pixel: `bits` contiguous bits from `shift`.
struct ChannelMask {
    std::uint32_t shift = 0;
    std::uint32_t bits = 0;
};

// A picture file the host can adapt, as numbers. Rows lie in file order
// from pixel_offset, each row_stride bytes; a top-down picture's first row
// is its top row, and nothing here turns them round.
struct BitmapVariant {
    BitmapHeader header;  // the first 54 bytes, as the library would read them
    std::uint32_t info_size = 0;
    std::uint32_t width = 0;
    std::uint32_t rows = 0;
    bool top_down = false;
    std::uint16_t bits = 0;
    std::uint32_t compression = 0;
    std::uint64_t pixel_offset = 0;
    std::uint64_t row_stride = 0;  // bytes per row, padded to 4 (uncompressed rows)
    // A palette: colour entries of palette_entry_size bytes (blue, green, red[, kept]).
    std::uint64_t palette_offset = 0;
    std::uint32_t palette_entries = 0;
    std::uint32_t palette_entry_size = 4;
    // Direct colour: where blue, green and red lie in a pixel of bits / 8 bytes.
    ChannelMask blue, green, red;

    bool Paletted() const { return bits <= 8; }
    bool Rle() const { return compression == kRle8 || compression == kRle4; }
    // Whether every pixel, as 24-bit pixels, fits the library's one buffer.
    bool FitsAs24Bit() const { return std::uint64_t{width} * rows * kBytesPerPixel <= kMostPixelBytes; }
    // The one layout the library reads as it stands.
    bool LibraryLayout() const;
    // Where the rows end, for uncompressed rows: bytes after it are kept.
    std::uint64_t RowsEnd() const { return pixel_offset + row_stride * rows; }
    // A 54-byte 24-bit bottom-up header for `width` x `rows` pixels in file order.
    static BitmapHeader StageHeader(std::uint32_t width, std::uint32_t rows);
};

// Describes the file whose first bytes are `head` (up to kMostHeadBytes,
// and all of them up to bfOffBits when the file is that long) and whose
// length is `file_size`, or says why it cannot be adapted. An RLE stream
// is not looked at here: RleWalk checks it.
struct VariantCheck {
    std::optional<BitmapVariant> variant;
    std::optional<VariantRefusal> refusal;
};
VariantCheck DescribeVariant(std::span<const std::uint8_t> head, std::uint64_t file_size);

// How many of the file's first bytes DescribeVariant needs, from its first 54.
std::size_t HeadBytesNeeded(std::span<const std::uint8_t> first_bytes);

// A channel of `bits` (1 to 8) widened to 8 by repeating its bits, and an
// 8-bit value narrowed to its top `bits`: narrowing a widened value gives it back.
std::uint8_t WidenChannel(std::uint32_t value, std::uint32_t bits);
std::uint32_t NarrowChannel(std::uint8_t value, std::uint32_t bits);

// One row of direct-colour pixels (bits / 8 bytes each) as blue, green,
// red bytes; and the edited bytes put back into that row, keeping every bit
// outside the three masks (alpha, unused bits).
void WidenRow(const BitmapVariant& variant, std::span<const std::uint8_t> row, std::span<std::uint8_t> bgr);
void NarrowRow(const BitmapVariant& variant, std::span<const std::uint8_t> bgr, std::span<std::uint8_t> row);

// Walks an RLE4 or RLE8 stream, fed in pieces of any size, and says whether
// it stays inside its picture and ends with its end-of-picture code. A run
// may spill into the row's padding (some writers do); no further. Given a
// sink, it also decodes: each row's palette indices, bottom row first,
// pixels the stream skips as index 0.
class RleWalk {
public:
    using RowSink = std::function<void(std::span<const std::uint8_t> indices)>;
    explicit RleWalk(const BitmapVariant& variant);
    // Walks on through `bytes`; false once the stream is damaged.
    bool Feed(std::span<const std::uint8_t> bytes, const RowSink& sink = {});
    bool Ended() const { return state_ == State::kEnded; }
    bool Damaged() const { return state_ == State::kDamaged; }

private:
    enum class State { kCode, kCount, kDeltaX, kDeltaY, kLiteral, kEnded, kDamaged };
    void Step(std::uint8_t byte);
    bool Place(std::uint64_t pixels);
    void Paint(std::uint8_t byte, std::uint64_t pixels);
    void EndRows(std::uint64_t until);

    std::uint64_t width_ = 0;         // pixels a row may hold, its padding included
    std::uint64_t rows_ = 0;
    std::uint32_t pixels_per_byte_ = 1;
    State state_ = State::kCode;
    std::uint8_t first_ = 0;          // the code's first byte
    std::uint64_t x_ = 0, y_ = 0;
    std::uint64_t literal_left_ = 0;  // bytes of a literal run still to come, its pad byte included
    std::uint64_t literal_pixels_ = 0;  // pixels of it still to paint
    std::uint64_t paint_at_ = 0;
    const RowSink* sink_ = nullptr;
    std::vector<std::uint8_t> row_;   // the row being decoded, with a sink
};

}  // namespace korvane
