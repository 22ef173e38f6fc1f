// Every return path releases everything it took: descriptors, heap, mappings.
#include <gtest/gtest.h>

#include <fstream>
#include <malloc.h>

#include "bitmap_builder.h"

namespace tintwell_test {
namespace {

// The sanitizers' allocator keeps its own heap and mappings; there the leak
// checker covers memory, and only descriptors are counted here.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kCountMemory = false;
#else
constexpr bool kCountMemory = true;
#endif

std::size_t MappingCount() {
    std::ifstream maps("/proc/self/maps");
    std::size_t count = 0;
    for (std::string line; std::getline(maps, line);) ++count;
    return count;
}

struct PathCase {
    const char* what;
    std::int32_t expected_result;
    std::int32_t function;
    std::int32_t width;
    std::int32_t height;
    const char* input;   // relative to the temporary directory
    const char* output;  // relative to the temporary directory; "/dev/full" as is
    friend void PrintTo(const PathCase& c, std::ostream* os) { *os << c.what; }
};

class ReturnPath : public testing::TestWithParam<PathCase> {};

TEST_P(ReturnPath, ReleasesEverything) {
    const PathCase& c = GetParam();
    TempDir dir;
    std::mt19937 random(1);
    // 1024 x 1024 pictures take the large-buffer path, small ones the heap.
    Bytes input = MakeRandomBmp(c.width > 0 ? c.width : 1, c.height > 0 ? c.height : 1, random);
    PutLittleEndian(input, kOffsetWidth, static_cast<std::uint32_t>(c.width));
    PutLittleEndian(input, kOffsetHeight, static_cast<std::uint32_t>(c.height));
    WriteBytes(dir.File("in.bmp"), input);
    const std::string input_name = dir.File(c.input);
    const std::string output = c.output[0] == '/' ? c.output : dir.File(c.output);

    // One call first, so lazily created runtime state exists before counting.
    CallTintwell(input_name, output, 3, c.function);
    const std::size_t descriptors = OpenDescriptorCount();
    const std::size_t mappings = MappingCount();
    const std::size_t heap = mallinfo2().uordblks;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(CallTintwell(input_name, output, 3, c.function).result, c.expected_result) << c.what;
    }
    const std::size_t heap_after = mallinfo2().uordblks;
    EXPECT_EQ(OpenDescriptorCount(), descriptors) << c.what;
    if (kCountMemory) {
        EXPECT_EQ(heap_after, heap) << c.what;
        EXPECT_EQ(MappingCount(), mappings) << c.what;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ReturnPath,
    testing::Values(PathCase{"written, small", 999, 2, 5, 5, "in.bmp", "out.bmp"},
                    PathCase{"written, large", 999, 4, 1024, 1024, "in.bmp", "out.bmp"},
                    PathCase{"read only", 0, 10, 1024, 1024, "in.bmp", "out.bmp"},
                    PathCase{"input missing", 123, 1, 5, 5, "missing.bmp", "out.bmp"},
                    PathCase{"input a directory", 123, 1, 5, 5, ".", "out.bmp"},
                    PathCase{"allocation refused", -1, 1, -5, 5, "in.bmp", "out.bmp"},
                    PathCase{"rejected", 432, 11, 1024, 1024, "in.bmp", "out.bmp"},
                    PathCase{"output never opens", 124, 1, 5, 5, "in.bmp", "no/such/dir.bmp"},
                    PathCase{"disk full", 124, 7, 1024, 1024, "in.bmp", "/dev/full"}));

}  // namespace
}  // namespace tintwell_test
