// The tintwell host, run as a separate process on real files.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "bitmap_builder.h"
#include "model.h"

namespace tintwell_test {
namespace {

std::string Joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
    return text;
}

Bytes Picture() {
    std::mt19937 random(17);
    return MakeRandomBmp(9, 4, random);
}

struct EditCase {
    std::vector<std::string> words;  // before INPUT [OUTPUT]
    std::int32_t function;
    std::int32_t amount;
    bool writes;
    friend void PrintTo(const EditCase& c, std::ostream* os) { *os << Joined(c.words); }
};

class HostEdit : public testing::TestWithParam<EditCase> {};

// The host passes exactly the function and amount asked for; the library's
// messages reach stdout untouched.
TEST_P(HostEdit, PassesTheCallThrough) {
    const EditCase& c = GetParam();
    TempDir dir;
    const Bytes input = Picture();
    WriteBytes(dir.File("in.bmp"), input);
    std::vector<std::string> arguments = c.words;
    arguments.push_back("in.bmp");
    if (c.writes) arguments.push_back("out.bmp");
    const ProcessOutcome outcome = RunHost(arguments, dir.path().string());
    const ModelOutcome expected = ModelCall({input, true, c.amount, c.function});
    EXPECT_EQ(outcome.exit_status, 0) << outcome.stderr_bytes;
    EXPECT_EQ(outcome.stdout_bytes, expected.stdout_bytes);
    EXPECT_EQ(outcome.stderr_bytes, "");
    EXPECT_EQ(ReadBytes(dir.File("out.bmp")), expected.output);
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, HostEdit,
    testing::Values(EditCase{{"copy"}, 1, 0, true}, EditCase{{"1"}, 1, 0, true},
                    EditCase{{"brighten", "40"}, 2, 40, true}, EditCase{{"2", "+40"}, 2, 40, true},
                    EditCase{{"darken", "-1"}, 3, -1, true}, EditCase{{"gray"}, 4, 0, true},
                    EditCase{{"invert"}, 5, 0, true}, EditCase{{"6", "128"}, 6, 128, true},
                    EditCase{{"threshold", "2147483647"}, 6, 2147483647, true},
                    EditCase{{"tint-up", "300"}, 8, 300, true}, EditCase{{"tint-down", "-2147483648"}, 9, INT32_MIN, true},
                    EditCase{{"read"}, 10, 0, false}, EditCase{{"10"}, 10, 0, false},
                    EditCase{{"--module", LibraryPath(), "invert"}, 5, 0, true},
                    EditCase{{"--", "invert"}, 5, 0, true}, EditCase{{"raw", "3", "7"}, 3, 7, true},
                    EditCase{{"raw", "10", "-9"}, 10, -9, false}));

struct FailureCase {
    std::vector<std::string> arguments;
    int exit_status;
    const char* stderr_start;
    friend void PrintTo(const FailureCase& c, std::ostream* os) { *os << Joined(c.arguments); }
};

class HostFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(HostFailure, ExitsWithTheRightStatusAndSaysWhy) {
    const FailureCase& c = GetParam();
    TempDir dir;
    WriteBytes(dir.File("in.bmp"), Picture());
    const ProcessOutcome outcome = RunHost(c.arguments, dir.path().string());
    EXPECT_EQ(outcome.exit_status, c.exit_status) << outcome.stderr_bytes;
    EXPECT_TRUE(outcome.stderr_bytes.starts_with(c.stderr_start)) << outcome.stderr_bytes;
    if (c.exit_status == 1) {
        EXPECT_EQ(outcome.stdout_bytes, "") << "the library is not called";
        EXPECT_NE(outcome.stderr_bytes.find("Usage: tintwell"), std::string::npos);
    }
    EXPECT_FALSE(ReadBytes(dir.File("out.bmp"))) << "nothing written";
}

INSTANTIATE_TEST_SUITE_P(
    Errors, HostFailure,
    testing::Values(
        FailureCase{{}, 1, "tintwell: no edit given"},
        FailureCase{{"sharpen", "in.bmp", "out.bmp"}, 1, "tintwell: unknown edit"},
        FailureCase{{"11", "in.bmp", "out.bmp"}, 1, "tintwell: unknown edit"},
        FailureCase{{"brighten", "in.bmp", "out.bmp"}, 1, "tintwell: brighten needs an AMOUNT"},
        FailureCase{{"brighten", "4x", "in.bmp", "out.bmp"}, 1, "tintwell: brighten needs an AMOUNT"},
        FailureCase{{"brighten", "2147483648", "in.bmp", "out.bmp"}, 1, "tintwell: brighten needs an AMOUNT"},
        FailureCase{{"invert", "in.bmp"}, 1, "tintwell: invert needs INPUT and OUTPUT"},
        FailureCase{{"invert", "in.bmp", "out.bmp", "x"}, 1, "tintwell: invert needs INPUT and OUTPUT"},
        FailureCase{{"read", "in.bmp", "out.bmp"}, 1, "tintwell: read needs INPUT alone"},
        FailureCase{{"invert", "in.bmp", "out\xFF.bmp"}, 1, "tintwell: file name is not valid UTF-8"},
        FailureCase{{"invert", "in\xED\xA0\x80.bmp", "out.bmp"}, 1, "tintwell: file name is not valid UTF-8"},
        FailureCase{{"raw", "x", "1", "in.bmp"}, 1, "tintwell: FUNCTION and AMOUNT must be integers"},
        FailureCase{{"raw", "1", "in.bmp"}, 1, "tintwell: raw needs"},
        FailureCase{{"--bogus"}, 1, "tintwell: unknown option '--bogus'"},
        FailureCase{{"--module"}, 1, "tintwell: --module needs a PATH"},
        FailureCase{{"--module", "/no/such/library.so", "invert", "in.bmp", "out.bmp"}, 3,
                    "tintwell: cannot load the library"},
        FailureCase{{"copy", "missing.bmp", "out.bmp"}, 2,
                    "tintwell: result 123: the input file could not be opened or read\n"},
        FailureCase{{"raw", "11", "0", "in.bmp", "out.bmp"}, 2,
                    "tintwell: result 432: the function number is not between 1 and 10\n"},
        FailureCase{{"raw", "0", "0", "in.bmp"}, 2, "tintwell: result 432"},
        FailureCase{{"raw", "1", "0", "in.bmp"}, 2, "tintwell: result 124: the output file could not be opened"},
        FailureCase{{"copy", "in.bmp", "no/such/dir/out.bmp"}, 2, "tintwell: result 124"}));

TEST(Host, HelpAndVersion) {
    const ProcessOutcome help = RunHost({"--help"});
    EXPECT_EQ(help.exit_status, 0);
    EXPECT_TRUE(help.stdout_bytes.starts_with("Usage: tintwell")) << help.stdout_bytes;
    for (const char* edit : {"copy", "brighten", "darken", "gray", "invert", "threshold", "noise", "tint-up",
                             "tint-down", "read", "raw", "demo", "--module"}) {
        EXPECT_NE(help.stdout_bytes.find(edit), std::string::npos) << edit;
    }
    const ProcessOutcome version = RunHost({"--version"});
    EXPECT_EQ(version.exit_status, 0);
    EXPECT_TRUE(version.stdout_bytes.starts_with("tintwell ")) << version.stdout_bytes;
    EXPECT_NE(version.stdout_bytes.find("libKorvaneTintwell.so.1"), std::string::npos) << version.stdout_bytes;
}

// The demo writes the sample, nine edits and a page that shows all ten.
TEST(Host, DemoWritesTenPicturesAndAPage) {
    TempDir dir;
    const ProcessOutcome outcome = RunHost({"demo", dir.File("demo")});
    ASSERT_EQ(outcome.exit_status, 0) << outcome.stderr_bytes;
    const std::string folder = dir.File("demo") + "/";
    const std::optional<Bytes> original = ReadBytes(folder + "original.bmp");
    ASSERT_TRUE(original);
    EXPECT_EQ(original->size(), 54u + 300u * (401u * 3u + 1u));
    std::ifstream page_file(folder + "index.html");
    const std::string page{std::istreambuf_iterator<char>(page_file), std::istreambuf_iterator<char>()};
    struct Expected {
        const char* file;
        std::int32_t function;
        std::int32_t amount;
    };
    for (const Expected& e : {Expected{"1-copy.bmp", 1, 0}, Expected{"2-brighten.bmp", 2, 60},
                              Expected{"3-darken.bmp", 3, 60}, Expected{"4-gray.bmp", 4, 0},
                              Expected{"5-invert.bmp", 5, 0}, Expected{"6-threshold.bmp", 6, 128},
                              Expected{"8-tint-up.bmp", 8, 40}, Expected{"9-tint-down.bmp", 9, 40}}) {
        EXPECT_EQ(ReadBytes(folder + e.file), ModelCall({original, true, e.amount, e.function}).output) << e.file;
    }
    EXPECT_EQ(ReadBytes(folder + "7-noise.bmp").value_or(Bytes{}).size(), original->size());
    for (const char* file : {"original.bmp", "1-copy.bmp", "4-gray.bmp", "7-noise.bmp", "9-tint-down.bmp"}) {
        EXPECT_NE(page.find(std::string("src=\"") + file + "\""), std::string::npos) << file;
    }
}

}  // namespace
}  // namespace tintwell_test
