// The host's picture check, case by case: what it accepts, and the reason it
// gives for everything else.
#include <gtest/gtest.h>

#include "bitmap_builder.h"
#include "picture_check.h"

namespace tintwell_test {
namespace {

// A 5 x 3 picture: rows of 15 bytes padded to 16, 54 + 48 = 102 bytes.
constexpr std::uint64_t kWholeSize = 102;

struct FieldChange {
    std::size_t offset;
    std::uint32_t value;
    std::size_t size;
};

struct CheckCase {
    const char* name;
    std::vector<FieldChange> changes;
    std::optional<std::uint64_t> file_size;  // the header's bytes stay; the length is this
    std::optional<std::string> refusal;
    friend void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }
};

class PictureCheck : public testing::TestWithParam<CheckCase> {};

TEST_P(PictureCheck, AcceptsOnlyWhatTheLibraryEditsCorrectly) {
    const CheckCase& c = GetParam();
    Bytes file = MakeBmp(5, 3, Bytes(45, 7));
    ASSERT_EQ(file.size(), kWholeSize);
    for (const FieldChange& change : c.changes) PutLittleEndian(file, change.offset, change.value, change.size);
    const std::uint64_t size = c.file_size.value_or(file.size());
    const std::span<const std::uint8_t> first(file.data(), std::min<std::size_t>(54, size));
    EXPECT_EQ(tintwell_cli::PictureRefusal(first, size), c.refusal);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, PictureCheck,
    testing::Values(
        CheckCase{"whole", {}, {}, std::nullopt},
        CheckCase{"trailing_bytes", {}, kWholeSize + 1000, std::nullopt},
        CheckCase{"empty", {}, 0, "an empty file"},
        CheckCase{"one_byte", {}, 1, "not a BMP file"},
        CheckCase{"png", {{0, 0x4E5089, 4}}, {}, "not a BMP file"},
        CheckCase{"bitmap_array", {{0, 'B' | 'A' << 8, 2}}, {}, "not a BMP file"},
        CheckCase{"short_header", {}, 30, "the file ends after 30 of 54 header bytes"},
        CheckCase{"header_only", {}, 54, "the file ends after 54 of 102 bytes"},
        CheckCase{"one_byte_short", {}, kWholeSize - 1, "the file ends after 101 of 102 bytes"},
        CheckCase{"rgb32", {{28, 32, 2}}, {}, "32 bits per pixel"},
        CheckCase{"pal8", {{28, 8, 2}}, {}, "8 bits per pixel"},
        CheckCase{"monochrome", {{28, 1, 2}}, {}, "1 bit per pixel"},
        CheckCase{"rle8", {{30, 1, 4}}, {}, "compressed pixels (RLE8)"},
        CheckCase{"bitfields", {{30, 3, 4}}, {}, "compressed pixels (bit fields)"},
        CheckCase{"unknown_method", {{30, 77, 4}}, {}, "compressed pixels (method 77)"},
        CheckCase{"embedded_jpeg", {{30, 4, 4}, {28, 0, 2}}, {}, "compressed pixels (JPEG, or RLE24 in an OS/2 file)"},
        CheckCase{"embedded_png", {{30, 5, 4}, {28, 0, 2}}, {}, "compressed pixels (PNG)"},
        CheckCase{"os2_header", {{14, 12, 4}}, {}, "a 12-byte information header, not 40"},
        CheckCase{"v5_header", {{14, 124, 4}, {10, 138, 4}}, {}, "a 124-byte information header, not 40"},
        CheckCase{"pixels_elsewhere", {{10, 138, 4}}, {}, "pixels start at byte 138, not 54"},
        CheckCase{"top_down", {{22, static_cast<std::uint32_t>(-3), 4}}, {}, "top-down rows (negative height)"},
        CheckCase{"no_rows", {{22, 0, 4}}, {}, "no rows (height 0)"},
        CheckCase{"no_columns", {{18, 0, 4}}, {}, "no pixels across (width 0)"},
        CheckCase{"negative_width", {{18, static_cast<std::uint32_t>(-5), 4}}, {}, "negative width (-5)"},
        // The 5 KB file that claimed 131168 x 4096 pixels.
        CheckCase{"huge_claim", {{18, 131168, 4}, {22, 4096, 4}}, 5000,
                  "the file ends after 5,000 of 1,611,792,438 bytes"},
        CheckCase{"largest_dimensions", {{18, 0x7FFFFFFF, 4}, {22, 0x7FFFFFFF, 4}}, {},
                  "2,147,483,647 x 2,147,483,647 pixels, more than the library's limit of 2,147,483,647 pixel bytes"},
        // 715827882 x 1 x 3 = 2147483646 bytes fits; the row alone is 2147483648 with padding.
        CheckCase{"at_the_limit", {{18, 715827882, 4}, {22, 1, 4}}, 4000,
                  "the file ends after 4,000 of 2,147,483,702 bytes"},
        CheckCase{"past_the_limit", {{18, 715827883, 4}, {22, 1, 4}}, 4000,
                  "715,827,883 x 1 pixels, more than the library's limit of 2,147,483,647 pixel bytes"}),
    [](const testing::TestParamInfo<CheckCase>& info) { return std::string(info.param.name); });

// Only the first 54 bytes are looked at, and fewer never read past their end.
TEST(PictureCheckBounds, ReadsNoMoreThanItIsGiven) {
    const Bytes file = MakeBmp(5, 3, Bytes(45, 7));
    for (std::size_t given = 0; given < 54; ++given) {
        EXPECT_TRUE(tintwell_cli::PictureRefusal(std::span(file.data(), given), given).has_value()) << given;
    }
    EXPECT_EQ(tintwell_cli::PictureRefusal(file, file.size()), std::nullopt);
}

}  // namespace
}  // namespace tintwell_test
