// The per-pixel arithmetic, seen through the real call on one-pixel pictures.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>

#include "bitmap_builder.h"

namespace tintwell_test {
namespace {

using Pixel = std::array<std::uint8_t, 3>;  // blue, green, red

struct PixelCase {
    const char* what;
    std::int32_t function;
    std::int32_t amount;
    Pixel source;
    Pixel expected;
    friend void PrintTo(const PixelCase& c, std::ostream* os) { *os << c.what; }
};

Pixel EditOnePixel(std::int32_t function, std::int32_t amount, const Pixel& source) {
    TempDir dir;
    WriteBytes(dir.File("in.bmp"), MakeOnePixelBmp(source[0], source[1], source[2]));
    const CallOutcome outcome = CallTintwell(dir.File("in.bmp"), dir.File("out.bmp"), amount, function);
    EXPECT_EQ(outcome.result, TINTWELL_RESULT_WRITTEN);
    const Bytes output = ReadBytes(dir.File("out.bmp")).value_or(Bytes{});
    EXPECT_EQ(output.size(), 54u + 4u);  // one pixel and one padding byte
    if (output.size() < 58) return {};
    EXPECT_EQ(output[57], 0) << "padding is zero";
    return {output[54], output[55], output[56]};
}

class PixelRule : public testing::TestWithParam<PixelCase> {};

TEST_P(PixelRule, GivesTheExpectedPixel) {
    const PixelCase& c = GetParam();
    EXPECT_EQ(EditOnePixel(c.function, c.amount, c.source), c.expected) << c.what;
}

// Pixels are written blue, green, red; the cases are stated the same way.
INSTANTIATE_TEST_SUITE_P(
    Edits, PixelRule,
    testing::Values(
        PixelCase{"copy", 1, 77, {1, 128, 255}, {1, 128, 255}},
        PixelCase{"add saturates", 2, 40, {215, 10, 250}, {255, 50, 255}},
        PixelCase{"subtract floors", 3, 40, {40, 200, 30}, {0, 160, 0}},
        PixelCase{"add 256 acts as 0", 2, 256, {1, 2, 3}, {1, 2, 3}},
        PixelCase{"subtract 256 acts as 0", 3, 256, {1, 2, 3}, {1, 2, 3}},
        PixelCase{"add 300 acts as 44", 2, 300, {0, 200, 250}, {44, 244, 255}},
        PixelCase{"add -1 acts as 255", 2, -1, {0, 1, 200}, {255, 255, 255}},
        PixelCase{"subtract -1 acts as 255", 3, -1, {255, 1, 200}, {0, 0, 0}},
        PixelCase{"threshold 0 makes all 255", 6, 0, {0, 1, 2}, {255, 255, 255}},
        PixelCase{"threshold 255 keeps only 255", 6, 255, {254, 255, 0}, {0, 255, 0}},
        PixelCase{"threshold 128", 6, 128, {200, 128, 127}, {255, 255, 0}},
        PixelCase{"invert", 5, 0, {255, 128, 0}, {0, 127, 255}},
        PixelCase{"gray of white is 254", 4, 0, {255, 255, 255}, {254, 254, 254}},
        PixelCase{"gray of red", 4, 0, {0, 0, 255}, {76, 76, 76}},
        PixelCase{"gray of green", 4, 0, {0, 255, 0}, {149, 149, 149}},
        PixelCase{"gray of blue", 4, 0, {255, 0, 0}, {29, 29, 29}},
        PixelCase{"gray of black", 4, 0, {0, 0, 0}, {0, 0, 0}},
        PixelCase{"gray (10, 20, 30)", 4, 0, {10, 20, 30}, {21, 21, 21}},
        PixelCase{"gray sums in order: (6, 21, 10) is 15", 4, 0, {6, 21, 10}, {15, 15, 15}},
        PixelCase{"tint up is add", 8, 40, {215, 10, 250}, {255, 50, 255}},
        PixelCase{"tint up 300 adds 44", 8, 300, {0, 200, 250}, {44, 244, 255}},
        PixelCase{"tint down is subtract", 9, 40, {40, 200, 30}, {0, 160, 0}},
        PixelCase{"noise 1 adds nothing", 7, 1, {0, 100, 254}, {0, 100, 254}},
        PixelCase{"noise 0 adds nothing", 7, 0, {0, 100, 254}, {0, 100, 254}},
        PixelCase{"noise keeps 255", 7, 1000, {255, 255, 255}, {255, 255, 255}}));

TEST(GrayRule, EveryUniformGrayLosesOne) {
    for (int v = 1; v <= 255; v += 17) {
        const auto value = static_cast<std::uint8_t>(v);
        const auto less = static_cast<std::uint8_t>(v - 1);
        EXPECT_EQ(EditOnePixel(4, 0, {value, value, value}), (Pixel{less, less, less})) << "v = " << v;
    }
}

// Noise with a bound of 2 or -2 raises each channel below 255 by 0 or 1.
TEST(NoiseRule, SmallBoundsRaiseByAtMostOne) {
    for (const std::int32_t bound : {2, -2}) {
        std::srand(7);
        TempDir dir;
        Bytes pixels(64 * 3, 100);
        WriteBytes(dir.File("in.bmp"), MakeBmp(64, 1, pixels));
        ASSERT_EQ(CallTintwell(dir.File("in.bmp"), dir.File("out.bmp"), bound, 7).result, 999);
        const Bytes output = *ReadBytes(dir.File("out.bmp"));
        int raised = 0;
        for (std::size_t i = 54; i < 54 + pixels.size(); ++i) {
            ASSERT_TRUE(output[i] == 100 || output[i] == 101) << "bound " << bound;
            raised += output[i] == 101;
        }
        EXPECT_GT(raised, 0);
        EXPECT_LT(raised, 192);
    }
}

}  // namespace
}  // namespace tintwell_test
