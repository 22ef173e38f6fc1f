// The layout model of the other BMP kinds: channel widening and narrowing,
// what the check makes of each header, and the RLE walk. The pixels of real
// files, edited through the host, are checked by ecosystem/bmp_variants_test.py.
#include <gtest/gtest.h>

#include <random>

#include "bitmap_builder.h"
#include "bitmap_variant.h"
#include "picture_check.h"

namespace tintwell_test {
namespace {

using korvane::BitmapVariant;

TEST(ChannelWidth, NarrowingAWidenedValueGivesItBackAtEveryDepth) {
    for (std::uint32_t bits = 1; bits <= 8; ++bits) {
        const std::uint32_t top = (1u << bits) - 1;
        EXPECT_EQ(korvane::WidenChannel(0, bits), 0) << bits;
        EXPECT_EQ(korvane::WidenChannel(top, bits), 255) << bits;
        for (std::uint32_t value = 0; value <= top; ++value) {
            EXPECT_EQ(korvane::NarrowChannel(korvane::WidenChannel(value, bits), bits), value) << bits << " " << value;
        }
    }
    // Repeated bits, not value * 255 / 31: 10000 becomes 10000100.
    EXPECT_EQ(korvane::WidenChannel(0b10000, 5), 0b10000100);
    EXPECT_EQ(korvane::WidenChannel(0b101, 3), 0b10110110);
    EXPECT_EQ(korvane::WidenChannel(0b10, 2), 0b10101010);
}

Bytes Masks(std::initializer_list<std::uint32_t> masks) {
    Bytes bytes;
    for (std::uint32_t mask : masks) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(mask >> (8 * i)));
    }
    return bytes;
}

struct KindCase {
    const char* name;
    Bytes file;
    std::optional<std::string> refusal;  // nothing: adapted
    friend void PrintTo(const KindCase& c, std::ostream* os) { *os << c.name; }
};

class PictureKinds : public testing::TestWithParam<KindCase> {};

TEST_P(PictureKinds, AdaptedOrRefusedWithTheReason) {
    const KindCase& c = GetParam();
    const tintwell_cli::PictureVerdict verdict = tintwell_cli::CheckPicture(c.file, c.file.size());
    EXPECT_EQ(verdict.refusal, c.refusal);
    EXPECT_EQ(verdict.variant.has_value(), !c.refusal);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, PictureKinds,
    testing::Values(
        KindCase{"os2_24_bits", VariantFile(12, 3, 2, 24, 0, {}, 2 * 12), std::nullopt},
        KindCase{"os2_palette_shorter_than_its_bits", VariantFile(12, 3, 2, 8, 0, Bytes(3 * 5), 2 * 4), std::nullopt},
        KindCase{"v5_24_bits", VariantFile(124, 3, 2, 24, 0, {}, 2 * 12), std::nullopt},
        KindCase{"top_down", VariantFile(40, 3, -2, 24, 0, {}, 2 * 12), std::nullopt},
        KindCase{"bit_fields_565", VariantFile(40, 3, 2, 16, 3, Masks({0xF800, 0x07E0, 0x001F}), 2 * 8), std::nullopt},
        KindCase{"alpha_bit_fields_4444", VariantFile(40, 3, 2, 16, 6, Masks({0x0F00, 0x00F0, 0x000F, 0xF000}), 2 * 8),
                 std::nullopt},
        KindCase{"mask_ten_bits", VariantFile(40, 3, 2, 32, 3, Masks({0x3FF00000, 0xFFC00, 0x3FF}), 2 * 12),
                 "its red mask 0x3FF00000 is wider than 8 bits or not contiguous"},
        KindCase{"mask_with_a_hole", VariantFile(40, 3, 2, 16, 3, Masks({0xF800, 0x05E0, 0x001F}), 2 * 8),
                 "its green mask 0x5E0 is wider than 8 bits or not contiguous"},
        KindCase{"mask_past_the_pixel", VariantFile(40, 3, 2, 16, 3, Masks({0x1F0000, 0x07E0, 0x001F}), 2 * 8),
                 "its red mask 0x1F0000 is wider than 8 bits or not contiguous"},
        KindCase{"masks_overlap", VariantFile(40, 3, 2, 16, 3, Masks({0xF800, 0x0FE0, 0x001F}), 2 * 8),
                 "its colour masks overlap"},
        KindCase{"empty_green_mask", VariantFile(40, 3, 2, 16, 3, Masks({0xF800, 0, 0x001F}), 2 * 8),
                 "an empty green mask: the picture has no green"},
        KindCase{"os2_huffman", VariantFile(64, 3, 2, 1, 3, Bytes(8), 2 * 4), "OS/2 Huffman-coded pixels"},
        KindCase{"os2_rle24", VariantFile(64, 3, 2, 24, 4, {}, 2 * 12), "OS/2 RLE24-coded pixels"},
        KindCase{"jpeg", VariantFile(124, 3, 2, 0, 4, {}, 100), "an embedded JPEG picture, not BMP pixels"},
        KindCase{"sixty_four_bits", VariantFile(124, 3, 2, 64, 0, {}, 2 * 24), "64 bits per pixel"},
        KindCase{"rle8_at_4_bits", VariantFile(40, 3, 2, 4, 1, Bytes(64), 10), "compressed pixels (RLE8)"},
        KindCase{"palette_into_the_pixels",
                 [] {
                     Bytes file = VariantFile(40, 3, 2, 8, 0, Bytes(8), 2 * 4);
                     PutLittleEndian(file, 46, 3);
                     return file;
                 }(),
                 "a palette of 3 colours that runs into its pixels"},
        KindCase{"unknown_header", VariantFile(44, 3, 2, 24, 0, {}, 2 * 12), "an unknown 44-byte information header"},
        KindCase{"cut_short", VariantFile(108, 3, 2, 32, 0, {}, 2 * 12 - 1),
                 "the file ends after 145 of 146 bytes"}));

// An RLE stream, fed whole and byte by byte, as the walk judges it.
struct RleCase {
    const char* name;
    std::uint16_t bits;
    std::int32_t width;
    Bytes stream;
    bool ended;
    bool damaged;
    friend void PrintTo(const RleCase& c, std::ostream* os) { *os << c.name; }
};

class RleWalking : public testing::TestWithParam<RleCase> {};

BitmapVariant RlePicture(std::uint16_t bits, std::int32_t width, std::size_t stream_bytes) {
    const Bytes palette(4u << bits, 0);
    const Bytes file = VariantFile(40, width, 2, bits, bits == 8 ? 1 : 2, palette, stream_bytes);
    return *korvane::DescribeVariant(file, file.size()).variant;
}

TEST_P(RleWalking, EndsOrIsDamagedWhereTheStreamSays) {
    const RleCase& c = GetParam();
    const BitmapVariant picture = RlePicture(c.bits, c.width, c.stream.size());
    korvane::RleWalk whole(picture);
    whole.Feed(c.stream);
    EXPECT_EQ(whole.Ended(), c.ended);
    EXPECT_EQ(whole.Damaged(), c.damaged);
    korvane::RleWalk bytewise(picture);
    for (std::uint8_t byte : c.stream) bytewise.Feed(std::span(&byte, 1));
    EXPECT_EQ(bytewise.Ended(), c.ended);
    EXPECT_EQ(bytewise.Damaged(), c.damaged);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, RleWalking,
    testing::Values(
        RleCase{"rle8_whole", 8, 4, {4, 1, 0, 0, 4, 2, 0, 1}, true, false},
        RleCase{"rle8_literal", 8, 4, {0, 3, 1, 2, 3, 0, 0, 0, 0, 1}, true, false},
        // Width 3 pads each row to 4 bytes: a run of 4 spills into the padding.
        RleCase{"run_into_the_padding", 8, 3, {4, 1, 0, 0, 4, 2, 0, 1}, true, false},
        RleCase{"run_past_the_padding", 8, 3, {5, 1, 0, 1}, false, true},
        RleCase{"no_end_code", 8, 4, {4, 1, 0, 0, 4, 2}, false, false},
        RleCase{"move_past_the_rows", 8, 4, {0, 2, 0, 3}, false, true},
        RleCase{"move_past_the_row", 8, 4, {0, 2, 5, 0}, false, true},
        RleCase{"move_to_the_end", 8, 4, {0, 2, 0, 2, 0, 1}, true, false},
        RleCase{"a_row_too_many", 8, 4, {0, 0, 0, 0, 0, 0}, false, true},
        RleCase{"pixels_after_the_last_row", 8, 4, {0, 0, 0, 0, 1, 7}, false, true},
        RleCase{"literal_cut", 8, 4, {0, 4, 1, 2}, false, false},
        RleCase{"rle4_odd_literal", 4, 3, {0, 3, 0x12, 0x30, 0, 0, 3, 0x45, 0, 1}, true, false},
        // RLE4 rows of 3 pixels pad to 8 pixels (4 bytes).
        RleCase{"rle4_run_into_the_padding", 4, 3, {8, 0x12, 0, 1}, true, false},
        RleCase{"rle4_run_past_the_padding", 4, 3, {9, 0x12, 0, 1}, false, true}));

TEST(RleDecoding, RowsBottomFirstWithSkippedPixelsAsIndexZero) {
    // A run of 5 alternating 1 and 2, the row's end, a move of two to the
    // right, a literal of 3 pixels (A, B, C), the end.
    const Bytes stream = {5, 0x12, 0, 0, 0, 2, 2, 0, 0, 3, 0xAB, 0xC0, 0, 1};
    const BitmapVariant picture = RlePicture(4, 6, stream.size());
    std::vector<Bytes> rows;
    korvane::RleWalk walk(picture);
    const korvane::RleWalk::RowSink sink = [&rows](std::span<const std::uint8_t> row) {
        rows.emplace_back(row.begin(), row.begin() + 6);
    };
    walk.Feed(stream, sink);
    EXPECT_TRUE(walk.Ended());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (Bytes{1, 2, 1, 2, 1, 0}));
    EXPECT_EQ(rows[1], (Bytes{0, 0, 0xA, 0xB, 0xC, 0}));
}

TEST(DirectRows, EditedChannelsGoBackAndEveryOtherBitStays) {
    // 4-4-4-4 with alpha in the top bits: a pixel 0xA5C3 has alpha 0xA.
    const Bytes file = VariantFile(40, 2, 1, 16, 6, Masks({0x0F00, 0x00F0, 0x000F, 0xF000}), 4);
    BitmapVariant picture = *korvane::DescribeVariant(file, file.size()).variant;
    const Bytes row = {0xC3, 0xA5, 0x00, 0xF0};
    Bytes bgr(6);
    korvane::WidenRow(picture, row, bgr);
    EXPECT_EQ(bgr, (Bytes{0x33, 0xCC, 0x55, 0x00, 0x00, 0x00}));
    Bytes edited = row;
    korvane::NarrowRow(picture, bgr, edited);
    EXPECT_EQ(edited, row);
    const Bytes inverted = {0xCC, 0x33, 0xAA, 0xFF, 0xFF, 0xFF};
    korvane::NarrowRow(picture, inverted, edited);
    EXPECT_EQ(edited, (Bytes{0x3C, 0xAA, 0xFF, 0xFF}));
}

// Every loop that widens and narrows rows (bytes moved as they are, the
// usual 32-bit order, other byte orders, the 5-6-5 and 5-5-5 masks known
// when compiled, any other masks) gives what the channel rule gives, pixel
// by pixel, up to a row's last pixel and not a byte past it (the spans are
// exactly as long as the pixels: ASan sees a byte written beyond).
struct RowLoopCase {
    const char* name;
    std::uint16_t bits;
    std::uint32_t compression;
    Bytes masks;  // red, green, blue[, alpha]
};

std::uint32_t PixelOf(const Bytes& row, std::size_t at, std::size_t size) {
    std::uint32_t pixel = 0;
    for (std::size_t i = 0; i < size; ++i) pixel |= static_cast<std::uint32_t>(row[at + i]) << (8 * i);
    return pixel;
}

TEST(DirectRows, EveryLoopFollowsTheChannelRule) {
    constexpr std::int32_t kWidth = 7;
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255);
    for (const RowLoopCase& c : {RowLoopCase{"24-bit", 24, 0, {}}, RowLoopCase{"32-bit BI_RGB", 32, 0, {}},
                                 RowLoopCase{"32-bit, red first", 32, 3, Masks({0xFF, 0xFF00, 0xFF0000})},
                                 RowLoopCase{"16-bit 5-6-5", 16, 3, Masks({0xF800, 0x07E0, 0x001F})},
                                 RowLoopCase{"16-bit 5-5-5", 16, 0, {}},
                                 RowLoopCase{"16-bit 4-4-4-4", 16, 6, Masks({0x0F00, 0x00F0, 0x000F, 0xF000})},
                                 RowLoopCase{"32-bit 5-6-5 in its low bits", 32, 3, Masks({0xF800, 0x07E0, 0x001F})}}) {
        const std::size_t size = c.bits / 8;
        const Bytes file = VariantFile(40, kWidth, 1, c.bits, c.compression, c.masks, (kWidth * size + 3) / 4 * 4);
        const std::optional<BitmapVariant> picture = korvane::DescribeVariant(file, file.size()).variant;
        ASSERT_TRUE(picture) << c.name;
        Bytes row(kWidth * size), bgr(kWidth * 3), edited_bgr(kWidth * 3);
        for (auto* bytes : {&row, &edited_bgr}) {
            for (auto& value : *bytes) value = static_cast<std::uint8_t>(byte(random));
        }
        korvane::WidenRow(*picture, row, bgr);
        Bytes narrowed = row;
        korvane::NarrowRow(*picture, edited_bgr, narrowed);
        for (std::size_t x = 0; x < kWidth; ++x) {
            const std::uint32_t pixel = PixelOf(row, x * size, size);
            std::uint32_t expected = pixel;
            for (std::size_t channel = 0; channel < 3; ++channel) {
                const korvane::ChannelMask& mask = channel == 0 ? picture->blue : channel == 1 ? picture->green : picture->red;
                const std::uint32_t low = (1u << mask.bits) - 1;
                EXPECT_EQ(bgr[3 * x + channel], korvane::WidenChannel((pixel >> mask.shift) & low, mask.bits))
                    << c.name << ", pixel " << x << ", channel " << channel;
                expected = (expected & ~(low << mask.shift)) |
                           korvane::NarrowChannel(edited_bgr[3 * x + channel], mask.bits) << mask.shift;
            }
            EXPECT_EQ(PixelOf(narrowed, x * size, size), expected) << c.name << ", pixel " << x;
        }
    }
}

// Every 16-bit pixel of the masks known when compiled widens by the channel rule.
TEST(DirectRows, EverySixteenBitPixelWidensByTheChannelRule) {
    for (const Bytes& masks : {Masks({0xF800, 0x07E0, 0x001F}), Masks({0x7C00, 0x03E0, 0x001F})}) {
        constexpr std::int32_t kWidth = 1 << 16;
        const Bytes file = VariantFile(40, kWidth, 1, 16, 3, masks, 2 * kWidth);
        const std::optional<BitmapVariant> picture = korvane::DescribeVariant(file, file.size()).variant;
        ASSERT_TRUE(picture);
        Bytes row(2 * kWidth), bgr(3 * kWidth);
        for (std::uint32_t pixel = 0; pixel < kWidth; ++pixel) PutLittleEndian(row, 2 * pixel, pixel, 2);
        korvane::WidenRow(*picture, row, bgr);
        for (std::uint32_t pixel = 0; pixel < kWidth; ++pixel) {
            const korvane::ChannelMask* channels[] = {&picture->blue, &picture->green, &picture->red};
            for (std::size_t channel = 0; channel < 3; ++channel) {
                const korvane::ChannelMask& mask = *channels[channel];
                ASSERT_EQ(bgr[3 * pixel + channel],
                          korvane::WidenChannel((pixel >> mask.shift) & ((1u << mask.bits) - 1), mask.bits))
                    << pixel << ", channel " << channel;
            }
        }
    }
}

// The bits outside the masks, noted row by row: the same in every pixel
// (then rows made of them take the narrowed colours), or not; rows with
// padding are always read again.
struct KeptCase {
    const char* name;
    std::uint16_t bits;
    std::uint32_t compression;
    Bytes masks;
    std::int32_t width;
    Bytes rows;  // two rows, no padding
    bool same;
    Bytes filled_pixel;
};

TEST(KeptBits, SameWhenEveryPixelKeepsTheSameBits) {
    const Bytes k565 = Masks({0xF800, 0x07E0, 0x001F});
    for (const KeptCase& c : {
             KeptCase{"32-bit, every fourth byte 0x80", 32, 0, {}, 2,
                      {1, 2, 3, 0x80, 4, 5, 6, 0x80, 7, 8, 9, 0x80, 10, 11, 12, 0x80}, true, {0, 0, 0, 0x80}},
             KeptCase{"32-bit, the last fourth byte differs", 32, 0, {}, 2,
                      {1, 2, 3, 0x80, 4, 5, 6, 0x80, 7, 8, 9, 0x80, 10, 11, 12, 0x81}, false, {}},
             KeptCase{"16-bit 5-6-5 keeps nothing", 16, 3, k565, 2, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0},
                      true, {0, 0}},
             KeptCase{"16-bit 5-5-5, the top bit in every pixel", 16, 0, {}, 2,
                      {0x00, 0x80, 0xFF, 0xFF, 0x12, 0x83, 0x34, 0x85}, true, {0, 0x80}},
             KeptCase{"16-bit 5-5-5, the top bit in one pixel", 16, 0, {}, 2,
                      {0x00, 0x00, 0xFF, 0x7F, 0x12, 0x03, 0x34, 0x85}, false, {}},
             KeptCase{"16-bit 5-6-5, rows padded", 16, 3, k565, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, false, {}},
         }) {
        const std::size_t stride = (static_cast<std::size_t>(c.width) * c.bits / 8 + 3) / 4 * 4;
        const Bytes file = VariantFile(40, c.width, 2, c.bits, c.compression, c.masks, 2 * stride);
        const std::optional<BitmapVariant> picture = korvane::DescribeVariant(file, file.size()).variant;
        ASSERT_TRUE(picture) << c.name;
        korvane::KeptBits kept(*picture);
        const std::span<const std::uint8_t> rows(c.rows);
        kept.Note(rows.first(rows.size() / 2));
        kept.Note(rows.subspan(rows.size() / 2));
        EXPECT_EQ(kept.Same(), c.same) << c.name;
        if (!c.same) continue;
        Bytes filled(3 * c.filled_pixel.size(), 0xEE), expected;
        for (int i = 0; i < 3; ++i) expected.insert(expected.end(), c.filled_pixel.begin(), c.filled_pixel.end());
        kept.Fill(filled);
        EXPECT_EQ(filled, expected) << c.name;
    }
}

}  // namespace
}  // namespace tintwell_test
