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

const std::string kLoadPrompt = "사진 파일을 불러와 주세요  (파일명을 입력하면 불러올 수 있습니다.)\n";
const std::string kLoadFailure = "파일 불러오기에 실패하였습니다.\n";
const std::string kSavePrompt = "저장할 파일명을 입력하세요\n";
const std::string kSaveFailure = "파일 저장 오류입니다.\n";

Bytes SmallPicture() {
    std::mt19937 random(42);
    return MakeRandomBmp(3, 2, random);
}

// The messages are compared against the model everywhere; this pins a few
// of them to their exact bytes, so a change of source encoding shows up.
TEST(Messages, AreExactUtf8Bytes) {
    EXPECT_EQ(kLoadFailure, "\xED\x8C\x8C\xEC\x9D\xBC \xEB\xB6\x88\xEB\x9F\xAC\xEC\x98\xA4\xEA\xB8\xB0\xEC\x97\x90 "
                            "\xEC\x8B\xA4\xED\x8C\xA8\xED\x95\x98\xEC\x98\x80\xEC\x8A\xB5\xEB\x8B\x88\xEB\x8B\xA4.\n");
    TempDir dir;
    const CallOutcome outcome = CallTintwell(dir.File("missing.bmp"), dir.File("out.bmp"), 0, 1);
    EXPECT_EQ(outcome.stdout_bytes, kLoadPrompt + kLoadFailure);
    EXPECT_EQ(kLoadPrompt.substr(0, 6), "\xEC\x82\xAC\xEC\xA7\x84");
    EXPECT_NE(kLoadPrompt.find("  ("), std::string::npos) << "two spaces before the parenthesis";
}

class MissingInput : public testing::TestWithParam<std::int32_t> {};

TEST_P(MissingInput, FailsToLoadWhateverTheFunction) {
    TempDir dir;
    const CallOutcome outcome = CallTintwell(dir.File("missing.bmp"), dir.File("out.bmp"), 5, GetParam());
    EXPECT_EQ(outcome.result, TINTWELL_RESULT_LOAD_FAILED);
    EXPECT_EQ(outcome.stdout_bytes, kLoadPrompt + kLoadFailure);
    EXPECT_FALSE(ReadBytes(dir.File("out.bmp")));
}

INSTANTIATE_TEST_SUITE_P(Functions, MissingInput, testing::Values(1, 7, 10, 11, 0, -5, INT_MAX, INT_MIN));

struct FunctionCase {
    std::int32_t function;
    std::int32_t amount;
    std::int32_t result;
    const char* stdout_tail;  // what follows the read complete message
    bool writes;
    friend void PrintTo(const FunctionCase& c, std::ostream* os) { *os << "function " << c.function; }
};

class FunctionNumber : public testing::TestWithParam<FunctionCase> {};

TEST_P(FunctionNumber, PrintsReturnsAndWritesAsExpected) {
    const FunctionCase& c = GetParam();
    TempDir dir;
    WriteBytes(dir.File("in.bmp"), SmallPicture());
    const CallOutcome outcome = CallTintwell(dir.File("in.bmp"), dir.File("out.bmp"), c.amount, c.function);
    EXPECT_EQ(outcome.result, c.result);
    const std::string head = kLoadPrompt + "파일 읽기 완료..3 x 2, 78byte\n";
    EXPECT_EQ(outcome.stdout_bytes, head + c.stdout_tail);
    EXPECT_EQ(ReadBytes(dir.File("out.bmp")).has_value(), c.writes);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FunctionNumber,
    testing::Values(
        FunctionCase{1, 0, 999, "저장할 파일명을 입력하세요\n", true},
        FunctionCase{8, 300, 999, "저장할 파일명을 입력하세요\n증가량을 입력하세요 (R, G, B 순으로)입력된 숫자 : 300 300 300\n",
                     true},
        FunctionCase{8, -7, 999, "저장할 파일명을 입력하세요\n증가량을 입력하세요 (R, G, B 순으로)입력된 숫자 : -7 -7 -7\n",
                     true},
        FunctionCase{9, 40, 999, "저장할 파일명을 입력하세요\n감소량을 입력하세요 (R, G, B 순으로)", true},
        FunctionCase{10, 0, 0, "프로그램 종료\n", false},
        FunctionCase{11, 0, 432, "실행 불가능한 기능입니다.\n", false},
        FunctionCase{INT_MAX, 0, 432, "실행 불가능한 기능입니다.\n", false},
        FunctionCase{0, 0, 432, "실행 불가능한 기능입니다.\n", false},
        FunctionCase{-1, 0, 432, "실행 불가능한 기능입니다.\n", false},
        FunctionCase{-255, 0, 432, "실행 불가능한 기능입니다.\n", false},
        FunctionCase{INT_MIN, 0, 432, "실행 불가능한 기능입니다.\n", false}));

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

struct SaveFailureCase {
    const char* what;
    std::string (*output)(const TempDir&);
    friend void PrintTo(const SaveFailureCase& c, std::ostream* os) { *os << c.what; }
};

class OutputNeverOpens : public testing::TestWithParam<SaveFailureCase> {};

// Three attempts, each a prompt and a failure; then 124 and nothing more.
TEST_P(OutputNeverOpens, GivesUpAfterThreeAttempts) {
    TempDir dir;
    WriteBytes(dir.File("in.bmp"), SmallPicture());
    const std::string output = GetParam().output(dir);
    const CallOutcome outcome = CallTintwell(dir.File("in.bmp"), output, 0, 1);
    EXPECT_EQ(outcome.result, TINTWELL_RESULT_SAVE_FAILED);
    const std::string attempt = kSavePrompt + kSaveFailure;
    EXPECT_EQ(outcome.stdout_bytes, kLoadPrompt + "파일 읽기 완료..3 x 2, 78byte\n" + attempt + attempt + attempt);
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, OutputNeverOpens,
    testing::Values(SaveFailureCase{"missing directory", [](const TempDir& d) { return d.File("no/such/out.bmp"); }},
                    SaveFailureCase{"a directory", [](const TempDir& d) { return d.path().string(); }},
                    SaveFailureCase{"empty name", [](const TempDir&) { return std::string(); }}));

TEST(RunSequence, UnwritableDirectoryGivesUp) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
    TempDir dir;
    WriteBytes(dir.File("in.bmp"), SmallPicture());
    ::mkdir(dir.File("locked").c_str(), 0500);
    EXPECT_EQ(CallTintwell(dir.File("in.bmp"), dir.File("locked/out.bmp"), 0, 1).result, 124);
}

// A full disk is a failure, not a success: one save failure message at the end.
TEST(RunSequence, FullDiskIsReportedOnce) {
    TempDir dir;
    std::mt19937 random(3);
    WriteBytes(dir.File("in.bmp"), MakeRandomBmp(300, 300, random));
    const CallOutcome outcome = CallTintwell(dir.File("in.bmp"), "/dev/full", 0, 8);
    EXPECT_EQ(outcome.result, TINTWELL_RESULT_SAVE_FAILED);
    EXPECT_EQ(outcome.stdout_bytes, kLoadPrompt + "파일 읽기 완료..300 x 300, 270054byte\n" + kSavePrompt +
                                        "증가량을 입력하세요 (R, G, B 순으로)입력된 숫자 : 0 0 0\n" + kSaveFailure);
}

TEST(RunSequence, DirectoryAsInputFailsToLoad) {
    TempDir dir;
    const CallOutcome outcome = CallTintwell(dir.path().string(), dir.File("out.bmp"), 0, 1);
    EXPECT_EQ(outcome.result, TINTWELL_RESULT_LOAD_FAILED);
    EXPECT_EQ(outcome.stdout_bytes, kLoadPrompt + kLoadFailure);
    EXPECT_FALSE(ReadBytes(dir.File("out.bmp")));
}

// A pipe cannot seek: padding is read and dropped, giving the same result
// as the same bytes in a regular file.
TEST(RunSequence, SlowPipeGivesTheSameResultAsAFile) {
    TempDir dir;
    std::mt19937 random(11);
    const Bytes input = MakeRandomBmp(5, 40, random);
    const std::string fifo = dir.File("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] {
        const int descriptor = ::open(fifo.c_str(), O_WRONLY);
        for (std::size_t offset = 0; offset < input.size(); offset += 7) {
            const std::size_t size = std::min<std::size_t>(7, input.size() - offset);
            if (::write(descriptor, input.data() + offset, size) < 0) break;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        ::close(descriptor);
    });
    const CallOutcome outcome = CallTintwell(fifo, dir.File("out.bmp"), 0, 5);
    writer.join();
    const ModelOutcome expected = ModelCall({input, true, 0, 5});
    EXPECT_EQ(outcome.result, 999);
    EXPECT_EQ(outcome.stdout_bytes, expected.stdout_bytes);
    EXPECT_EQ(ReadBytes(dir.File("out.bmp")), expected.output);
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
