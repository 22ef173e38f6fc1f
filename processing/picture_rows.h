// The pixel rows of one picture between reading and writing, in one of two
// ways:
//  - streamed: a regular file with data is read twice on one descriptor. The
//    first pass reads every row through a window of at most kSliceBytes, to
//    find read errors and where the file ends before anything is written;
//    the second reads each slice again, from the page cache, just before it
//    is edited and written. The memory needed is the window's, whatever the
//    picture's size.
//  - held: any other input (a pipe, a terminal, a file in /proc that reports
//    size 0 and is made anew on each read) can be read only once, so the
//    whole picture is held in memory.
// Both give the same bytes: padding dropped, pixels past the end of the file
// zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>

#include "bitmap.h"
#include "file_stream.h"

namespace korvane {

enum class LoadFailure {
    kNoMemory,   // the window or the picture could not be allocated
    kReadError,  // reading the rows failed
};

class PictureRows {
public:
    // Reads every row once. `pixel_bytes` is the header's pixel byte count;
    // `layout` must come from the same header.
    static std::optional<PictureRows> Stream(InputStream input, const RowLayout& layout, std::size_t pixel_bytes,
                                             LoadFailure& failure);
    static std::optional<PictureRows> Hold(InputStream input, const RowLayout& layout, std::size_t pixel_bytes,
                                           LoadFailure& failure);

    const RowLayout& layout() const { return layout_; }

    // The slice's pixels, ready to be edited in place (and valid until the
    // next call). Streamed rows are read again for it; when the file no
    // longer holds what the first pass read, Intact() turns false for good
    // and the bytes returned mean nothing.
    std::uint8_t* Fetch(const Slice& slice);
    bool Intact() const { return intact_; }

private:
    PictureRows(const RowLayout& layout, PixelBuffer pixels, bool streamed)
        : layout_(layout), pixels_(std::move(pixels)), streamed_(streamed) {}

    static std::optional<PictureRows> Load(InputStream input, const RowLayout& layout, std::size_t buffer_size,
                                           bool streamed, LoadFailure& failure);
    // Where a slice's pixels go: the start of the window, or their own place.
    std::uint8_t* PlaceOf(const Slice& slice);

    RowLayout layout_;
    PixelBuffer pixels_;  // the window, or the whole picture
    bool streamed_;
    std::optional<InputStream> input_;     // kept only while streaming
    std::uint64_t file_end_ = kHeaderSize;  // the file offset where the first pass ended
    bool intact_ = true;
};

}  // namespace korvane
