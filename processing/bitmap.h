// Reading and writing a picture: the header, the pixel buffer, and slices of
// rows. Where everything lies in the file is bitmap_layout.h's.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "bitmap_layout.h"
#include "file_stream.h"

namespace korvane {

// Reads up to 54 header bytes. Fields the file ends inside keep the bytes
// present and zero for the rest. Fails only on a read error.
bool ReadHeader(InputStream& input, BitmapHeader& header);

// Writes the 54 header bytes exactly as they were read.
bool WriteHeader(OutputStream& output, const BitmapHeader& header);

// One zero-filled block of memory for pixels: the window a picture streams
// through, or a whole picture. Blocks of 128 KiB and more are private
// mappings of their own, so each call's memory goes back to the system when
// the call ends and a failure to get it shows at once.
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

// Pixels are read, edited and written a slice of at most this many bytes at
// a time, so each slice is still in cache when it is written, and a picture
// read from a regular file never needs more memory than this. 1 MiB makes
// few enough calls that their fixed cost (each write updates the file's
// times) stays small: a 4000 x 3000 invert took 15.4 to 15.9 ms of CPU with
// it, 16.0 to 16.8 ms with 128 or 256 KiB.
inline constexpr std::size_t kSliceBytes = std::size_t{1} << 20;

// A run of whole pixels, counted without padding: whole rows, or a piece of
// one row when a row is longer than a slice.
struct Slice {
    std::size_t first = 0;
    std::size_t size = 0;
    std::size_t end() const { return first + size; }
};

// Calls visit(slice) for the picture's pixels in order, in slices of at most
// kSliceBytes, while it returns true.
template <typename Visit>
void ForEachSlice(const RowLayout& layout, Visit visit) {
    if (layout.row_bytes == 0) return;
    if (layout.row_bytes <= kSliceBytes) {
        const std::size_t step = kSliceBytes / layout.row_bytes * layout.row_bytes;
        for (std::size_t first = 0; first < layout.PixelBytes(); first += step) {
            if (!visit(Slice{first, std::min(step, layout.PixelBytes() - first)})) return;
        }
        return;
    }
    const std::size_t step = kSliceBytes / 3 * 3;  // whole pixels
    for (std::size_t row_start = 0; row_start < layout.PixelBytes(); row_start += layout.row_bytes) {
        for (std::size_t offset = 0; offset < layout.row_bytes; offset += step) {
            if (!visit(Slice{row_start + offset, std::min(step, layout.row_bytes - offset)})) return;
        }
    }
}

// The file bytes of a slice: its pixels, and the padding of each row it ends.
inline std::uint64_t FileBytes(const RowLayout& layout, const Slice& slice) {
    return layout.FileOffset(slice.end()) - layout.FileOffset(slice.first);
}

// Reads a slice's file bytes from the input's current position: its pixels
// into `pixels`, the padding dropped. Returns the file bytes read (fewer only
// where the file ended), or nothing on a read error.
std::optional<std::uint64_t> ReadSlice(InputStream& input, const RowLayout& layout, const Slice& slice,
                                       std::uint8_t* pixels);

// Reads the first `count` file bytes of a slice again from where they lie in
// the file. True when all of them were there.
bool ReadSliceAgain(InputStream& input, const RowLayout& layout, const Slice& slice, std::uint8_t* pixels,
                    std::uint64_t count);

// Writes a slice's pixels, each row it ends followed by its zero padding.
bool WriteSlice(OutputStream& output, const RowLayout& layout, const Slice& slice, const std::uint8_t* pixels);

}  // namespace korvane
