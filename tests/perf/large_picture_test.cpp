// Large pictures through the exported call: many slices, rows with and without
// padding, a buffer big enough for huge pages, a file cut short. Each output
// is checked byte for byte against the rules written out here on their own.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "korvane/tintwell.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

constexpr std::size_t kHeader = 54;

struct Picture {
    const char* name;
    std::int32_t width;
    std::int32_t height;
    std::size_t cut = 0;  // bytes the file lacks at its end
};

// Test names show the picture's name, not its bytes.
void PrintTo(const Picture& picture, std::ostream* out) { *out << picture.name; }

std::size_t Padding(std::int32_t width) { return (4 - width * 3 % 4) % 4; }

void PutLittleEndian(Bytes& bytes, std::size_t at, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The 54 header bytes of a 24-bit picture of the given size.
Bytes MakeHeader(const Picture& picture) {
    const std::size_t row = picture.width * 3 + Padding(picture.width);
    Bytes header(kHeader);
    header[0] = 'B';
    header[1] = 'M';
    PutLittleEndian(header, 2, static_cast<std::uint32_t>(kHeader + row * picture.height), 4);
    PutLittleEndian(header, 10, kHeader, 4);
    PutLittleEndian(header, 14, 40, 4);
    PutLittleEndian(header, 18, static_cast<std::uint32_t>(picture.width), 4);
    PutLittleEndian(header, 22, static_cast<std::uint32_t>(picture.height), 4);
    PutLittleEndian(header, 26, 1, 2);
    PutLittleEndian(header, 28, 24, 2);
    return header;
}

Bytes MakeFile(const Picture& picture) {
    const std::size_t row = picture.width * 3 + Padding(picture.width);
    Bytes file = MakeHeader(picture);
    file.resize(kHeader + row * picture.height - picture.cut);
    std::mt19937 generator(static_cast<unsigned>(picture.width * 31 + picture.height));
    for (std::size_t i = kHeader; i < file.size(); ++i) file[i] = static_cast<std::uint8_t>(generator());
    return file;
}

std::uint8_t Saturated(int value) { return static_cast<std::uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value); }

// The output the rules define: the header as read, each pixel edited, zero
// padding; pixel bytes the file lacks count as zero.
Bytes Expected(const Bytes& file, const Picture& picture, std::int32_t function, std::int32_t amount) {
    const std::size_t padding = Padding(picture.width);
    const std::size_t row = picture.width * 3 + padding;
    const auto a = static_cast<std::uint8_t>(amount);
    Bytes out(file.begin(), file.begin() + kHeader);
    for (std::int32_t y = 0; y < picture.height; ++y) {
        for (std::int32_t x = 0; x < picture.width; ++x) {
            std::uint8_t p[3];
            for (int c = 0; c < 3; ++c) {
                const std::size_t at = kHeader + y * row + x * 3 + c;
                p[c] = at < file.size() ? file[at] : 0;
            }
            for (int c = 0; c < 3; ++c) {
                switch (function) {
                case 1: break;
                case 2: case 8: p[c] = Saturated(p[c] + a); break;
                case 3: case 9: p[c] = Saturated(p[c] - a); break;
                case 5: p[c] = static_cast<std::uint8_t>(255 - p[c]); break;
                case 6: p[c] = p[c] >= a ? 255 : 0; break;
                case 7: p[c] = Saturated(p[c] + static_cast<std::uint8_t>(std::rand() % amount)); break;
                }
            }
            if (function == 4) {
                const auto gray = static_cast<std::uint8_t>((p[2] * 0.2989 + p[1] * 0.587) + p[0] * 0.114);
                p[0] = p[1] = p[2] = gray;
            }
            out.insert(out.end(), p, p + 3);
        }
        out.insert(out.end(), padding, 0);
    }
    return out;
}

std::u16string Utf16(const fs::path& path) {
    const std::string text = path.string();
    return std::u16string(text.begin(), text.end());  // the temporary paths are ASCII
}

// The library's messages are checked elsewhere; here they go to /dev/null.
class QuietStdout {
public:
    QuietStdout() : saved_(::dup(1)) {
        std::fflush(stdout);
        std::FILE* null = std::fopen("/dev/null", "w");
        ::dup2(::fileno(null), 1);
        std::fclose(null);
    }
    ~QuietStdout() {
        std::fflush(stdout);
        ::dup2(saved_, 1);
        ::close(saved_);
    }

private:
    int saved_;
};

class LargePicture : public testing::TestWithParam<Picture> {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tintwell-perf-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

TEST_P(LargePicture, EveryEditGivesTheRuleBytes) {
    const Picture& picture = GetParam();
    const Bytes file = MakeFile(picture);
    const fs::path input = dir_ / "in.bmp";
    const fs::path output = dir_ / "out.bmp";
    std::ofstream(input, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                                  static_cast<std::streamsize>(file.size()));
    struct Call {
        std::int32_t function;
        std::int32_t amount;
    };
    const Call calls[] = {{1, 0},  {2, 40}, {2, 300}, {3, 40},  {3, -1}, {4, 0},  {5, 0},
                          {6, 128}, {6, 0}, {7, 40},  {7, -3},  {8, 40}, {9, 40}};
    for (const Call& call : calls) {
        std::srand(77);
        const Bytes expected = Expected(file, picture, call.function, call.amount);
        std::srand(77);
        std::int32_t result;
        {
            QuietStdout quiet;
            result = Tintwell(Utf16(input).c_str(), Utf16(output).c_str(), call.amount, call.function);
        }
        ASSERT_EQ(result, TINTWELL_RESULT_WRITTEN) << "function " << call.function;
        std::ifstream in(output, std::ios::binary);
        const Bytes written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_EQ(written.size(), expected.size()) << "function " << call.function;
        ASSERT_TRUE(written == expected) << "function " << call.function << " amount " << call.amount;
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
    char pattern[] = "/tmp/tintwell-perf-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path dir = pattern;
    const Bytes header = MakeHeader(Picture{"claim", 20000, 16000});
    std::ofstream(dir / "in.bmp", std::ios::binary).write(reinterpret_cast<const char*>(header.data()), kHeader);
    const std::size_t before = PeakResidentBytes();
    std::int32_t result;
    {
        QuietStdout quiet;
        result = Tintwell(Utf16(dir / "in.bmp").c_str(), nullptr, 0, TINTWELL_FUNCTION_EXIT);
    }
    fs::remove_all(dir);
    EXPECT_EQ(result, TINTWELL_RESULT_EXITED);
    EXPECT_LT(PeakResidentBytes() - before, std::size_t{64} << 20);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, LargePicture,
    testing::Values(Picture{"padded_huge_pages", 1001, 700},     // 2.1 MB of pixels, 1 padding byte a row
                    Picture{"unpadded_huge_pages", 2048, 400},   // rows run on in the file
                    Picture{"narrow_and_tall", 33, 5000},        // many rows in every slice
                    Picture{"cut_short", 1001, 700, 1234567}),   // the rest of the pixels are zero
    [](const testing::TestParamInfo<Picture>& info) { return std::string(info.param.name); });

}  // namespace
