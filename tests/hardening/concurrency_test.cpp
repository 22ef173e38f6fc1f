// Calls on different threads share nothing but stdout: eight threads edit
// pictures of their own at once, again and again, and every output equals
// the one a sequential run wrote.
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>


#include "bitmap_builder.h"
#include "hardening_support.h"

namespace tintwell_test {
namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 5;
// Every edit but noise, whose rand() state all threads would share, and the
// read-only call.
constexpr std::int32_t kFunctions[] = {1, 2, 3, 4, 5, 6, 8, 9, 10};
constexpr std::int32_t kAmount = 77;

struct Size {
    std::int32_t width;
    std::int32_t height;
};
// Padded and unpadded rows; the 1024 x 700 buffer is mapped, the others come
// from the heap.
constexpr Size kSizes[kThreads] = {{1, 1}, {3, 2}, {17, 9}, {64, 64}, {401, 300}, {5, 1000}, {1024, 700}, {33, 33}};

TEST(Concurrency, EightThreadsMatchASequentialRun) {
    TempDir dir;
    std::vector<std::string> inputs;
    std::vector<std::vector<std::optional<Bytes>>> expected(kThreads);
    std::size_t stdout_per_round = 0;
    std::mt19937 random(41);
    for (int t = 0; t < kThreads; ++t) {
        inputs.push_back(dir.File("in" + std::to_string(t) + ".bmp"));
        WriteBytes(inputs[t], MakeRandomBmp(kSizes[t].width, kSizes[t].height, random));
        for (const std::int32_t function : kFunctions) {
            const std::string output = dir.File("sequential.bmp");
            const CallOutcome outcome = CallTintwell(inputs[t], output, kAmount, function);
            ASSERT_EQ(outcome.result, function == TINTWELL_FUNCTION_EXIT ? 0 : 999);
            expected[t].push_back(ReadBytes(output));
            std::filesystem::remove(output);
            stdout_per_round += outcome.stdout_bytes.size();
        }
    }

    // One capture for all threads: the per-call one swaps descriptors and
    // must not run on many threads at once.
    std::vector<std::string> failures(kThreads);
    std::size_t printed = 0;
    {
        StdoutCapture capture;
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                const std::u16string input = Utf16(inputs[t]);
                const std::string output = dir.File("out" + std::to_string(t) + ".bmp");
                const std::u16string output16 = Utf16(output);
                for (int round = 0; round < kRounds; ++round) {
                    for (std::size_t i = 0; i < std::size(kFunctions); ++i) {
                        const std::int32_t function = kFunctions[i];
                        const std::int32_t result = Tintwell(input.c_str(), output16.c_str(), kAmount, function);
                        const std::string call = "round " + std::to_string(round) + ", function " +
                                                 std::to_string(function) + ": ";
                        if (result != (function == TINTWELL_FUNCTION_EXIT ? 0 : 999)) {
                            failures[t] += call + "result " + std::to_string(result) + "\n";
                        } else if (function != TINTWELL_FUNCTION_EXIT && ReadBytes(output) != expected[t][i]) {
                            failures[t] += call + "output differs from the sequential run\n";
                        }
                    }
                }
            });
        }
        for (std::thread& thread : threads) thread.join();
        printed = capture.Finish().size();
    }
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], "") << "thread " << t;
    // Messages of different calls may interleave, but none is lost.
    EXPECT_EQ(printed, stdout_per_round * kRounds);
}

}  // namespace
}  // namespace tintwell_test
