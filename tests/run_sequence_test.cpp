// The order of one call: messages, result codes and what gets written.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "bitmap_builder.h"
#include "model.h"

namespace tintwell_test {
namespace {

Bytes SmallPicture() {
    std::mt19937 random(42);
    return MakeRandomBmp(3, 2, random);
}

class MissingInput : public testing::TestWithParam<std::int32_t> {};

TEST_P(MissingInput, FailsToLoadWhateverTheFunction) {
    TempDir dir;
    const CallOutcome outcome = CallTintwell(dir.File("missing.bmp"), dir.File("out.bmp"), 5, GetParam());
    EXPECT_EQ(outcome.result, TINTWELL_RESULT_LOAD_FAILED);
    EXPECT_EQ(outcome.stdout_bytes, std::string{kLoadPrompt} + kLoadFailure);
    EXPECT_FALSE(ReadBytes(dir.File("out.bmp")));
}

INSTANTIATE_TEST_SUITE_P(Functions, MissingInput, testing::Values(1, 7, 10, 11, 0, -5, INT_MAX, INT_MIN));

struct FunctionCase {
    std::int32_t function;
    std::int32_t amount;
    friend void PrintTo(const FunctionCase& c, std::ostream* os) { *os << "function " << c.function; }
};

class FunctionNumber : public testing::TestWithParam<FunctionCase> {};

// Every function number, valid or not, against the model: result, stdout
// byte for byte, and the file written (or none).
TEST_P(FunctionNumber, PrintsReturnsAndWritesAsTheModel) {
    const FunctionCase& c = GetParam();
    TempDir dir;
    WriteBytes(dir.File("in.bmp"), SmallPicture());
    const CallOutcome outcome = CallTintwell(dir.File("in.bmp"), dir.File("out.bmp"), c.amount, c.function);
    const ModelOutcome expected = ModelCall({SmallPicture(), true, c.amount, c.function});
    EXPECT_EQ(outcome.result, expected.result);
    EXPECT_EQ(outcome.stdout_bytes, expected.stdout_bytes);
    EXPECT_EQ(ReadBytes(dir.File("out.bmp")), expected.output);
}

INSTANTIATE_TEST_SUITE_P(Table, FunctionNumber,
                         testing::Values(FunctionCase{1, 0}, FunctionCase{8, 300}, FunctionCase{8, -7},
                                         FunctionCase{9, 40}, FunctionCase{10, 0}, FunctionCase{11, 0},
                                         FunctionCase{INT_MAX, 0}, FunctionCase{0, 0}, FunctionCase{-1, 0},
                                         FunctionCase{-255, 0}, FunctionCase{INT_MIN, 0}));

TEST(RunSequence, NoiseWithAmountZeroIsACopyAndDrawsNothing) {
    TempDir dir;
    WriteBytes(dir.File("in.bmp"), SmallPicture());
    std::srand(99);
    const int expected_next = std::rand();
    std::srand(99);
    ASSERT_EQ(CallTintwell(dir.File("in.bmp"), dir.File("out.bmp"), 0, 7).result, 999);
    EXPECT_EQ(std::rand(), expected_next) << "no random value was drawn";
    EXPECT_EQ(ReadBytes(dir.File("out.bmp")), SmallPicture());
}

TEST(RunSequence, NoiseDrawsThreeValuesPerPixelInOrder) {
    TempDir dir;
    std::mt19937 random(5);
    const Bytes input = MakeRandomBmp(7, 5, random);
    WriteBytes(dir.File("in.bmp"), input);
    std::srand(1234);
    const ModelOutcome expected = ModelCall({input, true, 37, 7}, [] { return std::rand(); });
    const int next_after_model = std::rand();
    std::srand(1234);
    const CallOutcome outcome = CallTintwell(dir.File("in.bmp"), dir.File("out.bmp"), 37, 7);
    EXPECT_EQ(outcome.result, 999);
    EXPECT_EQ(ReadBytes(dir.File("out.bmp")), expected.output);
    EXPECT_EQ(std::rand(), next_after_model) << "exactly 3 draws per pixel";
}

TEST(RunSequence, OutputMayBeTheInput) {
    TempDir dir;
    const Bytes input = SmallPicture();
    WriteBytes(dir.File("pic.bmp"), input);
    ASSERT_EQ(CallTintwell(dir.File("pic.bmp"), dir.File("pic.bmp"), 0, 5).result, 999);
    EXPECT_EQ(ReadBytes(dir.File("pic.bmp")), ModelCall({input, true, 0, 5}).output);
}

// Every length of a small padded picture, from empty to whole.
TEST(RunSequence, EveryTruncationMatchesTheModel) {
    std::mt19937 random(8);
    const Bytes whole = MakeRandomBmp(3, 3, random);
    for (std::size_t length = 0; length <= whole.size(); ++length) {
        const Bytes input(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
        TempDir dir;
        WriteBytes(dir.File("in.bmp"), input);
        const CallOutcome outcome = CallTintwell(dir.File("in.bmp"), dir.File("out.bmp"), 3, 2);
        const ModelOutcome expected = ModelCall({input, true, 3, 2});
        EXPECT_EQ(outcome.result, expected.result) << length;
        EXPECT_EQ(outcome.stdout_bytes, expected.stdout_bytes) << length;
        EXPECT_EQ(ReadBytes(dir.File("out.bmp")), expected.output) << length;
    }
}

}  // namespace
}  // namespace tintwell_test
