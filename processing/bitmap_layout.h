// The layout of a picture file, as numbers only: the 54-byte header and its
// fields, the row padding, the pixel byte count and its limit, and where the
// rows, their padding and the bytes after them lie. Standard C++ with no
// file access, so that the library's reader, the host's picture check and
// the web page all work from this one model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace korvane {

// The file header (14 bytes) and the information header (40 bytes).
inline constexpr std::size_t kHeaderSize = 54;
inline constexpr std::size_t kFileHeaderSize = 14;
inline constexpr std::uint32_t kInfoHeaderSize = kHeaderSize - kFileHeaderSize;
// "BM", read little-endian.
inline constexpr std::uint16_t kBitmapSignature = 'B' | ('M' << 8);
inline constexpr std::uint16_t kBitsPerPixel = 24;
inline constexpr std::uint32_t kUncompressed = 0;
// A pixel is 3 bytes: blue, green, red.
inline constexpr std::size_t kBytesPerPixel = 3;
// The pixels are held in one buffer whose size is a signed 32-bit count.
inline constexpr std::uint64_t kMostPixelBytes = INT32_MAX;

// The file header and information header as 15 fields. The two reserved
// 16-bit fields are one 4-byte field, as they are read and written.
struct BitmapHeader {
    std::uint16_t bfType = 0;
    std::uint32_t bfSize = 0;
    std::uint32_t bfReserved = 0;
    std::uint32_t bfOffBits = 0;
    std::uint32_t biSize = 0;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;
    std::uint16_t biPlanes = 0;
    std::uint16_t biBitCount = 0;
    std::uint32_t biCompression = 0;
    std::uint32_t biSizeImage = 0;
    std::int32_t biXPelsPerMeter = 0;
    std::int32_t biYPelsPerMeter = 0;
    std::uint32_t biClrUsed = 0;
    std::uint32_t biClrImportant = 0;
};

// The header from a file's first bytes, little-endian. Fields the bytes end
// inside keep the bytes present and zero for the rest; bytes past 54 are
// not looked at.
BitmapHeader ParseHeader(std::span<const std::uint8_t> bytes);

// The 54 bytes of a header, exactly as ParseHeader read them.
void StoreHeader(const BitmapHeader& header, std::span<std::uint8_t, kHeaderSize> bytes);

// Bytes that end each row so that biWidth * (biBitCount / 8) becomes a
// multiple of 4: always 0 to 3.
std::uint32_t RowPadding(const BitmapHeader& header);

// The exact pixel byte count biWidth * biHeight * 3, or nothing when it is
// negative or larger than kMostPixelBytes.
std::optional<std::size_t> PixelByteCount(const BitmapHeader& header);

// A run of file bytes, [first, end).
struct ByteRange {
    std::uint64_t first = 0;
    std::uint64_t end = 0;
};

// Where the rows of a picture lie in the file: row r's pixels (no padding)
// start at byte 54 + r * (row_bytes + padding). Made only from a header whose
// PixelByteCount is in range: the pixel bytes fit in 31 bits, and file
// offsets (which add the padding) are kept in 64.
struct RowLayout {
    std::size_t row_bytes = 0;  // biWidth * 3
    std::size_t rows = 0;       // biHeight, or 0 when there are no pixels
    std::uint32_t padding = 0;

    static RowLayout Of(const BitmapHeader& header);

    // All pixel bytes, without padding.
    std::size_t PixelBytes() const { return rows * row_bytes; }
    // Where pixel byte `pixel` (counted without padding) lies in the file.
    std::uint64_t FileOffset(std::size_t pixel) const;
    // The header and every row with its padding.
    std::uint64_t FileLength() const { return FileOffset(PixelBytes()); }

    // What a file of `file_size` bytes holds after its last row: bytes that
    // are neither header nor pixels (empty when the file ends there or sooner).
    ByteRange BytesAfterRows(std::uint64_t file_size) const;
};

}  // namespace korvane
