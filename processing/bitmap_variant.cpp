#include "bitmap_variant.h"

#include <algorithm>
#include <bit>

namespace korvane {
namespace {

// Offsets in the file of the fields that differ between the headers.
constexpr std::size_t kInfoSizeAt = 14;
constexpr std::size_t kInfoFieldsAt = 18;
constexpr std::size_t kCompressionAt = 30;
constexpr std::size_t kColoursUsedAt = 46;
// Bit masks follow the 40 bytes of a Windows information header, inside
// the larger headers and after the 40-byte one.
constexpr std::size_t kMasksAt = 54;
constexpr std::size_t kMaskCount = 3;
constexpr std::uint32_t kMostChannelBits = 8;

// Little-endian fields of the head; bytes past its end read as zero.
std::uint32_t Field(std::span<const std::uint8_t> head, std::size_t at, std::size_t size) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size && at + i < head.size(); ++i) {
        value |= static_cast<std::uint32_t>(head[at + i]) << (8 * i);
    }
    return value;
}

bool KnownInfoSize(std::uint32_t size) {
    switch (size) {
    case kOs2InfoHeaderSize:
    case kOs2ShortInfoHeaderSize:
    case kInfoHeaderSize:
    case kV2InfoHeaderSize:
    case kV3InfoHeaderSize:
    case kOs2LongInfoHeaderSize:
    case kV4InfoHeaderSize:
    case kV5InfoHeaderSize: return true;
    default: return false;
    }
}

bool Os2(std::uint32_t info_size) {
    return info_size == kOs2InfoHeaderSize || info_size == kOs2ShortInfoHeaderSize ||
           info_size == kOs2LongInfoHeaderSize;
}

VariantCheck Refuse(VariantProblem problem, std::int64_t value = 0) {
    return VariantCheck{std::nullopt, VariantRefusal{problem, value}};
}

// The compression methods each bit count can carry, in this header.
std::optional<VariantRefusal> CompressionRefusal(const BitmapVariant& v) {
    const bool os2 = Os2(v.info_size);
    switch (v.compression) {
    case kUncompressed: return std::nullopt;
    case kRle8:
        if (v.bits == 8) return std::nullopt;
        break;
    case kRle4:
        if (v.bits == 4) return std::nullopt;
        break;
    case kBitFields:
        if (os2) return VariantRefusal{VariantProblem::kHuffman};
        if (v.bits == 16 || v.bits == 32) return std::nullopt;
        break;
    case kJpeg: return VariantRefusal{os2 ? VariantProblem::kRle24 : VariantProblem::kEmbeddedJpeg};
    case kPng:
        if (!os2) return VariantRefusal{VariantProblem::kEmbeddedPng};
        break;
    case kAlphaBitFields:
        if (!os2 && (v.bits == 16 || v.bits == 32)) return std::nullopt;
        break;
    default: break;
    }
    return VariantRefusal{VariantProblem::kCompression, v.compression};
}

// A mask as a channel: contiguous, 1 to 8 bits, inside the pixel.
std::optional<VariantRefusal> MaskChannel(std::uint32_t mask, std::uint16_t bits, VariantProblem wrong, int channel,
                                          ChannelMask& out) {
    if (mask == 0) return VariantRefusal{VariantProblem::kEmptyMask, channel};
    const auto shift = static_cast<std::uint32_t>(std::countr_zero(mask));
    const auto width = static_cast<std::uint32_t>(std::popcount(mask));
    const bool contiguous = (mask >> shift) == (std::uint32_t{0xFFFFFFFF} >> (32 - width));
    const bool inside = bits >= 32 || (mask >> bits) == 0;
    if (!contiguous || width > kMostChannelBits || !inside) return VariantRefusal{wrong, mask};
    out = ChannelMask{shift, width};
    return std::nullopt;
}

std::optional<VariantRefusal> ReadMasks(std::span<const std::uint8_t> head, BitmapVariant& v) {
    std::uint32_t masks[kMaskCount];  // red, green, blue
    if (v.compression == kBitFields || v.compression == kAlphaBitFields) {
        if (head.size() < kMasksAt + 4 * kMaskCount) {
            return VariantRefusal{VariantProblem::kHeaderCut, static_cast<std::int64_t>(head.size())};
        }
        for (std::size_t i = 0; i < kMaskCount; ++i) masks[i] = Field(head, kMasksAt + 4 * i, 4);
    } else if (v.bits == 16) {
        masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
    } else {
        masks[0] = 0xFF0000, masks[1] = 0x00FF00, masks[2] = 0x0000FF;
    }
    if ((masks[0] & masks[1]) != 0 || (masks[0] & masks[2]) != 0 || (masks[1] & masks[2]) != 0) {
        return VariantRefusal{VariantProblem::kMasksOverlap};
    }
    if (auto wrong = MaskChannel(masks[0], v.bits, VariantProblem::kRedMask, 0, v.red)) return wrong;
    if (auto wrong = MaskChannel(masks[1], v.bits, VariantProblem::kGreenMask, 1, v.green)) return wrong;
    return MaskChannel(masks[2], v.bits, VariantProblem::kBlueMask, 2, v.blue);
}

// The palette: biClrUsed entries, or 2^bits; where biClrUsed is not given,
// an OS/2 file's palette may be shorter, ending where its pixels start.
std::optional<VariantRefusal> ReadPalette(std::span<const std::uint8_t> head, BitmapVariant& v) {
    const bool has_count = v.info_size >= kInfoHeaderSize;
    const std::uint32_t given = has_count ? Field(head, kColoursUsedAt, 4) : 0;
    const std::uint64_t room = (v.pixel_offset - v.palette_offset) / v.palette_entry_size;
    std::uint64_t entries = given != 0 ? given : std::uint64_t{1} << v.bits;
    if (given == 0) entries = std::min(entries, room);
    if (entries > room || v.palette_offset + entries * v.palette_entry_size > kMostHeadBytes) {
        return VariantRefusal{VariantProblem::kPaletteTooLong, static_cast<std::int64_t>(entries)};
    }
    if (entries == 0) return VariantRefusal{VariantProblem::kPixelsInsideHeader, static_cast<std::int64_t>(v.pixel_offset)};
    v.palette_entries = static_cast<std::uint32_t>(entries);
    return std::nullopt;
}

std::optional<VariantRefusal> SizeRefusal(std::int64_t width, std::int64_t height, BitmapVariant& v) {
    if (width < 0) return VariantRefusal{VariantProblem::kNegativeWidth, width};
    if (width == 0) return VariantRefusal{VariantProblem::kZeroWidth};
    if (height == 0) return VariantRefusal{VariantProblem::kZeroHeight};
    v.width = static_cast<std::uint32_t>(width);
    v.top_down = height < 0;
    v.rows = static_cast<std::uint32_t>(height < 0 ? -height : height);
    if (v.top_down && v.Rle()) return VariantRefusal{VariantProblem::kTopDownRle};
    // A direct-colour picture is staged as 24-bit pixels in the library's one buffer.
    if (!v.Paletted() && !v.FitsAs24Bit()) return VariantRefusal{VariantProblem::kTooManyPixels};
    v.row_stride = (std::uint64_t{v.width} * v.bits + 31) / 32 * 4;
    return std::nullopt;
}

}  // namespace

bool BitmapVariant::LibraryLayout() const {
    return info_size == kInfoHeaderSize && bits == kBitsPerPixel && compression == kUncompressed && !top_down &&
           pixel_offset == kHeaderSize;
}

BitmapHeader BitmapVariant::StageHeader(std::uint32_t width, std::uint32_t rows) {
    BitmapHeader header;
    header.bfType = kBitmapSignature;
    header.bfOffBits = kHeaderSize;
    header.biSize = kInfoHeaderSize;
    header.biWidth = static_cast<std::int32_t>(width);
    header.biHeight = static_cast<std::int32_t>(rows);
    header.biPlanes = 1;
    header.biBitCount = kBitsPerPixel;
    const std::uint64_t pixels = RowLayout::Of(header).FileLength() - kHeaderSize;
    header.biSizeImage = static_cast<std::uint32_t>(pixels);
    header.bfSize = static_cast<std::uint32_t>(pixels + kHeaderSize);
    return header;
}

std::size_t HeadBytesNeeded(std::span<const std::uint8_t> first_bytes) {
    const std::uint32_t offset = ParseHeader(first_bytes).bfOffBits;
    return std::clamp<std::size_t>(offset, kHeaderSize, kMostHeadBytes);
}

VariantCheck DescribeVariant(std::span<const std::uint8_t> head, std::uint64_t file_size) {
    BitmapVariant v;
    v.header = ParseHeader(head);
    if (head.size() < 2 || v.header.bfType != kBitmapSignature) return Refuse(VariantProblem::kNotBmp);
    if (head.size() < kInfoFieldsAt) return Refuse(VariantProblem::kHeaderCut, static_cast<std::int64_t>(head.size()));
    v.info_size = Field(head, kInfoSizeAt, 4);
    if (!KnownInfoSize(v.info_size)) return Refuse(VariantProblem::kInfoHeaderSize, v.info_size);
    if (head.size() < kInfoSizeAt + std::min<std::size_t>(v.info_size, kInfoHeaderSize)) {
        return Refuse(VariantProblem::kHeaderCut, static_cast<std::int64_t>(head.size()));
    }
    std::int64_t width = 0;
    std::int64_t height = 0;
    if (v.info_size == kOs2InfoHeaderSize) {
        width = Field(head, kInfoFieldsAt, 2);
        height = Field(head, kInfoFieldsAt + 2, 2);
        v.bits = static_cast<std::uint16_t>(Field(head, kInfoFieldsAt + 6, 2));
    } else {
        width = v.header.biWidth;
        height = v.header.biHeight;
        v.bits = v.header.biBitCount;
        v.compression = v.info_size > kOs2ShortInfoHeaderSize ? Field(head, kCompressionAt, 4) : kUncompressed;
    }
    v.pixel_offset = v.header.bfOffBits;
    const bool known_bits = v.bits == 1 || v.bits == 2 || v.bits == 4 || v.bits == 8 || v.bits == 16 || v.bits == 24 ||
                            v.bits == 32;
    // JPEG and PNG pictures carry no bit count of their own: their method is the reason.
    if (v.compression == kJpeg || v.compression == kPng || (v.compression == kBitFields && Os2(v.info_size))) {
        if (const auto wrong = CompressionRefusal(v)) return VariantCheck{std::nullopt, wrong};
    }
    if (!known_bits) return Refuse(VariantProblem::kBitsPerPixel, v.bits);
    if (const auto wrong = CompressionRefusal(v)) return VariantCheck{std::nullopt, wrong};
    if (const auto wrong = SizeRefusal(width, height, v)) return VariantCheck{std::nullopt, wrong};
    std::uint64_t masks_end = kFileHeaderSize + v.info_size;
    if (v.info_size == kInfoHeaderSize && v.compression == kBitFields) masks_end += 4 * kMaskCount;
    if (v.info_size == kInfoHeaderSize && v.compression == kAlphaBitFields) masks_end += 4 * (kMaskCount + 1);
    v.palette_offset = masks_end;
    v.palette_entry_size = v.info_size == kOs2InfoHeaderSize ? 3 : 4;
    if (v.pixel_offset < masks_end) return Refuse(VariantProblem::kPixelsInsideHeader, v.header.bfOffBits);
    const auto wrong = v.Paletted() ? ReadPalette(head, v) : ReadMasks(head, v);
    if (wrong) return VariantCheck{std::nullopt, wrong};
    const std::uint64_t needed = v.Rle() ? v.pixel_offset : v.RowsEnd();
    if (file_size < needed) return Refuse(VariantProblem::kFileCut, static_cast<std::int64_t>(needed));
    return VariantCheck{v, std::nullopt};
}

std::uint8_t WidenChannel(std::uint32_t value, std::uint32_t bits) {
    std::uint32_t wide = 0;
    std::uint32_t filled = 0;
    while (filled < kMostChannelBits) {
        wide = (wide << bits) | value;
        filled += bits;
    }
    return static_cast<std::uint8_t>(wide >> (filled - kMostChannelBits));
}

std::uint32_t NarrowChannel(std::uint8_t value, std::uint32_t bits) { return value >> (kMostChannelBits - bits); }

namespace {

std::uint32_t Low(std::uint32_t bits) { return bits >= 32 ? 0xFFFFFFFF : (std::uint32_t{1} << bits) - 1; }

std::uint8_t Channel(std::uint32_t pixel, const ChannelMask& mask) {
    return WidenChannel((pixel >> mask.shift) & Low(mask.bits), mask.bits);
}

std::uint32_t Placed(std::uint8_t value, const ChannelMask& mask) { return NarrowChannel(value, mask.bits) << mask.shift; }

}  // namespace

namespace {

// Whether each channel is a whole byte of the pixel (24 bits, 8-8-8 and
// 8-8-8-8 in any order): then widening and narrowing only move bytes.
bool ByteChannels(const BitmapVariant& v) {
    for (const ChannelMask* mask : {&v.blue, &v.green, &v.red}) {
        if (mask->bits != kMostChannelBits || mask->shift % 8 != 0) return false;
    }
    return true;
}

}  // namespace

void WidenRow(const BitmapVariant& v, std::span<const std::uint8_t> row, std::span<std::uint8_t> bgr) {
    const std::size_t size = v.bits / 8;
    if (ByteChannels(v)) {
        const std::size_t blue = v.blue.shift / 8, green = v.green.shift / 8, red = v.red.shift / 8;
        for (std::size_t x = 0; x < v.width; ++x) {
            bgr[3 * x] = row[x * size + blue];
            bgr[3 * x + 1] = row[x * size + green];
            bgr[3 * x + 2] = row[x * size + red];
        }
        return;
    }
    for (std::size_t x = 0; x < v.width; ++x) {
        const std::uint32_t pixel = Field(row, x * size, size);
        bgr[3 * x] = Channel(pixel, v.blue);
        bgr[3 * x + 1] = Channel(pixel, v.green);
        bgr[3 * x + 2] = Channel(pixel, v.red);
    }
}

void NarrowRow(const BitmapVariant& v, std::span<const std::uint8_t> bgr, std::span<std::uint8_t> row) {
    const std::size_t size = v.bits / 8;
    if (ByteChannels(v)) {
        const std::size_t blue = v.blue.shift / 8, green = v.green.shift / 8, red = v.red.shift / 8;
        for (std::size_t x = 0; x < v.width; ++x) {
            row[x * size + blue] = bgr[3 * x];
            row[x * size + green] = bgr[3 * x + 1];
            row[x * size + red] = bgr[3 * x + 2];
        }
        return;
    }
    const std::uint32_t colour = (Low(v.blue.bits) << v.blue.shift) | (Low(v.green.bits) << v.green.shift) |
                                 (Low(v.red.bits) << v.red.shift);
    for (std::size_t x = 0; x < v.width; ++x) {
        std::uint32_t pixel = Field(row, x * size, size) & ~colour;
        pixel |= Placed(bgr[3 * x], v.blue) | Placed(bgr[3 * x + 1], v.green) | Placed(bgr[3 * x + 2], v.red);
        for (std::size_t i = 0; i < size; ++i) row[x * size + i] = static_cast<std::uint8_t>(pixel >> (8 * i));
    }
}

RleWalk::RleWalk(const BitmapVariant& variant)
    : width_(variant.row_stride * 8 / variant.bits),
      rows_(variant.rows),
      pixels_per_byte_(variant.compression == kRle4 ? 2 : 1) {}

bool RleWalk::Place(std::uint64_t pixels) {
    if (y_ >= rows_ || x_ + pixels > width_) return false;
    paint_at_ = x_;
    x_ += pixels;
    return true;
}

// Paints `pixels` indices from `byte`: one index, or in RLE4 two
// alternating, the high nibble first.
void RleWalk::Paint(std::uint8_t byte, std::uint64_t pixels) {
    if (sink_ == nullptr) return;
    for (std::uint64_t i = 0; i < pixels; ++i, ++paint_at_) {
        row_[paint_at_] = pixels_per_byte_ == 1 ? byte : (i % 2 == 0 ? byte >> 4 : byte & 0xF);
    }
}

// Hands over the rows up to `until`: the one being decoded, then empty ones.
void RleWalk::EndRows(std::uint64_t until) {
    const std::uint64_t end = std::min(until, rows_);
    if (sink_ == nullptr) {
        y_ = std::max(y_, end);
        return;
    }
    for (; y_ < end; ++y_) {
        (*sink_)(row_);
        std::fill(row_.begin(), row_.end(), std::uint8_t{0});
    }
}

void RleWalk::Step(std::uint8_t byte) {
    switch (state_) {
    case State::kCode:
        first_ = byte;
        state_ = State::kCount;
        return;
    case State::kCount:
        if (first_ > 0) {
            state_ = Place(first_) ? State::kCode : State::kDamaged;
            if (state_ == State::kCode) Paint(byte, first_);
        } else if (byte == 0) {  // end of the row
            x_ = 0;
            state_ = y_ < rows_ ? State::kCode : State::kDamaged;
            EndRows(y_ + 1);
        } else if (byte == 1) {
            EndRows(rows_);
            state_ = State::kEnded;
        } else if (byte == 2) {
            state_ = State::kDeltaX;
        } else {
            const std::uint64_t bytes = (byte + pixels_per_byte_ - 1) / pixels_per_byte_;
            literal_left_ = bytes + (bytes & 1);  // literal runs are padded to 16 bits
            literal_pixels_ = byte;
            state_ = Place(byte) ? State::kLiteral : State::kDamaged;
        }
        return;
    case State::kDeltaX:
        first_ = byte;
        state_ = State::kDeltaY;
        return;
    case State::kDeltaY: {
        const std::uint64_t x = x_ + first_;
        const std::uint64_t y = y_ + byte;
        if (x > width_ || y > rows_ || (y == rows_ && x > 0)) {
            state_ = State::kDamaged;
            return;
        }
        EndRows(y);
        x_ = x;
        y_ = y;
        state_ = State::kCode;
        return;
    }
    case State::kLiteral: {
        const std::uint64_t painted = std::min<std::uint64_t>(literal_pixels_, pixels_per_byte_);
        Paint(byte, painted);
        literal_pixels_ -= painted;
        if (--literal_left_ == 0) state_ = State::kCode;
        return;
    }
    case State::kEnded:
    case State::kDamaged: return;
    }
}

bool RleWalk::Feed(std::span<const std::uint8_t> bytes, const RowSink& sink) {
    sink_ = sink ? &sink : nullptr;
    if (sink_ != nullptr && row_.empty()) row_.assign(static_cast<std::size_t>(width_), 0);
    for (std::size_t at = 0; at < bytes.size() && state_ != State::kEnded && state_ != State::kDamaged;) {
        if (sink_ == nullptr && state_ == State::kLiteral && literal_left_ > 1) {
            // Only walking: the literal's bytes are indices, skipped at once.
            const std::uint64_t skip = std::min<std::uint64_t>(literal_left_ - 1, bytes.size() - at);
            literal_left_ -= skip;
            at += static_cast<std::size_t>(skip);
            continue;
        }
        Step(bytes[at++]);
    }
    sink_ = nullptr;
    return state_ != State::kDamaged;
}

}  // namespace korvane
