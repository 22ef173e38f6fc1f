// Large pictures through the exported call: many slices, rows with and without
// padding, a buffer big enough for huge pages. Each call is
// checked against the model: result, stdout and every byte written.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdlib>
#include <ostream>
#include <random>
#include <string>

#include "bitmap_builder.h"
#include "model.h"

namespace tintwell_test {
namespace {

struct Picture {
    const char* name;
    std::int32_t width;
    std::int32_t height;
};

// Test names show the picture's name, not its bytes.
void PrintTo(const Picture& picture, std::ostream* out) { *out << picture.name; }

// Random pixels and random padding: the padding written must be zero.
Bytes MakeFile(const Picture& picture) {
    Bytes file = MakeBmp(picture.width, picture.height, Bytes(std::size_t(picture.width) * picture.height * 3));
    std::mt19937 random(static_cast<unsigned>(picture.width * 31 + picture.height));
    for (std::size_t i = 54; i < file.size(); ++i) file[i] = static_cast<std::uint8_t>(random());
    return file;
}

class LargePicture : public testing::TestWithParam<Picture> {};

TEST_P(LargePicture, EveryEditMatchesTheModel) {
    const Picture& picture = GetParam();
    const Bytes file = MakeFile(picture);
    TempDir dir;
    const std::string input = dir.File("in.bmp");
    const std::string output = dir.File("out.bmp");
    WriteBytes(input, file);
    struct Call {
        std::int32_t function;
        std::int32_t amount;
    };
    const Call calls[] = {{1, 0},  {2, 40}, {2, 300}, {3, 40},  {3, -1}, {4, 0},  {5, 0},
                          {6, 128}, {6, 0}, {7, 40},  {7, -3},  {8, 40}, {9, 40}};
    for (const Call& call : calls) {
        std::srand(77);
        const ModelOutcome expected = ModelCall({file, true, call.amount, call.function}, [] { return std::rand(); });
        std::srand(77);
        const CallOutcome outcome = CallTintwell(input, output, call.amount, call.function);
        ASSERT_EQ(outcome.result, expected.result) << "function " << call.function;
        ASSERT_EQ(outcome.stdout_bytes, expected.stdout_bytes) << "function " << call.function;
        const std::optional<Bytes> written = ReadBytes(output);
        ASSERT_TRUE(written.has_value());
        ASSERT_EQ(written->size(), expected.output->size()) << "function " << call.function;
        ASSERT_TRUE(*written == *expected.output) << "function " << call.function << " amount " << call.amount;
    }
}

// Peak resident memory of this process so far.
std::size_t PeakResidentBytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<std::size_t>(usage.ru_maxrss) * 1024;
}

// A file that ends after its header but claims almost 1 GB of pixels is read
// without that memory: pages are put in place only as rows arrive.
TEST(ShortFileClaimingAHugePicture, ReadsWithoutTheMemoryItClaims) {
    TempDir dir;
    Bytes header = MakeOnePixelBmp(0, 0, 0);
    header.resize(54);
    PutLittleEndian(header, kOffsetWidth, 20000);
    PutLittleEndian(header, kOffsetHeight, 16000);
    WriteBytes(dir.File("in.bmp"), header);
    const std::size_t before = PeakResidentBytes();
    const CallOutcome outcome = CallTintwell(Utf16(dir.File("in.bmp")), std::nullopt, 0, TINTWELL_FUNCTION_EXIT);
    EXPECT_EQ(outcome.result, TINTWELL_RESULT_EXITED);
    EXPECT_LT(PeakResidentBytes() - before, std::size_t{64} << 20);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, LargePicture,
    testing::Values(Picture{"padded_huge_pages", 1001, 700},     // 2.1 MB of pixels, 1 padding byte a row
                    Picture{"unpadded_huge_pages", 2048, 400},   // rows run on in the file
                    Picture{"narrow_and_tall", 33, 5000}),       // many rows in every slice
    [](const testing::TestParamInfo<Picture>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tintwell_test
