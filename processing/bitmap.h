// The BMP layout: the 54-byte header, row padding, the pixel buffer, and the
// reading and writing of pixel rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "file_stream.h"

namespace korvane {

inline constexpr std::size_t kHeaderSize = 54;

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

// Reads up to 54 header bytes. Fields the file ends inside keep the bytes
// present and zero for the rest. Fails only on a read error.
bool ReadHeader(InputStream& input, BitmapHeader& header);

// Writes the 54 header bytes exactly as they were read.
bool WriteHeader(OutputStream& output, const BitmapHeader& header);

// Bytes that end each row so that biWidth * (biBitCount / 8) becomes a
// multiple of 4: always 0 to 3.
std::uint32_t RowPadding(const BitmapHeader& header);

// The exact pixel byte count biWidth * biHeight * 3, or nothing when it is
// negative or larger than the largest signed 32-bit number.
std::optional<std::size_t> PixelByteCount(const BitmapHeader& header);

// One zero-filled block holding the pixels without row padding. Large blocks
// are mappings of their own.
class PixelBuffer {
public:
    static std::optional<PixelBuffer> Allocate(std::size_t size);

    PixelBuffer(PixelBuffer&& other) noexcept;
    PixelBuffer& operator=(PixelBuffer&&) = delete;
    PixelBuffer(const PixelBuffer&) = delete;
    PixelBuffer& operator=(const PixelBuffer&) = delete;
    ~PixelBuffer();

    std::uint8_t* data() { return data_; }
    std::size_t size() const { return size_; }

private:
    PixelBuffer(std::uint8_t* data, std::size_t size, std::size_t mapped_size)
        : data_(data), size_(size), mapped_size_(mapped_size) {}

    std::uint8_t* data_;
    std::size_t size_;
    std::size_t mapped_size_;  // nonzero when the block is a private mapping
};

// Rows are read, edited and written a slice of about this many bytes at a
// time, so each slice is still in cache when it is written. 1 MiB fits the
// caches of a core and makes few enough write calls that their fixed cost
// (each one updates the file's times) stays small: measured faster than
// 256 KiB and no slower than 4 MiB.
inline constexpr std::size_t kSliceBytes = std::size_t{1} << 20;

// Where the rows of a picture lie in the pixel buffer.
struct RowLayout {
    std::uint8_t* pixels = nullptr;
    std::size_t row_bytes = 0;  // biWidth * 3
    std::size_t rows = 0;       // biHeight, or 0 when there are no pixels
    std::uint32_t padding = 0;

    static RowLayout Of(const BitmapHeader& header, PixelBuffer& buffer);

    // Whole rows in one slice: as many as fit in kSliceBytes, at least one.
    std::size_t RowsPerSlice() const;
};

// Reads every row from offset 54 on, discarding each row's padding, a slice at
// a time, each slice's pages put in place just before it is read. Bytes the
// file does not hold stay zero and cost no memory. Fails only on a read error.
bool ReadRows(InputStream& input, const RowLayout& layout);

// Writes rows [first, first + count), each followed by its zero padding.
bool WriteRows(OutputStream& output, const RowLayout& layout, std::size_t first, std::size_t count);

}  // namespace korvane
