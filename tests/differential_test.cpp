// Random pictures, headers, truncations, functions and amounts: the library
// must agree with the independent model on every byte.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

#include "bitmap_builder.h"
#include "model.h"

namespace tintwell_test {
namespace {

constexpr int kCases = 400;

template <typename T, std::size_t N>
T Pick(std::mt19937& random, const T (&choices)[N]) {
    return choices[std::uniform_int_distribution<std::size_t>(0, N - 1)(random)];
}

int Between(std::mt19937& random, int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
}

// A picture that is well formed, then maybe bent: odd header fields, other
// bit counts, negative sizes, cut short or with bytes left over.
Bytes RandomInput(std::mt19937& random) {
    const std::int32_t width = Between(random, 1, 23);
    const std::int32_t height = Between(random, 1, 9);
    Bytes file = MakeRandomBmp(width, height, random);
    if (Between(random, 0, 3) == 0) {
        static constexpr std::uint16_t kBitCounts[] = {0, 1, 4, 8, 16, 32, 64, 0xFFFF};
        PutLittleEndian(file, kOffsetBitCount, Pick(random, kBitCounts), 2);
    }
    if (Between(random, 0, 4) == 0) {
        PutLittleEndian(file, kOffsetWidth, static_cast<std::uint32_t>(Between(random, -3, 25)));
    }
    if (Between(random, 0, 4) == 0) {
        PutLittleEndian(file, kOffsetHeight, static_cast<std::uint32_t>(Between(random, -3, 12)));
    }
    if (Between(random, 0, 5) == 0) {
        PutLittleEndian(file, kOffsetFileSize, static_cast<std::uint32_t>(random()));
    }
    if (Between(random, 0, 2) == 0) {
        file.resize(static_cast<std::size_t>(Between(random, 0, static_cast<int>(file.size()))));
    } else if (Between(random, 0, 3) == 0) {
        file.resize(file.size() + static_cast<std::size_t>(Between(random, 1, 40)), 0x5A);
    }
    return file;
}

TEST(Differential, LibraryAgreesWithTheModel) {
    static constexpr std::int32_t kFunctions[] = {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, INT_MIN, INT_MAX};
    static constexpr std::int32_t kAmounts[] = {0, 1, 2, -1, -2, 40, 128, 255, 256, 300, INT_MIN, INT_MAX};
    std::mt19937 random(20261208);
    for (int i = 0; i < kCases; ++i) {
        const Bytes input = RandomInput(random);
        const std::int32_t function = Between(random, 0, 2) == 0 ? Pick(random, kFunctions) : Between(random, 1, 9);
        const std::int32_t amount = Between(random, 0, 1) == 0 ? Pick(random, kAmounts) : static_cast<std::int32_t>(random());
        const bool in_place = Between(random, 0, 4) == 0;
        const unsigned seed = static_cast<unsigned>(random());

        TempDir dir;
        const std::string in = dir.File("in.bmp");
        const std::string out = in_place ? in : dir.File("out.bmp");
        WriteBytes(in, input);
        std::srand(seed);
        const ModelOutcome expected = ModelCall({input, true, amount, function}, [] { return std::rand(); });
        std::srand(seed);
        const CallOutcome outcome = CallTintwell(in, out, amount, function);

        const std::string context = "case " + std::to_string(i) + ": function " + std::to_string(function) +
                                    ", amount " + std::to_string(amount) + ", " + std::to_string(input.size()) +
                                    " bytes" + (in_place ? ", in place" : "");
        ASSERT_EQ(outcome.result, expected.result) << context;
        ASSERT_EQ(outcome.stdout_bytes, expected.stdout_bytes) << context;
        const std::optional<Bytes> written = ReadBytes(out);
        if (expected.output) {
            ASSERT_EQ(written, expected.output) << context;
        } else if (in_place) {
            ASSERT_EQ(written, input) << context << ": input left alone";
        } else {
            ASSERT_FALSE(written) << context << ": nothing written";
        }
    }
}

}  // namespace
}  // namespace tintwell_test
