// The layout model of the other BMP kinds: channel widening and narrowing,
// what the check makes of each header, and the RLE walk. The pixels of real
// files, edited through the host, are checked by ecosystem/bmp_variants_test.py.
#include <gtest/gtest.h>

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

// A header of `info` bytes for a `width` x `height` picture, then `extra`
// bytes (masks, palette), pixels right after, and `pixel_bytes` of them.
Bytes VariantFile(std::uint32_t info, std::int32_t width, std::int32_t height, std::uint16_t bits,
                  std::uint32_t compression, const Bytes& extra, std::size_t pixel_bytes) {
    Bytes file(14 + info, 0);
    file[0] = 'B', file[1] = 'M';
    PutLittleEndian(file, 14, info);
    if (info == 12) {
        PutLittleEndian(file, 18, static_cast<std::uint32_t>(width), 2);
        PutLittleEndian(file, 20, static_cast<std::uint32_t>(height), 2);
        PutLittleEndian(file, 22, 1, 2);
        PutLittleEndian(file, 24, bits, 2);
    } else {
        PutLittleEndian(file, 18, static_cast<std::uint32_t>(width));
        PutLittleEndian(file, 22, static_cast<std::uint32_t>(height));
        PutLittleEndian(file, 26, 1, 2);
        PutLittleEndian(file, 28, bits, 2);
        if (info > 16) PutLittleEndian(file, 30, compression);
    }
    file.insert(file.end(), extra.begin(), extra.end());
    PutLittleEndian(file, 10, static_cast<std::uint32_t>(file.size()));
    file.resize(file.size() + pixel_bytes, 0x5A);
    return file;
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

}  // namespace
}  // namespace tintwell_test
