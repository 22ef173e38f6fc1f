#include "bitmap_layout.h"

#include <algorithm>
#include <cstdint>

namespace korvane {
namespace {

// Walks the header bytes field by field, little-endian, in file order.
// Loads read zero where the bytes end; stores write all 54.
class HeaderCursor {
public:
    explicit HeaderCursor(std::span<const std::uint8_t> bytes) : in_(bytes) {}
    explicit HeaderCursor(std::span<std::uint8_t, kHeaderSize> bytes) : out_(bytes) {}

    template <typename Field>
    void Load(Field& field) {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < sizeof(Field) && offset_ + i < in_.size(); ++i) {
            value |= static_cast<std::uint32_t>(in_[offset_ + i]) << (8 * i);
        }
        field = static_cast<Field>(value);
        offset_ += sizeof(Field);
    }

    template <typename Field>
    void Store(Field field) {
        const auto value = static_cast<std::uint32_t>(field);
        for (std::size_t i = 0; i < sizeof(Field); ++i) {
            out_[offset_ + i] = static_cast<std::uint8_t>(value >> (8 * i));
        }
        offset_ += sizeof(Field);
    }

private:
    std::span<const std::uint8_t> in_;
    std::span<std::uint8_t> out_;
    std::size_t offset_ = 0;
};

// Visits the 15 fields in file order with Load or Store.
template <typename Header, typename Visit>
void ForEachField(Header& h, Visit visit) {
    visit(h.bfType);
    visit(h.bfSize);
    visit(h.bfReserved);
    visit(h.bfOffBits);
    visit(h.biSize);
    visit(h.biWidth);
    visit(h.biHeight);
    visit(h.biPlanes);
    visit(h.biBitCount);
    visit(h.biCompression);
    visit(h.biSizeImage);
    visit(h.biXPelsPerMeter);
    visit(h.biYPelsPerMeter);
    visit(h.biClrUsed);
    visit(h.biClrImportant);
}

}  // namespace

BitmapHeader ParseHeader(std::span<const std::uint8_t> bytes) {
    BitmapHeader header;
    HeaderCursor cursor(bytes.first(std::min(bytes.size(), kHeaderSize)));
    ForEachField(header, [&cursor](auto& field) { cursor.Load(field); });
    return header;
}

void StoreHeader(const BitmapHeader& header, std::span<std::uint8_t, kHeaderSize> bytes) {
    HeaderCursor cursor(bytes);
    ForEachField(header, [&cursor](auto field) { cursor.Store(field); });
}

std::uint32_t RowPadding(const BitmapHeader& header) {
    // The row's byte count may wrap in 32 bits; only its value modulo 4
    // matters, and that survives the wrap.
    const std::uint32_t row_bytes =
        static_cast<std::uint32_t>(header.biWidth) * static_cast<std::uint32_t>(header.biBitCount / 8);
    return (0u - row_bytes) & 3u;
}

std::optional<std::size_t> PixelByteCount(const BitmapHeader& header) {
    // |biWidth * biHeight| <= 2^62 fits in 64 bits; the factor 3 comes after
    // the range check so that it cannot overflow.
    const std::int64_t pixels = std::int64_t{header.biWidth} * header.biHeight;
    if (pixels < 0 || static_cast<std::uint64_t>(pixels) > kMostPixelBytes / kBytesPerPixel) return std::nullopt;
    return static_cast<std::size_t>(pixels) * kBytesPerPixel;
}

RowLayout RowLayout::Of(const BitmapHeader& header) {
    RowLayout layout;
    layout.padding = RowPadding(header);
    // Rows exist only when biHeight > 0 and have pixels only when biWidth > 0;
    // a row without pixels has no padding either.
    if (header.biHeight > 0 && header.biWidth > 0) {
        layout.row_bytes = static_cast<std::size_t>(header.biWidth) * kBytesPerPixel;
        layout.rows = static_cast<std::size_t>(header.biHeight);
    }
    return layout;
}

std::uint64_t RowLayout::FileOffset(std::size_t pixel) const {
    if (row_bytes == 0) return kHeaderSize;
    const std::uint64_t row = pixel / row_bytes;
    return kHeaderSize + row * (row_bytes + padding) + pixel % row_bytes;
}

ByteRange RowLayout::BytesAfterRows(std::uint64_t file_size) const {
    return {FileLength(), std::max(FileLength(), file_size)};
}

}  // namespace korvane
