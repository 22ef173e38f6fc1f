// Inputs kept from fuzzing (every finding, and inputs that stand for the
// hardest cases) replayed through the fuzzers' own checks on every run.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "fuzz_checks.h"
#include "test_support.h"

namespace tintwell_test {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> KeptInputs(const char* fuzzer) {
    std::vector<fs::path> files;
    const fs::path folder = fs::path(TINTWELL_TEST_SOURCE_DIR) / "tests" / "fuzz" / "regressions" / fuzzer;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

using Check = std::string (*)(const std::uint8_t*, std::size_t);

void Replay(const char* fuzzer, Check check) {
    const std::vector<fs::path> files = KeptInputs(fuzzer);
    ASSERT_FALSE(files.empty());
    for (const fs::path& file : files) {
        const Bytes input = ReadBytes(file.string()).value();
        EXPECT_EQ(check(input.data(), input.size()), "") << file.filename();
    }
}

TEST(FuzzRegressions, WholeCall) { Replay("whole_call", tintwell_fuzz::CheckWholeCall); }

TEST(FuzzRegressions, FileName) { Replay("file_name", tintwell_fuzz::CheckFileName); }

TEST(FuzzRegressions, BmpVariant) { Replay("bmp_variant", tintwell_fuzz::CheckBmpVariant); }

}  // namespace
}  // namespace tintwell_test
