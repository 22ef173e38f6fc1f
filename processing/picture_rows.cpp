#include "picture_rows.h"

#include <algorithm>
#include <utility>

namespace korvane {

std::optional<PictureRows> PictureRows::Stream(InputStream input, const RowLayout& layout, std::size_t pixel_bytes,
                                               LoadFailure& failure) {
    return Load(std::move(input), layout, std::min(pixel_bytes, kSliceBytes), true, failure);
}

std::optional<PictureRows> PictureRows::Hold(InputStream input, const RowLayout& layout, std::size_t pixel_bytes,
                                             LoadFailure& failure) {
    return Load(std::move(input), layout, pixel_bytes, false, failure);
}

std::optional<PictureRows> PictureRows::Load(InputStream input, const RowLayout& layout, std::size_t buffer_size,
                                             bool streamed, LoadFailure& failure) {
    std::optional<PixelBuffer> pixels = PixelBuffer::Allocate(buffer_size);
    if (!pixels) {
        failure = LoadFailure::kNoMemory;
        return std::nullopt;
    }
    PictureRows rows(layout, std::move(*pixels), streamed);
    // Reading stops where the file ends: a short file claiming many rows
    // costs nothing more, and the rows it does not hold stay zero.
    bool failed = false;
    ForEachSlice(layout, [&](const Slice& slice) {
        const std::optional<std::uint64_t> count = ReadSlice(input, layout, slice, rows.PlaceOf(slice));
        failed = !count;
        if (failed) return false;
        rows.file_end_ += *count;
        return *count == FileBytes(layout, slice);
    });
    if (failed) {
        failure = LoadFailure::kReadError;
        return std::nullopt;
    }
    if (streamed) rows.input_.emplace(std::move(input));
    return rows;
}

std::uint8_t* PictureRows::PlaceOf(const Slice& slice) {
    return streamed_ ? pixels_.data() : pixels_.data() + slice.first;
}

std::uint8_t* PictureRows::Fetch(const Slice& slice) {
    std::uint8_t* pixels = PlaceOf(slice);
    if (!streamed_ || !intact_) return pixels;
    // Never more than the first pass found; the rest of the slice is zero.
    const std::uint64_t start = layout_.FileOffset(slice.first);
    const std::uint64_t held = std::min(FileBytes(layout_, slice), file_end_ > start ? file_end_ - start : 0);
    if (held < FileBytes(layout_, slice)) std::fill_n(pixels, slice.size, 0);
    intact_ = ReadSliceAgain(*input_, layout_, slice, pixels, held);
    return pixels;
}

}  // namespace korvane
