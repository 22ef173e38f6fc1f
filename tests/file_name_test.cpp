// File names arrive as UTF-16 and are converted to UTF-8 before use.
#include <gtest/gtest.h>

#include "bitmap_builder.h"
#include "model.h"

namespace tintwell_test {
namespace {

Bytes Picture() { return MakeBmp(1, 1, Bytes{1, 2, 3}); }

// A path inside `dir` of exactly `length` bytes, its last character being
// `tail` (which may take several bytes in UTF-8).
std::string PathOfLength(const TempDir& dir, std::size_t length, const std::string& tail = "x") {
    std::string path = dir.path().string() + "/";
    path += std::string(length - path.size() - tail.size(), 'n');
    return path + tail;
}

TEST(FileNames, NonAsciiNamesOpenTheRightFile) {
    TempDir dir;
    for (const std::string name : {"사진.bmp", "caf\xC3\xA9.bmp", "\xF0\x9F\x96\xBC.bmp"}) {
        WriteBytes(dir.File(name), Picture());
        EXPECT_EQ(CallTintwell(dir.File(name), dir.File("out " + name), 0, 5).result, 999) << name;
        EXPECT_TRUE(ReadBytes(dir.File("out " + name))) << name;
    }
}

struct LengthCase {
    std::size_t length;
    std::string tail;
    bool opens;
    friend void PrintTo(const LengthCase& c, std::ostream* os) { *os << c.length << " bytes"; }
};

class NameLength : public testing::TestWithParam<LengthCase> {};

// Names of 199 bytes open; 200 bytes or more are refused, never cut short.
TEST_P(NameLength, InputAndOutputObeyTheLimit) {
    const LengthCase& c = GetParam();
    TempDir dir;
    const std::string long_name = PathOfLength(dir, c.length, c.tail);
    const std::string cut_name = long_name.substr(0, 199);
    WriteBytes(long_name, Picture());
    WriteBytes(cut_name, Picture());
    const CallOutcome read = CallTintwell(long_name, dir.File("out.bmp"), 0, 10);
    EXPECT_EQ(read.result, c.opens ? 0 : 123);

    std::filesystem::remove(long_name);
    std::filesystem::remove(cut_name);
    WriteBytes(dir.File("in.bmp"), Picture());
    const CallOutcome write = CallTintwell(dir.File("in.bmp"), long_name, 0, 1);
    EXPECT_EQ(write.result, c.opens ? 999 : 124);
    EXPECT_EQ(ReadBytes(long_name).has_value(), c.opens);
    if (!c.opens) {
        EXPECT_FALSE(ReadBytes(cut_name)) << "never written under a shortened name";
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, NameLength,
                         testing::Values(LengthCase{199, "x", true}, LengthCase{200, "x", false},
                                         LengthCase{199, "\xEC\x82\xAC", true},
                                         LengthCase{200, "\xEC\x82\xAC", false},
                                         LengthCase{201, "\xF0\x9F\x96\xBC", false},
                                         LengthCase{199, "\xF0\x9F\x96\xBC", true}));

struct BadNameCase {
    const char* what;
    std::optional<std::u16string> name;
    friend void PrintTo(const BadNameCase& c, std::ostream* os) { *os << c.what; }
};

class UnusableName : public testing::TestWithParam<BadNameCase> {};

TEST_P(UnusableName, AsInputFailsToLoad) {
    const CallOutcome outcome = CallTintwell(GetParam().name, Utf16("unused.bmp"), 0, 1);
    EXPECT_EQ(outcome.result, TINTWELL_RESULT_LOAD_FAILED);
    EXPECT_TRUE(outcome.stdout_bytes.ends_with(kLoadFailure));
}

TEST_P(UnusableName, AsOutputFailsEverySaveAttempt) {
    TempDir dir;
    WriteBytes(dir.File("in.bmp"), Picture());
    const CallOutcome outcome = CallTintwell(Utf16(dir.File("in.bmp")), GetParam().name, 0, 1);
    const ModelOutcome expected = ModelCall({Picture(), false, 0, 1});
    EXPECT_EQ(outcome.result, expected.result);
    EXPECT_EQ(outcome.stdout_bytes, expected.stdout_bytes);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "nothing written";
}

INSTANTIATE_TEST_SUITE_P(
    Names, UnusableName,
    testing::Values(BadNameCase{"null pointer", std::nullopt}, BadNameCase{"empty", u""},
                    BadNameCase{"lone high surrogate", std::u16string(u"a") + char16_t(0xD800) + u"b.bmp"},
                    BadNameCase{"lone low surrogate", std::u16string(u"a") + char16_t(0xDC00) + u".bmp"},
                    BadNameCase{"high surrogate at the end", std::u16string(u"a.bmp") + char16_t(0xDBFF)},
                    BadNameCase{"very long", std::u16string(100000, u'a')}));

}  // namespace
}  // namespace tintwell_test
