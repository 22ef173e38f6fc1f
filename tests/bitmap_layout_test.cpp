// How pictures are laid out in files: padding, header copying, odd sizes.
#include <gtest/gtest.h>

#include <random>

#include "bitmap_builder.h"
#include "model.h"

namespace tintwell_test {
namespace {

struct PaddingCase {
    std::int32_t width;
    std::size_t padding;
    friend void PrintTo(const PaddingCase& c, std::ostream* os) { *os << "width " << c.width; }
};

class RowPaddingTest : public testing::TestWithParam<PaddingCase> {};

TEST_P(RowPaddingTest, CopyReproducesAWellFormedPicture) {
    const auto [width, padding] = GetParam();
    std::mt19937 random(static_cast<unsigned>(width));
    TempDir dir;
    const Bytes input = MakeRandomBmp(width, 3, random);
    ASSERT_EQ(input.size(), 54 + 3 * (width * 3 + padding));
    WriteBytes(dir.File("in.bmp"), input);
    ASSERT_EQ(CallTintwell(dir.File("in.bmp"), dir.File("out.bmp"), 0, 1).result, 999);
    EXPECT_EQ(ReadBytes(dir.File("out.bmp")), input);
}

INSTANTIATE_TEST_SUITE_P(Widths, RowPaddingTest,
                         testing::Values(PaddingCase{1, 1}, PaddingCase{2, 2}, PaddingCase{3, 3},
                                         PaddingCase{4, 0}, PaddingCase{5, 1}, PaddingCase{401, 1}));

TEST(BitmapLayout, TwoByTwoPictureIs70Bytes) {
    TempDir dir;
    const Bytes input = MakeBmp(2, 2, Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    ASSERT_EQ(input.size(), 70u);
    WriteBytes(dir.File("in.bmp"), input);
    ASSERT_EQ(CallTintwell(dir.File("in.bmp"), dir.File("out.bmp"), 0, 5).result, 999);
    const Bytes expected = MakeBmp(2, 2, Bytes{254, 253, 252, 251, 250, 249, 248, 247, 246, 245, 244, 243});
    EXPECT_EQ(ReadBytes(dir.File("out.bmp")), expected);
}

// The header is copied as read, even where it does not describe the output;
// pixels are taken from offset 54; padding is written as zeros; whatever
// follows the last row is dropped.
TEST(BitmapLayout, HeaderIsCopiedAndPixelsComeFromOffset54) {
    TempDir dir;
    Bytes input = MakeBmp(1, 2, Bytes{10, 20, 30, 40, 50, 60});
    PutLittleEndian(input, kOffsetFileSize, 123456);
    PutLittleEndian(input, 10, 1078);       // bfOffBits
    PutLittleEndian(input, 34, 999999);     // biSizeImage
    input[54 + 3] = 0xAA;                   // non-zero padding
    input.insert(input.end(), {1, 2, 3, 4, 5});  // trailing bytes
    WriteBytes(dir.File("in.bmp"), input);
    const CallOutcome outcome = CallTintwell(dir.File("in.bmp"), dir.File("out.bmp"), 0, 1);
    ASSERT_EQ(outcome.result, 999);
    EXPECT_NE(outcome.stdout_bytes.find("1 x 2, 123456byte\n"), std::string::npos);
    Bytes expected(input.begin(), input.begin() + 62);
    expected[54 + 3] = 0;
    EXPECT_EQ(ReadBytes(dir.File("out.bmp")), expected);
}

// Bit counts other than 24 change only the padding; pixels are still 3 bytes.
TEST(BitmapLayout, OtherBitCountsChangeOnlyThePadding) {
    for (const std::uint16_t bit_count : {0, 1, 8, 16, 32, 48, 65535}) {
        TempDir dir;
        std::mt19937 random(bit_count);
        Bytes input = MakeRandomBmp(5, 4, random);
        PutLittleEndian(input, kOffsetBitCount, bit_count, 2);
        WriteBytes(dir.File("in.bmp"), input);
        const CallOutcome outcome = CallTintwell(dir.File("in.bmp"), dir.File("out.bmp"), 0, 1);
        const ModelOutcome expected = ModelCall({input, true, 0, 1});
        EXPECT_EQ(outcome.result, expected.result) << bit_count;
        EXPECT_EQ(ReadBytes(dir.File("out.bmp")), expected.output) << bit_count;
    }
}

// Real files made by another program: every one gets the modelled answer.
TEST(BitmapLayout, BmpSuiteFilesMatchTheModel) {
    const BmpSuiteSearch suite = FindBmpSuite();
    if (!suite.directory) TINTWELL_SKIP_UNLESS_REQUIRED(suite.why_missing);
    int files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(*suite.directory)) {
        if (entry.path().extension() != ".bmp") continue;
        const Bytes input = *ReadBytes(entry.path().string());
        // Pictures claiming huge sizes are only read, so the test stays small.
        const std::int64_t claimed = std::int64_t{HeaderField(input, kOffsetWidth)} * HeaderField(input, kOffsetHeight);
        const std::int32_t function = claimed > (1 << 22) ? 10 : 4;
        TempDir dir;
        const CallOutcome outcome = CallTintwell(entry.path().string(), dir.File("out.bmp"), 0, function);
        const ModelOutcome expected = ModelCall({input, true, 0, function});
        EXPECT_EQ(outcome.result, expected.result) << entry.path();
        EXPECT_EQ(outcome.stdout_bytes, expected.stdout_bytes) << entry.path();
        EXPECT_EQ(ReadBytes(dir.File("out.bmp")), expected.output) << entry.path();
        ++files;
    }
    EXPECT_GT(files, 50);
}

}  // namespace
}  // namespace tintwell_test
