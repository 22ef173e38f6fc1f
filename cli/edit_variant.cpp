#include "edit_variant.h"

#include <algorithm>
#include <vector>

#include "bitmap_layout.h"
#include "host_messages.h"
#include "picture_check.h"

namespace tintwell_cli {
namespace {

using korvane::BitmapVariant;

// Files are read and written this much at a time, so that memory stays
// small whatever the picture's size.
constexpr std::uint64_t kChunk = std::uint64_t{1} << 20;

// Rows of `stride` bytes that fit in one chunk (at least one).
std::uint64_t RowsPerChunk(std::uint64_t stride) { return std::max<std::uint64_t>(1, kChunk / std::max<std::uint64_t>(1, stride)); }

// Reads exactly `count` bytes at `offset`, or says why not.
std::optional<std::vector<std::uint8_t>> ReadExactly(const InputFile& file, std::uint64_t offset, std::uint64_t count,
                                                     std::string& error) {
    std::optional<std::vector<std::uint8_t>> bytes = file.ReadAt(offset, static_cast<std::size_t>(count), error);
    if (bytes && bytes->size() != count) {
        error = std::string(text::kCopyCutShort);
        return std::nullopt;
    }
    return bytes;
}

// Bytes [first, end) of `input`, unchanged.
std::optional<std::string> CopyRange(const InputFile& input, std::uint64_t first, std::uint64_t end,
                                     const Appender& append) {
    std::string error;
    for (std::uint64_t at = first; at < end; at += kChunk) {
        const std::optional<std::vector<std::uint8_t>> bytes = ReadExactly(input, at, std::min(kChunk, end - at), error);
        if (!bytes || !append(*bytes, error)) return error;
    }
    return std::nullopt;
}

// The library's rows of a 24-bit copy `width` pixels wide: row r at 54 + r * stride.
struct StageRows {
    std::uint64_t row_bytes = 0;
    std::uint64_t stride = 0;

    explicit StageRows(std::uint32_t width, std::uint32_t rows) {
        const korvane::RowLayout layout = korvane::RowLayout::Of(BitmapVariant::StageHeader(width, rows));
        row_bytes = layout.row_bytes;
        stride = layout.row_bytes + layout.padding;
    }
    std::uint64_t Offset(std::uint64_t row) const { return korvane::kHeaderSize + row * stride; }
};

// Writes a stage: its header, then rows made by `fill(first_row, count, bytes)`.
template <typename Fill>
bool WriteStage(InputFile& stage, std::uint32_t width, std::uint32_t rows, Fill fill, std::string& error) {
    std::uint8_t header[korvane::kHeaderSize];
    korvane::StoreHeader(BitmapVariant::StageHeader(width, rows), std::span<std::uint8_t, korvane::kHeaderSize>(header));
    if (!stage.Append(header, error)) return false;
    const StageRows layout(width, rows);
    const std::uint64_t per_chunk = RowsPerChunk(layout.stride);
    std::vector<std::uint8_t> bytes;
    for (std::uint64_t row = 0; row < rows; row += per_chunk) {
        const std::uint64_t count = std::min<std::uint64_t>(per_chunk, rows - row);
        bytes.assign(static_cast<std::size_t>(count * layout.stride), 0);
        if (!fill(row, count, layout, bytes, error) || !stage.Append(bytes, error)) return false;
    }
    return true;
}

// The palette's colours as blue, green, red, in entry order.
std::optional<std::vector<std::uint8_t>> PaletteEntries(const BitmapVariant& v, const InputFile& input,
                                                        std::string& error) {
    return ReadExactly(input, v.palette_offset, std::uint64_t{v.palette_entries} * v.palette_entry_size, error);
}

void PaintRow(const BitmapVariant& v, const std::vector<std::uint8_t>& palette, std::span<const std::uint8_t> indices,
              std::span<std::uint8_t> bgr) {
    for (std::size_t x = 0; x < v.width; ++x) {
        const std::uint32_t index = indices[x];
        if (index >= v.palette_entries) continue;  // no colour: black
        std::copy_n(palette.begin() + index * v.palette_entry_size, 3, bgr.begin() + 3 * x);
    }
}

// The palette indices of one uncompressed row.
void RowIndices(const BitmapVariant& v, std::span<const std::uint8_t> row, std::vector<std::uint8_t>& indices) {
    const std::uint32_t per_byte = 8 / v.bits;
    const std::uint32_t low = (1u << v.bits) - 1;
    for (std::size_t x = 0; x < v.width; ++x) {
        const std::uint32_t shift = 8 - v.bits * (1 + static_cast<std::uint32_t>(x % per_byte));
        indices[x] = static_cast<std::uint8_t>((row[x / per_byte] >> shift) & low);
    }
}

bool StagePixels(const BitmapVariant& v, const InputFile& input, InputFile& stage, std::string& error) {
    return WriteStage(stage, v.width, v.rows,
                      [&](std::uint64_t first, std::uint64_t count, const StageRows& layout,
                          std::vector<std::uint8_t>& bytes, std::string& why) {
                          const auto rows = ReadExactly(input, v.pixel_offset + first * v.row_stride,
                                                        count * v.row_stride, why);
                          if (!rows) return false;
                          for (std::uint64_t r = 0; r < count; ++r) {
                              korvane::WidenRow(v, std::span(*rows).subspan(r * v.row_stride, v.row_stride),
                                                std::span(bytes).subspan(r * layout.stride, layout.row_bytes));
                          }
                          return true;
                      },
                      error);
}

bool StagePalette(const BitmapVariant& v, const InputFile& input, InputFile& stage, std::string& error) {
    const auto palette = PaletteEntries(v, input, error);
    return palette && WriteStage(stage, v.palette_entries, 1,
                                 [&](std::uint64_t, std::uint64_t, const StageRows&, std::vector<std::uint8_t>& bytes,
                                     std::string&) {
                                     for (std::size_t i = 0; i < v.palette_entries; ++i) {
                                         std::copy_n(palette->begin() + i * v.palette_entry_size, 3,
                                                     bytes.begin() + 3 * i);
                                     }
                                     return true;
                                 },
                                 error);
}

// Every pixel's colour, bottom row first, as a 24-bit picture reads.
bool StageExpanded(const BitmapVariant& v, const InputFile& input, InputFile& stage, std::string& error) {
    const auto palette = PaletteEntries(v, input, error);
    if (!palette) return false;
    const StageRows layout(v.width, v.rows);
    std::vector<std::uint8_t> header(korvane::kHeaderSize);
    korvane::StoreHeader(BitmapVariant::StageHeader(v.width, v.rows),
                         std::span<std::uint8_t, korvane::kHeaderSize>(header.data(), korvane::kHeaderSize));
    if (!stage.Append(header, error)) return false;
    std::vector<std::uint8_t> bgr(static_cast<std::size_t>(layout.stride));
    std::vector<std::uint8_t> indices(v.width);
    bool written = true;
    const auto put_row = [&](std::span<const std::uint8_t> row_indices) {
        std::fill(bgr.begin(), bgr.end(), std::uint8_t{0});
        PaintRow(v, *palette, row_indices, bgr);
        written = written && stage.Append(bgr, error);
    };
    if (v.Rle()) {
        korvane::RleWalk walk(v);
        const korvane::RleWalk::RowSink sink = put_row;
        for (std::uint64_t at = v.pixel_offset; at < input.size() && !walk.Ended() && written; at += kChunk) {
            const auto bytes = input.ReadAt(at, static_cast<std::size_t>(std::min(kChunk, input.size() - at)), error);
            if (!bytes) return false;
            walk.Feed(*bytes, sink);
        }
        return written;
    }
    for (std::uint64_t r = 0; r < v.rows && written; ++r) {
        // A top-down picture's bottom row is its last in the file.
        const std::uint64_t file_row = v.top_down ? v.rows - 1 - r : r;
        const auto row = ReadExactly(input, v.pixel_offset + file_row * v.row_stride, v.row_stride, error);
        if (!row) return false;
        RowIndices(v, *row, indices);
        put_row(indices);
    }
    return written;
}

std::optional<std::string> PutBackPixels(const BitmapVariant& v, const InputFile& input, const InputFile& edited,
                                         const Appender& append) {
    if (auto error = CopyRange(input, 0, v.pixel_offset, append)) return error;
    const StageRows layout(v.width, v.rows);
    const std::uint64_t per_chunk = RowsPerChunk(std::max(v.row_stride, layout.stride));
    std::string error;
    for (std::uint64_t first = 0; first < v.rows; first += per_chunk) {
        const std::uint64_t count = std::min<std::uint64_t>(per_chunk, v.rows - first);
        auto rows = ReadExactly(input, v.pixel_offset + first * v.row_stride, count * v.row_stride, error);
        const auto bgr = rows ? ReadExactly(edited, layout.Offset(first), count * layout.stride, error) : std::nullopt;
        if (!bgr) return error;
        for (std::uint64_t r = 0; r < count; ++r) {
            korvane::NarrowRow(v, std::span(*bgr).subspan(r * layout.stride, layout.row_bytes),
                               std::span(*rows).subspan(r * v.row_stride, v.row_stride));
        }
        if (!append(*rows, error)) return error;
    }
    return CopyRange(input, v.RowsEnd(), input.size(), append);
}

std::optional<std::string> PutBackPalette(const BitmapVariant& v, const InputFile& input, const InputFile& edited,
                                          const Appender& append) {
    if (auto error = CopyRange(input, 0, v.palette_offset, append)) return error;
    std::string error;
    auto palette = PaletteEntries(v, input, error);
    const StageRows layout(v.palette_entries, 1);
    const auto bgr = palette ? ReadExactly(edited, layout.Offset(0), layout.row_bytes, error) : std::nullopt;
    if (!bgr) return error;
    for (std::size_t i = 0; i < v.palette_entries; ++i) {
        std::copy_n(bgr->begin() + 3 * i, 3, palette->begin() + i * v.palette_entry_size);
    }
    if (!append(*palette, error)) return error;
    return CopyRange(input, v.palette_offset + palette->size(), input.size(), append);
}

}  // namespace

std::optional<Message> RleProblem(const BitmapVariant& variant, const InputFile& input) {
    korvane::RleWalk walk(variant);
    std::string error;
    for (std::uint64_t at = variant.pixel_offset; at < input.size() && !walk.Ended(); at += kChunk) {
        const auto bytes = input.ReadAt(at, static_cast<std::size_t>(std::min(kChunk, input.size() - at)), error);
        if (!bytes) return MessageOf(text::kInputUnreadable, error);
        if (!walk.Feed(*bytes)) break;
    }
    if (walk.Ended()) return std::nullopt;
    return MessageOf(text::kNotAPicture, DamagedRleRefusal(!walk.Damaged()));
}

StageKind StageKindOf(const BitmapVariant& variant, bool expand) {
    if (!variant.Paletted()) return StageKind::kPixels;
    return expand ? StageKind::kExpanded : StageKind::kPalette;
}

std::optional<InputFile> MakeStage(const BitmapVariant& variant, StageKind kind, const InputFile& input,
                                   Message& problem) {
    std::string folder;
    std::string error;
    std::optional<InputFile> stage = InputFile::Scratch(folder, error);
    bool made = stage.has_value();
    if (made && kind == StageKind::kPixels) made = StagePixels(variant, input, *stage, error);
    if (made && kind == StageKind::kPalette) made = StagePalette(variant, input, *stage, error);
    if (made && kind == StageKind::kExpanded) made = StageExpanded(variant, input, *stage, error);
    if (made) return stage;
    problem = MessageOf(text::kNoStage, folder, error);
    return std::nullopt;
}

std::optional<std::string> PutBack(const BitmapVariant& variant, StageKind kind, const InputFile& input,
                                   const InputFile& edited, const Appender& append) {
    return kind == StageKind::kPalette ? PutBackPalette(variant, input, edited, append)
                                       : PutBackPixels(variant, input, edited, append);
}

Message StageRemark(const BitmapVariant& variant, StageKind kind, bool writes) {
    if (kind == StageKind::kPalette) {
        return MessageOf(writes ? text::kPaletteRemark : text::kPaletteReadRemark, variant.palette_entries);
    }
    return MessageOf(writes ? text::kStagedRemark : text::kStagedReadRemark, variant.width, variant.rows);
}

}  // namespace tintwell_cli
