// The whole-buffer edit loops against the model's per-pixel rules, which
// they must equal.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "model.h"
#include "pixel_operations.h"

namespace korvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kColours = 1u << 24;

// Pixel c holds colour c: blue is its low byte, red its high byte.
Bytes EveryColour() {
    Bytes pixels(std::size_t{kColours} * kBytesPerPixel);
    for (std::uint32_t c = 0; c < kColours; ++c) {
        pixels[3 * std::size_t{c}] = static_cast<std::uint8_t>(c);
        pixels[3 * std::size_t{c} + 1] = static_cast<std::uint8_t>(c >> 8);
        pixels[3 * std::size_t{c} + 2] = static_cast<std::uint8_t>(c >> 16);
    }
    return pixels;
}

using tintwell_test::ModelChannel;
using tintwell_test::ModelGray;

// Every colour, once lined up with the fast path's 32-pixel steps and once
// shifted by a pixel (so the last pixels also take the per-pixel tail).
TEST(GrayFastPath, EqualsTheDoubleFormulaForEveryColour) {
    const Bytes source = EveryColour();
    for (std::size_t shift : {0, 1}) {
        Bytes pixels = source;
        const std::size_t start = shift * kBytesPerPixel;
        TransformBuffer(pixels.data() + start, pixels.size() - start, OperationKind::kGray, 0);
        std::size_t wrong = 0;
        for (std::size_t i = start; i < pixels.size(); i += kBytesPerPixel) {
            const std::uint8_t gray = ModelGray(source[i], source[i + 1], source[i + 2]);
            const bool right = pixels[i] == gray && pixels[i + 1] == gray && pixels[i + 2] == gray;
            if (!right && ++wrong <= 5) {
                ADD_FAILURE() << "colour (b, g, r) = (" << +source[i] << ", " << +source[i + 1] << ", "
                              << +source[i + 2] << ") gave " << +pixels[i] << ", expected " << +gray;
            }
        }
        EXPECT_EQ(wrong, 0u) << "shift " << shift;
    }
}

// The colours whose decimal gray sum is a whole number are the ones where
// the order of the double sum decides; each appears among ordinary pixels.
TEST(GrayFastPath, KnownValuesAmongOrdinaryPixels) {
    struct Case {
        std::uint8_t blue, green, red, gray;
    };
    const Case cases[] = {{6, 21, 10, 15}, {255, 255, 255, 254}, {0, 0, 255, 76}, {0, 255, 0, 149},
                          {255, 0, 0, 29}, {10, 20, 30, 21},     {0, 0, 0, 0},     {1, 1, 1, 0}};
    for (const Case& c : cases) {
        Bytes pixels;
        for (int i = 0; i < 100; ++i) {  // the case, then an ordinary pixel, over and over
            pixels.insert(pixels.end(), {c.blue, c.green, c.red, 7, 8, 9});
        }
        TransformBuffer(pixels.data(), pixels.size(), OperationKind::kGray, 0);
        for (std::size_t i = 0; i < pixels.size(); i += 2 * kBytesPerPixel) {
            ASSERT_EQ(pixels[i], c.gray) << "pixel " << i / 3 << " of (" << +c.blue << ", " << +c.green << ", "
                                         << +c.red << ")";
            ASSERT_EQ(pixels[i + 3], ModelGray(7, 8, 9));
        }
    }
}

struct ByteEditCase {
    const char* name;
    OperationKind kind;
    std::int32_t function;  // the function number whose model rule it must equal
};

void PrintTo(const ByteEditCase& edit, std::ostream* out) { *out << edit.name; }

class ByteEdit : public testing::TestWithParam<ByteEditCase> {};

// 263 pixels hold every value in every channel (and a few more, so the
// vector loops also end in a tail).
Bytes EveryValueInEveryChannel() {
    Bytes pixels;
    for (int i = 0; i < 263; ++i) {
        pixels.insert(pixels.end(), {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i * 7 + 85),
                                     static_cast<std::uint8_t>(255 - i)});
    }
    return pixels;
}

// A step reads a few bytes past its 32 pixels; buffers that end anywhere
// around a step's end must neither be read past (ASan's run sees exact-size
// heap buffers) nor lose their last pixels.
TEST(GrayFastPath, BuffersEndingAroundAStep) {
    const Bytes source = EveryValueInEveryChannel();
    for (std::size_t count = 30; count <= 100; ++count) {
        Bytes pixels(source.begin(), source.begin() + static_cast<std::ptrdiff_t>(count * kBytesPerPixel));
        TransformBuffer(pixels.data(), pixels.size(), OperationKind::kGray, 0);
        for (std::size_t i = 0; i < pixels.size(); i += kBytesPerPixel) {
            const std::uint8_t gray = ModelGray(source[i], source[i + 1], source[i + 2]);
            ASSERT_TRUE(pixels[i] == gray && pixels[i + 1] == gray && pixels[i + 2] == gray)
                << count << " pixels, pixel " << i / kBytesPerPixel;
        }
    }
}

TEST_P(ByteEdit, EveryAmountMatchesTheModel) {
    const ByteEditCase& edit = GetParam();
    const Bytes source = EveryValueInEveryChannel();
    for (int amount = 0; amount <= 255; ++amount) {
        const auto a = static_cast<std::uint8_t>(amount);
        Bytes pixels = source;
        TransformBuffer(pixels.data(), pixels.size(), edit.kind, a);
        for (std::size_t i = 0; i < source.size(); ++i) {
            ASSERT_EQ(pixels[i], ModelChannel(edit.function, source[i], a))
                << edit.name << " amount " << amount << " source " << +source[i];
        }
    }
}

// The byte edits take the amount's low byte: 256 more is the same edit.
TEST_P(ByteEdit, OnlyTheAmountsLowByteCounts) {
    const ByteEditCase& edit = GetParam();
    const Bytes source = EveryValueInEveryChannel();
    for (std::int32_t amount : {40, 296, -216, INT32_MIN + 40}) {
        Bytes pixels = source;
        TransformBuffer(pixels.data(), pixels.size(), edit.kind, amount);
        Bytes low_byte = source;
        TransformBuffer(low_byte.data(), low_byte.size(), edit.kind, 40);
        EXPECT_EQ(pixels, low_byte) << edit.name << " amount " << amount;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ByteEdit,
    testing::Values(ByteEditCase{"add", OperationKind::kAdd, TINTWELL_FUNCTION_BRIGHTEN},
                    ByteEditCase{"subtract", OperationKind::kSubtract, TINTWELL_FUNCTION_DARKEN},
                    ByteEditCase{"threshold", OperationKind::kThreshold, TINTWELL_FUNCTION_THRESHOLD},
                    ByteEditCase{"invert", OperationKind::kInvert, TINTWELL_FUNCTION_INVERT},
                    ByteEditCase{"copy", OperationKind::kCopy, TINTWELL_FUNCTION_COPY}),
    [](const testing::TestParamInfo<ByteEditCase>& info) { return std::string(info.param.name); });

// Noise draws three values per pixel, blue then green then red, and nothing
// more: after the call the generator is exactly 3 x pixels draws further on.
TEST(NoiseBuffer, DrawsBlueGreenRedPerPixelAndNothingElse) {
    const Bytes source = EveryValueInEveryChannel();
    const std::size_t pixel_count = source.size() / kBytesPerPixel;
    for (std::int32_t amount : {1, 2, 40, 255, 256, 1000, -2, -40, INT32_MAX, INT32_MIN}) {
        std::srand(1234);
        Bytes expected = source;
        for (std::size_t i = 0; i < expected.size(); ++i) {  // bytes are blue, green, red
            const auto draw = static_cast<std::uint8_t>(std::rand() % amount);
            expected[i] = ModelChannel(TINTWELL_FUNCTION_BRIGHTEN, expected[i], draw);
        }
        const int next = std::rand();

        std::srand(1234);
        Bytes pixels = source;
        AddNoiseToBuffer(pixels.data(), pixels.size(), amount);
        EXPECT_EQ(pixels, expected) << "amount " << amount;
        EXPECT_EQ(std::rand(), next) << "amount " << amount << ": not " << 3 * pixel_count << " draws";
    }
}

}  // namespace
}  // namespace korvane
