// The tintwell host, run as a separate process on real files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

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
    std::string stderr_bytes = "";
    bool quiet = false;
    friend void PrintTo(const EditCase& c, std::ostream* os) { *os << Joined(c.words); }
};

class HostEdit : public testing::TestWithParam<EditCase> {};

// What read says of Picture() after the library's messages, in English.
std::string ReadAnswer(const Bytes& picture) {
    return "in.bmp: a 9 x 4 24-bit BMP picture of " + std::to_string(picture.size()) +
           " bytes, which tintwell can edit\n";
}

// The host passes exactly the function and amount asked for; the library's
// messages reach stdout as the library printed them, byte for byte, under
// --library-text (without it they are rendered in the user's language:
// language_test.cpp), unless -q drops them. read then says what it found.
TEST_P(HostEdit, PassesTheCallThrough) {
    const EditCase& c = GetParam();
    TempDir dir;
    const Bytes input = Picture();
    WriteBytes(dir.File("in.bmp"), input);
    std::vector<std::string> arguments = {"--library-text"};
    arguments.insert(arguments.end(), c.words.begin(), c.words.end());
    arguments.push_back("in.bmp");
    if (c.writes) arguments.push_back("out.bmp");
    const ProcessOutcome outcome = RunHost(arguments, dir.path().string());
    const ModelOutcome expected = ModelCall({input, true, c.amount, c.function});
    const bool raw = c.words.front() == "raw";
    const std::string answer = c.function == 10 && !raw ? ReadAnswer(input) : "";
    EXPECT_EQ(outcome.exit_status, 0) << outcome.stderr_bytes;
    EXPECT_EQ(outcome.stdout_bytes, (c.quiet ? "" : expected.stdout_bytes) + answer);
    EXPECT_EQ(outcome.stderr_bytes, c.stderr_bytes);
    EXPECT_EQ(ReadBytes(dir.File("out.bmp")), expected.output);
    EXPECT_EQ(ReadBytes(dir.File("in.bmp")), input);
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, HostEdit,
    testing::Values(
        EditCase{{"copy"}, 1, 0, true}, EditCase{{"1"}, 1, 0, true}, EditCase{{"brighten", "40"}, 2, 40, true},
        EditCase{{"2", "+40"}, 2, 40, true},
        EditCase{{"darken", "-1"}, 3, -1, true, "tintwell: warning: amount -1 acts as 255 (darken uses its low 8 bits)\n"},
        EditCase{{"gray"}, 4, 0, true}, EditCase{{"invert"}, 5, 0, true}, EditCase{{"6", "128"}, 6, 128, true},
        EditCase{{"threshold", "2147483647"}, 6, 2147483647, true,
                 "tintwell: warning: amount 2147483647 acts as 255 (threshold uses its low 8 bits)\n"},
        EditCase{{"tint-up", "300"}, 8, 300, true,
                 "tintwell: warning: amount 300 acts as 44 (tint-up uses its low 8 bits)\n"},
        EditCase{{"tint-down", "-2147483648"}, 9, INT32_MIN, true,
                 "tintwell: warning: amount -2147483648 acts as 0 (tint-down uses its low 8 bits)\n"},
        EditCase{{"read"}, 10, 0, false}, EditCase{{"10"}, 10, 0, false},
        EditCase{{"--module", LibraryPath(), "invert"}, 5, 0, true}, EditCase{{"--", "invert"}, 5, 0, true},
        // "--" after EDIT [AMOUNT], in every form.
        EditCase{{"invert", "--"}, 5, 0, true}, EditCase{{"brighten", "40", "--"}, 2, 40, true},
        EditCase{{"read", "--"}, 10, 0, false}, EditCase{{"raw", "3", "7", "--"}, 3, 7, true},
        EditCase{{"raw", "3", "7"}, 3, 7, true}, EditCase{{"raw", "10", "-9"}, 10, -9, false},
        // The call options, before EDIT or after EDIT [AMOUNT].
        EditCase{{"-q", "invert"}, 5, 0, true, "", true}, EditCase{{"invert", "--quiet"}, 5, 0, true, "", true},
        EditCase{{"--quiet", "brighten", "256"}, 2, 256, true,
                 "tintwell: warning: amount 256 acts as 0 (brighten uses its low 8 bits)\n", true},
        EditCase{{"-q", "read"}, 10, 0, false, "", true}, EditCase{{"raw", "5", "0", "-q"}, 5, 0, true, "", true},
        EditCase{{"--force", "copy"}, 1, 0, true}, EditCase{{"copy", "--sync"}, 1, 0, true},
        EditCase{{"--sync", "--force", "-q", "gray"}, 4, 0, true, "", true}));

struct FailureCase {
    std::vector<std::string> arguments;
    int exit_status;
    std::string stderr_bytes;  // exactly
    friend void PrintTo(const FailureCase& c, std::ostream* os) { *os << Joined(c.arguments); }
};

class HostFailure : public testing::TestWithParam<FailureCase> {};

std::string Usage(const std::string& problem) {
    return "tintwell: " + problem + "\nTry 'tintwell --help' for more information.\n";
}

TEST_P(HostFailure, ExitsWithTheRightStatusAndSaysWhy) {
    const FailureCase& c = GetParam();
    TempDir dir;
    const Bytes input = Picture();
    WriteBytes(dir.File("in.bmp"), input);
    WriteBytes(dir.File("notes.bmp"), Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
    std::filesystem::create_directory(dir.File("folder"));
    const ProcessOutcome outcome = RunHost(c.arguments, dir.path().string());
    EXPECT_EQ(outcome.exit_status, c.exit_status) << outcome.stderr_bytes;
    EXPECT_EQ(outcome.stderr_bytes, c.stderr_bytes);
    if (c.exit_status == 1 || c.exit_status == 4) {
        EXPECT_EQ(outcome.stdout_bytes, "") << "the library is not called";
    }
    EXPECT_FALSE(ReadBytes(dir.File("out.bmp"))) << "nothing written";
    EXPECT_EQ(ReadBytes(dir.File("in.bmp")), input);
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++files;
    EXPECT_EQ(files, 3u) << "no temporary left behind";
}

const std::string kAmountRange = "an integer from -2147483648 to 2147483647";
const std::string kLongName = std::string(203, 'n') + ".bmp";

INSTANTIATE_TEST_SUITE_P(
    Usage, HostFailure,
    testing::Values(
        FailureCase{{}, 1, Usage("no edit given")},
        FailureCase{{"sharpen", "in.bmp", "out.bmp"}, 1, Usage("unknown edit 'sharpen'")},
        FailureCase{{"11", "in.bmp", "out.bmp"}, 1, Usage("unknown edit '11'")},
        FailureCase{{"brighten", "in.bmp", "out.bmp"}, 1, Usage("brighten needs an AMOUNT, " + kAmountRange)},
        FailureCase{{"brighten", "4x", "in.bmp", "out.bmp"}, 1, Usage("brighten needs an AMOUNT, " + kAmountRange)},
        FailureCase{{"brighten", "2147483648", "in.bmp", "out.bmp"}, 1,
                    Usage("brighten needs an AMOUNT, " + kAmountRange)},
        FailureCase{{"copy", "40", "in.bmp", "out.bmp"}, 1, Usage("copy takes no AMOUNT")},
        FailureCase{{"5", "-3", "in.bmp", "out.bmp"}, 1, Usage("invert takes no AMOUNT")},
        FailureCase{{"read", "7", "in.bmp"}, 1, Usage("read takes no AMOUNT")},
        FailureCase{{"invert"}, 1, Usage("invert needs INPUT and OUTPUT, got no file")},
        FailureCase{{"invert", "in.bmp"}, 1, Usage("invert needs INPUT and OUTPUT, got 1 file")},
        FailureCase{{"invert", "in.bmp", "out.bmp", "x"}, 1, Usage("invert needs INPUT and OUTPUT, got 3 files")},
        FailureCase{{"invert", "--", "in.bmp"}, 1, Usage("invert needs INPUT and OUTPUT, got 1 file")},
        FailureCase{{"read", "in.bmp", "out.bmp"}, 1, Usage("read needs INPUT alone, got 2 files")},
        FailureCase{{"invert", "-x", "in.bmp", "out.bmp"}, 1, Usage("unknown option '-x'")},
        FailureCase{{"invert", "in.bmp", "out\xFF.bmp"}, 1, Usage("file name is not valid UTF-8: 'out\xFF.bmp'")},
        FailureCase{{"raw", "x", "1", "in.bmp"}, 1,
                    Usage("FUNCTION and AMOUNT must be integers from -2147483648 to 2147483647")},
        FailureCase{{"raw", "1", "in.bmp"}, 1, Usage("raw needs FUNCTION AMOUNT INPUT [OUTPUT]")},
        FailureCase{{"raw", "1", "0", "--"}, 1, Usage("raw needs FUNCTION AMOUNT INPUT [OUTPUT], got no file")},
        FailureCase{{"raw", "1", "0", "--in-place", "in.bmp"}, 1,
                    Usage("raw edits one picture: it takes no --out-dir, --in-place or -j")},
        FailureCase{{"demo", "a", "b"}, 1, Usage("demo takes at most one DIR, got 2 files")},
        FailureCase{{"--bogus"}, 1, Usage("unknown option '--bogus'")},
        FailureCase{{"--module"}, 1, Usage("--module needs a PATH")}));

INSTANTIATE_TEST_SUITE_P(
    Refusals, HostFailure,
    testing::Values(
        FailureCase{{"copy", "missing.bmp", "out.bmp"}, 4, "tintwell: missing.bmp: no such file; nothing written\n"},
        FailureCase{{"read", "missing.bmp"}, 4, "tintwell: missing.bmp: no such file\n"},
        FailureCase{{"copy", "folder", "out.bmp"}, 4, "tintwell: folder: a directory, not a picture; nothing written\n"},
        FailureCase{{"copy", "in.bmp", "folder"}, 4, "tintwell: folder: a directory; nothing written\n"},
        FailureCase{{"copy", "in.bmp", "no/such/dir/out.bmp"}, 4,
                    "tintwell: no/such/dir/out.bmp: the directory 'no/such/dir' does not exist; nothing written\n"},
        FailureCase{{"copy", "in.bmp/x.bmp", "out.bmp"}, 4,
                    "tintwell: in.bmp/x.bmp: a part of its path is not a directory; nothing written\n"},
        FailureCase{{"copy", "notes.bmp", "out.bmp"}, 4,
                    "tintwell: notes.bmp: not a BMP file; tintwell cannot edit it exactly; nothing written (convert "
                    "IN BMP3:OUT or gm convert IN BMP3:OUT writes a BMP that tintwell edits)\n"},
        FailureCase{{"read", "notes.bmp"}, 4,
                    "tintwell: notes.bmp: not a BMP file; tintwell cannot edit it exactly (convert IN BMP3:OUT or gm "
                    "convert IN BMP3:OUT writes a BMP that tintwell edits)\n"},
        FailureCase{{"-q", "copy", "/dev/null", "out.bmp"}, 4,
                    "tintwell: /dev/null: an empty file; tintwell cannot edit it exactly; nothing written (convert IN "
                    "BMP3:OUT or gm convert IN BMP3:OUT writes a BMP that tintwell edits)\n"},
        FailureCase{{"--module", "/no/such/library.so", "invert", "in.bmp", "out.bmp"}, 3,
                    "tintwell: cannot load the library: /no/such/library.so: cannot open shared object file: No "
                    "such file or directory\n"}));

// With the checks passed, or with none at all, what the library returns.
INSTANTIATE_TEST_SUITE_P(
    LibraryResults, HostFailure,
    testing::Values(
        FailureCase{{"raw", "11", "0", "in.bmp", "out.bmp"}, 2,
                    "tintwell: in.bmp: result 432: the function number is not between 1 and 10\n"},
        FailureCase{{"raw", "0", "0", "in.bmp"}, 2,
                    "tintwell: in.bmp: result 432: the function number is not between 1 and 10\n"},
        FailureCase{{"raw", "1", "0", "in.bmp"}, 2,
                    "tintwell: in.bmp: result 124: the output file could not be opened or written\n"},
        FailureCase{{"raw", "1", "0", "missing.bmp", "out.bmp"}, 2,
                    "tintwell: missing.bmp: result 123: the input file could not be opened or read\n"},
        FailureCase{{"raw", "1", "0", kLongName, "out.bmp"}, 2,
                    "tintwell: warning: " + kLongName +
                        ": 207 bytes, longer than the library's limit of 199 bytes for a name\n"
                        "tintwell: " + kLongName + ": result 123: the input file could not be opened or read\n"}));

// --force skips the check and nothing else: the library edits the bytes as
// it would without a host, and the output still replaces nothing on failure.
TEST(HostForce, PassesWhatTheCheckRefuses) {
    TempDir dir;
    const Bytes notes = {'h', 'e', 'l', 'l', 'o', '\n'};
    WriteBytes(dir.File("notes.bmp"), notes);
    // The library's exact bytes: --library-text.
    const ProcessOutcome outcome =
        RunHost({"--force", "--library-text", "copy", "notes.bmp", "out.bmp"}, dir.path().string());
    const ModelOutcome expected = ModelCall({notes, true, 0, 1});
    EXPECT_EQ(outcome.exit_status, 0) << outcome.stderr_bytes;
    EXPECT_EQ(outcome.stdout_bytes, expected.stdout_bytes);
    EXPECT_EQ(ReadBytes(dir.File("out.bmp")), expected.output);
}

struct WarningCase {
    std::string edit;
    std::string amount;
    std::string warning;  // empty: none
};

// An amount that acts as another is passed on, with one warning line.
TEST(HostAmount, WarnsWhereTheAmountActsAsAnother) {
    const std::vector<WarningCase> cases = {
        {"brighten", "0", ""},
        {"brighten", "255", ""},
        {"brighten", "256", "amount 256 acts as 0 (brighten uses its low 8 bits)"},
        {"brighten", "300", "amount 300 acts as 44 (brighten uses its low 8 bits)"},
        {"darken", "-1", "amount -1 acts as 255 (darken uses its low 8 bits)"},
        {"threshold", "-256", "amount -256 acts as 0 (threshold uses its low 8 bits)"},
        {"tint-up", "128", ""},
        {"tint-down", "1000", "amount 1000 acts as 232 (tint-down uses its low 8 bits)"},
        {"noise", "1", ""},
        {"noise", "256", ""},
        {"noise", "0", "amount 0 adds no noise"},
        {"noise", "-5", "amount -5 acts as 5"},
        {"noise", "-256", "amount -256 acts as 256"},
        {"noise", "257", "amount 257 adds the low 8 bits of a value below 257"},
        {"noise", "-2147483648", "amount -2147483648 adds the low 8 bits of a value below 2147483648"},
    };
    TempDir dir;
    WriteBytes(dir.File("in.bmp"), Picture());
    for (const WarningCase& c : cases) {
        const ProcessOutcome outcome = RunHost({"-q", c.edit, c.amount, "in.bmp", "out.bmp"}, dir.path().string());
        EXPECT_EQ(outcome.exit_status, 0) << c.edit << " " << c.amount;
        EXPECT_EQ(outcome.stderr_bytes, c.warning.empty() ? "" : "tintwell: warning: " + c.warning + "\n")
            << c.edit << " " << c.amount;
    }
}

// Names the library could not take pass by descriptor, and /dev/stdout as
// OUTPUT gets the picture even with the library's messages dropped.
TEST(HostNames, LongNamesAndStdoutGoByDescriptor) {
    TempDir dir;
    const Bytes input = Picture();
    WriteBytes(dir.File(kLongName), input);
    const ModelOutcome expected = ModelCall({input, true, 0, 5});
    const ProcessOutcome long_name = RunHost({"-q", "invert", kLongName, kLongName}, dir.path().string());
    EXPECT_EQ(long_name.exit_status, 0) << long_name.stderr_bytes;
    EXPECT_EQ(ReadBytes(dir.File(kLongName)), expected.output);
    WriteBytes(dir.File("in.bmp"), input);
    const ProcessOutcome piped = RunHost({"-q", "invert", "in.bmp", "/dev/stdout"}, dir.path().string());
    EXPECT_EQ(piped.exit_status, 0) << piped.stderr_bytes;
    EXPECT_EQ(Bytes(piped.stdout_bytes.begin(), piped.stdout_bytes.end()), expected.output);
    EXPECT_EQ(piped.stderr_bytes, "");
}

// Every picture of the BMP Suite is either edited (the one the library
// reads as it stands exactly as the model says; every kind checked pixel by
// pixel in ecosystem/bmp_variants_test.py), or refused with its reason, a
// conversion that helps, and nothing written.
TEST(HostBmpSuite, EditsOrRefusesEveryPicture) {
    const BmpSuiteSearch suite = FindBmpSuite();
    if (!suite.directory) TINTWELL_SKIP_UNLESS_REQUIRED(suite.why_missing);
    const std::map<std::string, std::string> reasons = {
        {"q/pal1huffmsb.bmp", "OS/2 Huffman-coded pixels"},
        {"q/rgb16-3103.bmp", "its green mask 0xFFC0 is wider than 8 bits or not contiguous"},
        {"q/rgb24jpeg.bmp", "an embedded JPEG picture, not BMP pixels"},
        {"q/rgb24png.bmp", "an embedded PNG picture, not BMP pixels"},
        {"q/rgb24rle24.bmp", "OS/2 RLE24-coded pixels"},
        {"q/rgb32-111110.bmp", "its red mask 0xFFE00000 is wider than 8 bits or not contiguous"},
        {"q/rgb32-7187.bmp", "its green mask 0x1FFFF80 is wider than 8 bits or not contiguous"},
        {"q/rgba16-1924.bmp", "its green mask 0x1FF is wider than 8 bits or not contiguous"},
        {"q/rgba32-1010102.bmp", "its red mask 0x3FF00000 is wider than 8 bits or not contiguous"},
        {"q/rgba32-61754.bmp", "its green mask 0x3FFFE0 is wider than 8 bits or not contiguous"},
        {"q/rgba32-81284.bmp", "its green mask 0xFFF0000 is wider than 8 bits or not contiguous"},
        {"q/rgba64.bmp", "64 bits per pixel"},
        {"b/badbitcount.bmp", "30000 bits per pixel"},
        {"b/badheadersize.bmp", "an unknown 66-byte information header"},
        {"b/badpalettesize.bmp", "a palette of 305,402,420 colours that runs into its pixels"},
        {"b/badrle.bmp", "a damaged RLE stream: a run or a move goes past the picture"},
        {"b/badrle4.bmp", "a damaged RLE stream: a run or a move goes past the picture"},
        {"b/badrle4bis.bmp", "a damaged RLE stream: a run or a move goes past the picture"},
        {"b/badrle4ter.bmp", "a damaged RLE stream: a run or a move goes past the picture"},
        {"b/badrlebis.bmp", "a damaged RLE stream: a run or a move goes past the picture"},
        {"b/badrleter.bmp", "a damaged RLE stream: a run or a move goes past the picture"},
        {"b/badwidth.bmp", "negative width (-127)"},
        {"b/reallybig.bmp", "more pixels than the library's limit of 2,147,483,647 pixel bytes"},
        {"b/rgb16-880.bmp", "an empty blue mask: the picture has no blue"},
        {"b/rletopdown.bmp", "RLE-coded top-down rows (negative height)"},
        {"b/shortfile.bmp", "the file ends after 273 of 1,086 bytes"},
    };
    std::size_t edited = 0;
    for (const char* folder : {"g", "q", "b"}) {
        for (const auto& entry : std::filesystem::directory_iterator(*suite.directory / folder)) {
            if (entry.path().extension() != ".bmp") continue;
            const std::string name = std::string(folder) + "/" + entry.path().filename().string();
            TempDir dir;
            const ProcessOutcome outcome = RunHost({"-q", "invert", entry.path().string(), "out.bmp"}, dir.path().string());
            const auto reason = reasons.find(name);
            if (reason == reasons.end()) {
                ++edited;
                EXPECT_EQ(outcome.exit_status, 0) << name << ": " << outcome.stderr_bytes;
                if (name == "g/rgb24.bmp") {
                    EXPECT_EQ(ReadBytes(dir.File("out.bmp")), ModelCall({ReadBytes(entry.path()), true, 0, 5}).output);
                }
                continue;
            }
            EXPECT_EQ(outcome.exit_status, 4) << name;
            EXPECT_EQ(outcome.stderr_bytes, "tintwell: " + entry.path().string() + ": " + reason->second +
                                                "; tintwell cannot edit it exactly; nothing written (convert IN "
                                                "BMP3:OUT or gm convert IN BMP3:OUT writes a BMP that tintwell edits)\n");
            EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << name << ": nothing written";
        }
    }
    EXPECT_EQ(edited, 64u);
}

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
    // The host's own closing line goes to stderr, never among the library's messages.
    // After `make web` the demo also writes the web page, and says so.
    const std::string web_page = std::filesystem::exists(dir.File("demo") + "/editor.html") ? " and editor.html" : "";
    EXPECT_EQ(outcome.stderr_bytes,
              "tintwell: demo: wrote the original, 9 edits and index.html" + web_page + " to " + dir.File("demo") + "/\n");
    EXPECT_NE(outcome.stdout_bytes, "");
    const ProcessOutcome quiet = RunHost({"demo", "-q", dir.File("quiet")});
    EXPECT_EQ(quiet.exit_status, 0) << quiet.stderr_bytes;
    EXPECT_EQ(quiet.stdout_bytes, "");
    EXPECT_EQ(ReadBytes(dir.File("quiet") + "/5-invert.bmp"), ReadBytes(dir.File("demo") + "/5-invert.bmp"));
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
