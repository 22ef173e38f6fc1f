#include "edit_variant.h"

#include <algorithm>
#include <utility>
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

// Reads exactly `count` bytes at `offset` into `bytes`, or says why not.
bool ReadExactly(const InputFile& file, std::uint64_t offset, std::uint64_t count, std::vector<std::uint8_t>& bytes,
                 std::string& error) {
    if (!file.ReadInto(offset, static_cast<std::size_t>(count), bytes, error)) return false;
    if (bytes.size() == count) return true;
    error = std::string(text::kCopyCutShort);
    return false;
}

std::optional<std::vector<std::uint8_t>> ReadExactly(const InputFile& file, std::uint64_t offset, std::uint64_t count,
                                                     std::string& error) {
    std::vector<std::uint8_t> bytes;
    if (!ReadExactly(file, offset, count, bytes, error)) return std::nullopt;
    return bytes;
}

// Bytes [first, end) of `input`, unchanged.
std::optional<std::string> CopyRange(const InputFile& input, std::uint64_t first, std::uint64_t end,
                                     const Appender& append) {
    std::string error;
    std::vector<std::uint8_t> bytes;
    for (std::uint64_t at = first; at < end; at += kChunk) {
        if (!ReadExactly(input, at, std::min(kChunk, end - at), bytes, error) || !append(bytes, error)) return error;
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
    explicit StageRows(StageSize size) : StageRows(size.width, size.rows) {}
    std::uint64_t Offset(std::uint64_t row) const { return korvane::kHeaderSize + row * stride; }
};

// A stage's 54-byte header, for `width` x `rows` pixels.
bool AppendStageHeader(InputFile& stage, std::uint32_t width, std::uint32_t rows, std::string& error) {
    std::uint8_t header[korvane::kHeaderSize];
    korvane::StoreHeader(BitmapVariant::StageHeader(width, rows), std::span<std::uint8_t, korvane::kHeaderSize>(header));
    return stage.Append(header, error);
}

// Writes a stage: its header, then rows made by `fill(first_row, count, bytes)`.
template <typename Fill>
bool WriteStage(InputFile& stage, std::uint32_t width, std::uint32_t rows, Fill fill, std::string& error) {
    if (!AppendStageHeader(stage, width, rows, error)) return false;
    const StageRows layout(width, rows);
    const std::uint64_t per_chunk = RowsPerChunk(layout.stride);
    std::vector<std::uint8_t> bytes;
    for (std::uint64_t row = 0; row < rows; row += per_chunk) {
        const std::uint64_t count = std::min<std::uint64_t>(per_chunk, rows - row);
        // Each fill writes every row's pixels; the padding stays as it was first made, zero.
        bytes.resize(static_cast<std::size_t>(count * layout.stride));
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

// Rows that are already the copy's rows go into it as they are read.
bool StageRowsAsTheyAre(const BitmapVariant& v, const InputFile& input, InputFile& stage, std::string& error) {
    if (!AppendStageHeader(stage, v.width, v.rows, error)) return false;
    const std::optional<std::string> failed =
        CopyRange(input, v.pixel_offset, v.RowsEnd(),
                  [&stage](std::span<const std::uint8_t> bytes, std::string& why) { return stage.Append(bytes, why); });
    if (failed) error = *failed;
    return !failed;
}

bool StagePixels(const BitmapVariant& v, const InputFile& input, InputFile& stage, korvane::KeptBits& kept,
                 std::string& error) {
    if (korvane::RowsAsStaged(v)) return StageRowsAsTheyAre(v, input, stage, error);
    std::vector<std::uint8_t> rows;
    return WriteStage(stage, v.width, v.rows,
                      [&](std::uint64_t first, std::uint64_t count, const StageRows& layout,
                          std::vector<std::uint8_t>& bytes, std::string& why) {
                          if (!ReadExactly(input, v.pixel_offset + first * v.row_stride, count * v.row_stride, rows,
                                           why)) {
                              return false;
                          }
                          kept.Note(rows);
                          for (std::uint64_t r = 0; r < count; ++r) {
                              korvane::WidenRow(v, std::span(rows).subspan(r * v.row_stride, v.row_stride),
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
    if (!AppendStageHeader(stage, v.width, v.rows, error)) return false;
    std::vector<std::uint8_t> bgr(static_cast<std::size_t>(layout.stride));
    std::vector<std::uint8_t> indices(v.width);
    std::vector<std::uint8_t> row;
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
        if (!ReadExactly(input, v.pixel_offset + file_row * v.row_stride, v.row_stride, row, error)) return false;
        RowIndices(v, row, indices);
        put_row(indices);
    }
    return written;
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

StageSize StageSizeOf(const BitmapVariant& variant, StageKind kind) {
    if (kind == StageKind::kPalette) return {variant.palette_entries, 1};
    return {variant.width, variant.rows};
}

std::optional<InputFile> MakeStage(const BitmapVariant& variant, StageKind kind, const InputFile& input,
                                   korvane::KeptBits& kept, Message& problem) {
    std::string folder;
    std::string error;
    std::optional<InputFile> stage = InputFile::Scratch(folder, error);
    bool made = stage.has_value();
    if (made && kind == StageKind::kPixels) made = StagePixels(variant, input, *stage, kept, error);
    if (made && kind == StageKind::kPalette) made = StagePalette(variant, input, *stage, error);
    if (made && kind == StageKind::kExpanded) made = StageExpanded(variant, input, *stage, error);
    if (made) return stage;
    problem = MessageOf(text::kNoStage, folder, error);
    return std::nullopt;
}

PutBackWriter::PutBackWriter(const BitmapVariant& variant, StageKind kind, const InputFile& input,
                             const korvane::KeptBits& kept, Appender append)
    : variant_(variant),
      kind_(kind),
      input_(input),
      kept_(kept),
      append_(std::move(append)),
      stride_(StageRows(StageSizeOf(variant, kind)).stride),
      rows_(StageSizeOf(variant, kind).rows),
      row_bytes_(std::uint64_t{3} * variant.width),
      rows_per_chunk_(RowsPerChunk(std::max(variant.row_stride, stride_))),
      as_they_come_(kind == StageKind::kPixels && korvane::RowsAsStaged(variant)) {}

bool PutBackWriter::Feed(std::span<const std::uint8_t> edited, std::string& error) {
    // The copy's own header is skipped: the picture keeps the input's.
    const std::uint64_t header_left = korvane::kHeaderSize - std::min<std::uint64_t>(received_, korvane::kHeaderSize);
    const std::size_t skipped = static_cast<std::size_t>(std::min<std::uint64_t>(header_left, edited.size()));
    received_ += skipped;
    edited = edited.subspan(skipped);
    if (edited.empty()) return true;
    if (kind_ == StageKind::kPixels && received_ == korvane::kHeaderSize) {
        if (auto failed = CopyRange(input_, 0, variant_.pixel_offset, append_)) {
            error = *failed;
            return false;
        }
    }
    // Bytes past the copy's rows are none of the picture's.
    const std::uint64_t rows_left = korvane::kHeaderSize + rows_ * stride_ - received_;
    edited = edited.first(static_cast<std::size_t>(std::min<std::uint64_t>(rows_left, edited.size())));
    received_ += edited.size();
    if (as_they_come_) return edited.empty() || append_(edited, error);
    if (kind_ != StageKind::kPixels) {
        pending_.insert(pending_.end(), edited.begin(), edited.end());  // the palette's one row
        return true;
    }
    while (!edited.empty()) {
        // A row split between two pieces is put back with the whole rows after it.
        if (!pending_.empty()) {
            const std::size_t taken =
                static_cast<std::size_t>(std::min<std::uint64_t>(stride_ - pending_.size(), edited.size()));
            pending_.insert(pending_.end(), edited.begin(), edited.begin() + static_cast<std::ptrdiff_t>(taken));
            edited = edited.subspan(taken);
            if (pending_.size() < stride_) return true;
        }
        const std::uint64_t whole = std::min<std::uint64_t>(edited.size() / stride_, rows_per_chunk_);
        const std::span<const std::uint8_t> rows = edited.first(static_cast<std::size_t>(whole * stride_));
        if ((!pending_.empty() || !rows.empty()) && !PutRowsBack(rows, error)) return false;
        edited = edited.subspan(rows.size());
        if (edited.size() < stride_) {
            pending_.assign(edited.begin(), edited.end());
            edited = {};
        }
    }
    return true;
}

// Narrows the edited rows (the completed row held, then `rows`) into the
// input's rows, which keep every other bit, straight from where they came;
// when every pixel kept the same bits, into rows made of them instead.
bool PutBackWriter::PutRowsBack(std::span<const std::uint8_t> rows, std::string& error) {
    const std::uint64_t held = pending_.size() / stride_;
    const std::uint64_t count = held + rows.size() / stride_;
    const auto bytes = static_cast<std::size_t>(count * variant_.row_stride);
    if (kept_.Same()) {
        // Narrowing leaves the kept bits as they are: made once, they serve every chunk.
        const std::size_t made = input_rows_.size();
        if (made < bytes) {
            input_rows_.resize(bytes);
            kept_.Fill(std::span(input_rows_).subspan(made));
        }
    } else if (!ReadExactly(input_, variant_.pixel_offset + rows_done_ * variant_.row_stride, bytes, input_rows_,
                            error)) {
        return false;
    }
    const std::span<std::uint8_t> output = std::span(input_rows_).first(bytes);
    const std::span<const std::uint8_t> first = pending_;
    for (std::uint64_t r = 0; r < count; ++r) {
        const std::span<const std::uint8_t> edited_row =
            r < held ? first.subspan(0, row_bytes_) : rows.subspan((r - held) * stride_, row_bytes_);
        korvane::NarrowRow(variant_, edited_row, output.subspan(r * variant_.row_stride, variant_.row_stride));
    }
    rows_done_ += count;
    pending_.clear();
    return append_(output, error);
}

std::optional<std::string> PutBackWriter::Finish() {
    if (received_ < korvane::kHeaderSize + rows_ * stride_) return std::string(text::kCopyCutShort);
    if (kind_ == StageKind::kPixels) return CopyRange(input_, variant_.RowsEnd(), input_.size(), append_);
    // The palette: the edited row's colours in place of the entries' first three bytes.
    if (auto error = CopyRange(input_, 0, variant_.palette_offset, append_)) return error;
    std::string error;
    auto palette = PaletteEntries(variant_, input_, error);
    if (!palette) return error;
    for (std::size_t i = 0; i < variant_.palette_entries; ++i) {
        std::copy_n(pending_.begin() + 3 * static_cast<std::ptrdiff_t>(i), 3,
                    palette->begin() + static_cast<std::ptrdiff_t>(i * variant_.palette_entry_size));
    }
    if (!append_(*palette, error)) return error;
    return CopyRange(input_, variant_.palette_offset + palette->size(), input_.size(), append_);
}

std::optional<std::string> PutBack(const BitmapVariant& variant, StageKind kind, const InputFile& input,
                                   const korvane::KeptBits& kept, const InputFile& edited, const Appender& append) {
    PutBackWriter writer(variant, kind, input, kept, append);
    std::string error;
    std::vector<std::uint8_t> bytes;
    for (std::uint64_t at = 0;; at += kChunk) {
        if (!edited.ReadInto(at, static_cast<std::size_t>(kChunk), bytes, error) || !writer.Feed(bytes, error)) {
            return error;
        }
        if (bytes.size() < kChunk) break;
    }
    return writer.Finish();
}

Message StageRemark(const BitmapVariant& variant, StageKind kind, bool writes) {
    if (kind == StageKind::kPalette) {
        return MessageOf(writes ? text::kPaletteRemark : text::kPaletteReadRemark, variant.palette_entries);
    }
    return MessageOf(writes ? text::kStagedRemark : text::kStagedReadRemark, variant.width, variant.rows);
}

}  // namespace tintwell_cli
