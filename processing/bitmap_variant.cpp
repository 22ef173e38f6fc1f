#include "bitmap_variant.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>

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

namespace {

constexpr std::uint8_t Widened(std::uint32_t value, std::uint32_t bits) {
    std::uint32_t wide = 0;
    std::uint32_t filled = 0;
    while (filled < kMostChannelBits) {
        wide = (wide << bits) | value;
        filled += bits;
    }
    return static_cast<std::uint8_t>(wide >> (filled - kMostChannelBits));
}

// Every channel value widened, by its width: one look-up a channel.
using WideningTable = std::array<std::array<std::uint8_t, 256>, kMostChannelBits + 1>;
constexpr WideningTable kWidened = [] {
    WideningTable table{};
    for (std::uint32_t bits = 1; bits <= kMostChannelBits; ++bits) {
        for (std::uint32_t value = 0; value < (1u << bits); ++value) table[bits][value] = Widened(value, bits);
    }
    return table;
}();

}  // namespace

std::uint8_t WidenChannel(std::uint32_t value, std::uint32_t bits) { return Widened(value, bits); }

std::uint32_t NarrowChannel(std::uint8_t value, std::uint32_t bits) { return value >> (kMostChannelBits - bits); }

namespace {

std::uint32_t Low(std::uint32_t bits) { return bits >= 32 ? 0xFFFFFFFF : (std::uint32_t{1} << bits) - 1; }

// Whether each channel is a whole byte of the pixel (24 bits, 8-8-8 and
// 8-8-8-8 in any order).
bool ByteChannels(const BitmapVariant& v) {
    for (const ChannelMask* mask : {&v.blue, &v.green, &v.red}) {
        if (mask->bits != kMostChannelBits || mask->shift % 8 != 0) return false;
    }
    return true;
}

// Pixels of `row` and their blue, green, red bytes in `bgr` that both spans hold.
std::size_t PixelsHeld(const BitmapVariant& v, std::span<const std::uint8_t> row, std::span<const std::uint8_t> bgr) {
    return std::min<std::size_t>({v.width, row.size() / (v.bits / 8), bgr.size() / 3});
}

constexpr bool kLittleEndian = std::endian::native == std::endian::little;

// A pixel of kSize bytes, little-endian; the loops are made per size so
// that each compiles to plain loads and stores.
template <std::size_t kSize>
std::uint32_t PixelAt(const std::uint8_t* at) {
    std::uint32_t pixel = 0;
    if constexpr (kLittleEndian && kSize != 3) {
        std::memcpy(&pixel, at, kSize);
    } else {
        for (std::size_t i = 0; i < kSize; ++i) pixel |= static_cast<std::uint32_t>(at[i]) << (8 * i);
    }
    return pixel;
}

template <std::size_t kSize>
void StorePixel(std::uint8_t* at, std::uint32_t pixel) {
    if constexpr (kLittleEndian && kSize != 3) {
        std::memcpy(at, &pixel, kSize);
    } else {
        for (std::size_t i = 0; i < kSize; ++i) at[i] = static_cast<std::uint8_t>(pixel >> (8 * i));
    }
}

// A copy's blue, green, red bytes as the low three bytes of a number: four
// bytes move at once where a fourth follows (every pixel but a row's last).
std::uint32_t LoadBgr(const std::uint8_t* at, bool fourth_follows) {
    if (kLittleEndian && fourth_follows) return PixelAt<4>(at);
    return PixelAt<3>(at);
}

void StoreBgr(std::uint8_t* at, std::uint32_t bgr, bool fourth_follows) {
    if (kLittleEndian && fourth_follows) {
        StorePixel<4>(at, bgr);
    } else {
        StorePixel<3>(at, bgr);
    }
}

// Calls step(x, fourth_follows) for each pixel: the last apart, so that
// the loop over the others has no test of its own.
template <typename Step>
void EachPixel(std::size_t count, Step step) {
    if (count == 0) return;
    for (std::size_t x = 0; x + 1 < count; ++x) step(x, true);
    step(count - 1, false);
}

// A pixel's channel widened, by a look-up.
std::uint32_t Widen(std::uint32_t pixel, const ChannelMask& mask) {
    return kWidened[mask.bits][(pixel >> mask.shift) & Low(mask.bits)];
}

// The three masks, held in locals: the loops store bytes, which could
// otherwise alias the variant and be read again each pixel. Colour() is a
// pixel's blue, green and red widened, as the low three bytes.
struct Masks {
    ChannelMask blue, green, red;
    std::uint32_t Colour(std::uint32_t pixel) const {
        return Widen(pixel, blue) | Widen(pixel, green) << 8 | Widen(pixel, red) << 16;
    }
};
// The usual 16-bit masks, known when compiled: their shifts fold into the loops.
template <std::uint32_t kBlueBits, std::uint32_t kGreenBits, std::uint32_t kRedBits>
struct FixedMasks {
    static constexpr ChannelMask blue{0, kBlueBits}, green{kBlueBits, kGreenBits},
        red{kBlueBits + kGreenBits, kRedBits};
    static std::uint32_t Colour(std::uint32_t pixel) {
        return Widen(pixel, blue) | Widen(pixel, green) << 8 | Widen(pixel, red) << 16;
    }
};
using Masks565 = FixedMasks<5, 6, 5>;
using Masks555 = FixedMasks<5, 5, 5>;

// The colour of every 16-bit pixel of fixed masks, made on first use
// (256 KiB): widening is then one look-up a pixel instead of three.
template <typename Fixed>
struct LookedUp {
    static const std::array<std::uint32_t, 1u << 16>& Table() {
        static const auto table = [] {
            auto colours = std::make_unique<std::array<std::uint32_t, 1u << 16>>();
            for (std::uint32_t pixel = 0; pixel < colours->size(); ++pixel) (*colours)[pixel] = Fixed::Colour(pixel);
            return colours;
        }();
        return *table;
    }
    const std::array<std::uint32_t, 1u << 16>& colours = Table();
    std::uint32_t Colour(std::uint32_t pixel) const { return colours[pixel & 0xFFFF]; }
};

template <typename Fixed>
bool Are(const BitmapVariant& v) {
    const auto same = [](const ChannelMask& a, const ChannelMask& b) { return a.shift == b.shift && a.bits == b.bits; };
    return v.bits == 16 && same(v.blue, Fixed::blue) && same(v.green, Fixed::green) && same(v.red, Fixed::red);
}

// The colour's byte `byte` (0 blue, 1 green, 2 red) narrowed into its place.
std::uint32_t Narrow(std::uint32_t colour, std::uint32_t byte, const ChannelMask& mask) {
    return ((colour >> (8 * byte) & 0xFF) >> (kMostChannelBits - mask.bits)) << mask.shift;
}

// The direction a row's pixels move: into the copy's bytes, or back.
struct Widening {};
struct Narrowing {};

template <std::size_t kSize, typename M>
void MovePixels(Widening, const M& m, const std::uint8_t* row, std::uint8_t* bgr, std::size_t count) {
    EachPixel(count, [&](std::size_t x, bool fourth_follows) {
        StoreBgr(bgr + 3 * x, m.Colour(PixelAt<kSize>(row + kSize * x)), fourth_follows);
    });
}

template <std::size_t kSize, typename M>
void MovePixels(Narrowing, const M& m, const std::uint8_t* bgr, std::uint8_t* row, std::size_t count) {
    const std::uint32_t kept = ~((Low(m.blue.bits) << m.blue.shift) | (Low(m.green.bits) << m.green.shift) |
                                 (Low(m.red.bits) << m.red.shift));
    EachPixel(count, [&](std::size_t x, bool fourth_follows) {
        std::uint8_t* at = row + kSize * x;
        const std::uint32_t colour = LoadBgr(bgr + 3 * x, fourth_follows);
        StorePixel<kSize>(at, (PixelAt<kSize>(at) & kept) | Narrow(colour, 0, m.blue) | Narrow(colour, 1, m.green) |
                                  Narrow(colour, 2, m.red));
    });
}

// Pixels whose channels are whole bytes (ByteChannels): widening and
// narrowing only move bytes.
struct ChannelBytes {
    std::size_t size, blue, green, red;
    explicit ChannelBytes(const BitmapVariant& v)
        : size(v.bits / 8), blue(v.blue.shift / 8), green(v.green.shift / 8), red(v.red.shift / 8) {}
};

// The usual 32-bit order: blue, green, red, then a kept byte. A pixel's
// first three bytes are then the copy's, and four move at once.
bool UsualBytes(const BitmapVariant& v) {
    return v.bits == 32 && ByteChannels(v) && v.blue.shift == 0 && v.green.shift == 8 && v.red.shift == 16;
}
constexpr std::uint32_t kColourBytes = 0xFFFFFF;

void MoveUsual(Widening, const std::uint8_t* row, std::uint8_t* bgr, std::size_t count) {
    EachPixel(count, [&](std::size_t x, bool fourth_follows) {
        StoreBgr(bgr + 3 * x, PixelAt<4>(row + 4 * x), fourth_follows);
    });
}

void MoveUsual(Narrowing, const std::uint8_t* bgr, std::uint8_t* row, std::size_t count) {
    EachPixel(count, [&](std::size_t x, bool fourth_follows) {
        std::uint8_t* at = row + 4 * x;
        StorePixel<4>(at, (PixelAt<4>(at) & ~kColourBytes) | (LoadBgr(bgr + 3 * x, fourth_follows) & kColourBytes));
    });
}

void MoveBytes(Widening, const ChannelBytes& b, const std::uint8_t* row, std::uint8_t* bgr, std::size_t count) {
    for (std::size_t x = 0; x < count; ++x) {
        bgr[3 * x] = row[x * b.size + b.blue];
        bgr[3 * x + 1] = row[x * b.size + b.green];
        bgr[3 * x + 2] = row[x * b.size + b.red];
    }
}

void MoveBytes(Narrowing, const ChannelBytes& b, const std::uint8_t* bgr, std::uint8_t* row, std::size_t count) {
    for (std::size_t x = 0; x < count; ++x) {
        row[x * b.size + b.blue] = bgr[3 * x];
        row[x * b.size + b.green] = bgr[3 * x + 1];
        row[x * b.size + b.red] = bgr[3 * x + 2];
    }
}

// Whether a row's pixels are blue, green, red bytes already, as the copy's are.
bool CopyOrder(const BitmapVariant& v) {
    return v.bits == 24 && ByteChannels(v) && v.blue.shift == 0 && v.green.shift == 8 && v.red.shift == 16;
}

// The usual 16-bit masks: widened by the look-up, narrowed by shifts.
template <typename Fixed>
void MoveFixed(Widening way, const std::uint8_t* row, std::uint8_t* bgr, std::size_t count) {
    MovePixels<2>(way, LookedUp<Fixed>{}, row, bgr, count);
}
template <typename Fixed>
void MoveFixed(Narrowing way, const std::uint8_t* bgr, std::uint8_t* row, std::size_t count) {
    MovePixels<2>(way, Fixed{}, bgr, row, count);
}

// Moves a row's pixels the way asked, by the loop that fits them.
template <typename Way>
void MoveRow(Way way, const BitmapVariant& v, const std::uint8_t* from, std::uint8_t* to, std::size_t count) {
    const Masks masks{v.blue, v.green, v.red};
    if (CopyOrder(v)) {
        std::copy_n(from, 3 * count, to);
    } else if (UsualBytes(v)) {
        MoveUsual(way, from, to, count);
    } else if (ByteChannels(v)) {
        MoveBytes(way, ChannelBytes(v), from, to, count);
    } else if (Are<Masks565>(v)) {
        MoveFixed<Masks565>(way, from, to, count);
    } else if (Are<Masks555>(v)) {
        MoveFixed<Masks555>(way, from, to, count);
    } else if (v.bits == 16) {
        MovePixels<2>(way, masks, from, to, count);
    } else if (v.bits == 24) {
        MovePixels<3>(way, masks, from, to, count);
    } else if (v.bits == 32) {
        MovePixels<4>(way, masks, from, to, count);
    }
}

}  // namespace

bool RowsAsStaged(const BitmapVariant& v) { return CopyOrder(v) && v.row_stride == std::uint64_t{3} * v.width; }

namespace {

// The bits of a pixel outside its three masks.
std::uint32_t KeptMask(const BitmapVariant& v) {
    const std::uint32_t colour =
        (Low(v.blue.bits) << v.blue.shift) | (Low(v.green.bits) << v.green.shift) | (Low(v.red.bits) << v.red.shift);
    return Low(v.bits) & ~colour;
}

// Every pixel's kept bits ANDed into `all` and ORed into `any`.
template <std::size_t kSize>
void NotePixels(const std::uint8_t* row, std::size_t count, std::uint32_t& all, std::uint32_t& any) {
    std::uint32_t row_all = all, row_any = any;
    for (std::size_t x = 0; x < count; ++x) {
        const std::uint32_t pixel = PixelAt<kSize>(row + kSize * x);
        row_all &= pixel;
        row_any |= pixel;
    }
    all = row_all, any = row_any;
}

}  // namespace

KeptBits::KeptBits(const BitmapVariant& v)
    : mask_(v.Paletted() ? 0 : KeptMask(v)),
      size_(v.bits / 8),
      unpadded_(!v.Paletted() && v.row_stride * 8 == std::uint64_t{v.bits} * v.width) {}

void KeptBits::Note(std::span<const std::uint8_t> rows) {
    if (!unpadded_ || mask_ == 0) return;
    const std::size_t count = rows.size() / size_;
    if (size_ == 2) NotePixels<2>(rows.data(), count, all_, any_);
    if (size_ == 3) NotePixels<3>(rows.data(), count, all_, any_);
    if (size_ == 4) NotePixels<4>(rows.data(), count, all_, any_);
}

bool KeptBits::Same() const { return unpadded_ && (all_ & mask_) == (any_ & mask_); }

void KeptBits::Fill(std::span<std::uint8_t> rows) const {
    const std::uint32_t pixel = all_ & mask_;
    std::uint8_t bytes[4];
    for (std::size_t i = 0; i < size_; ++i) bytes[i] = static_cast<std::uint8_t>(pixel >> (8 * i));
    for (std::size_t at = 0; at + size_ <= rows.size(); at += size_) std::copy_n(bytes, size_, rows.begin() + at);
}

void WidenRow(const BitmapVariant& v, std::span<const std::uint8_t> row, std::span<std::uint8_t> bgr) {
    MoveRow(Widening{}, v, row.data(), bgr.data(), PixelsHeld(v, row, bgr));
}

void NarrowRow(const BitmapVariant& v, std::span<const std::uint8_t> bgr, std::span<std::uint8_t> row) {
    MoveRow(Narrowing{}, v, bgr.data(), row.data(), PixelsHeld(v, row, bgr));
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
