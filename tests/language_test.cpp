// The host in its user's language, through the real host: every library
// message and the host's own lines, in English and in Korean, with exact
// bytes, the expected text taken from the catalogs of po/.
#include <gtest/gtest.h>

#include <clocale>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bitmap_builder.h"
#include "catalogs.h"
#include "format.h"
#include "host_messages.h"
#include "model.h"
#include "test_support.h"

namespace tintwell_test {
namespace {

namespace text = tintwell_cli::text;

// A language as the tests run the host in it: its settings and its catalog.
struct Language {
    std::string name;
    LanguageSettings settings;
    std::map<std::string, std::string> catalog;  // empty: English

    std::string Tr(std::string_view english) const {
        const auto found = catalog.find(std::string(english));
        return found == catalog.end() ? std::string(english) : found->second;
    }
    // A host message filled in, as the host fills it in.
    std::string Line(std::string_view format, const std::vector<std::string>& arguments) const {
        return tintwell_cli::FormatWith(Tr(format), arguments.data(), arguments.size());
    }
    bool korean() const { return !catalog.empty(); }
};

const Language& English() {
    static const Language language{"English", kEnglish, {}};
    return language;
}

const Language& Korean() {
    static const Language language{"Korean", kKorean, Translations("po/ko.po")};
    return language;
}

// The host speaks Korean only where the system has a Korean locale (CI
// generates ko_KR.UTF-8).
bool KoreanLocaleMissing() {
    const locale_t korean = ::newlocale(LC_ALL_MASK, "ko_KR.UTF-8", nullptr);
    if (korean == nullptr) return true;
    ::freelocale(korean);
    return false;
}

#define SKIP_WITHOUT_KOREAN()                                                                       \
    do {                                                                                            \
        if (KoreanLocaleMissing()) TINTWELL_SKIP_UNLESS_REQUIRED("the ko_KR.UTF-8 locale is missing"); \
    } while (false)

Bytes Picture() {
    std::mt19937 random(5);
    return MakeRandomBmp(7, 3, random);
}

// A header whose pixels the library cannot allocate: more than 2^31 bytes.
Bytes HugePicture() {
    Bytes bytes = MakeBmp(1, 1, {1, 2, 3});
    PutLittleEndian(bytes, kOffsetWidth, 100000);
    PutLittleEndian(bytes, kOffsetHeight, 100000);
    return bytes;
}

// What read says of a picture after the library's messages.
std::string ReadAnswer(const Language& language, const std::string& file, const Bytes& picture) {
    const std::string what = language.Line(
        text::kReadEditable, {std::to_string(HeaderField(picture, kOffsetWidth)),
                              std::to_string(HeaderField(picture, kOffsetHeight)), std::to_string(picture.size())});
    return language.Line(text::kReadAnswerLine, {file, what}) + "\n";
}

struct LibraryCase {
    std::string name;
    std::vector<std::string> words;  // before in.bmp [out.bmp]
    std::int32_t function;
    std::int32_t amount;
    bool huge = false;
    friend void PrintTo(const LibraryCase& c, std::ostream* os) { *os << c.name; }
};

class LibraryMessages : public testing::TestWithParam<LibraryCase> {};

// The library's messages: in English as the catalog renders them, each on
// a line of its own; under Korean as the library prints them; with
// --library-text as the library prints them, whatever the language.
TEST_P(LibraryMessages, AppearInTheUsersLanguage) {
    SKIP_WITHOUT_KOREAN();
    const LibraryCase& c = GetParam();
    const Bytes input = c.huge ? HugePicture() : Picture();
    const ModelOutcome model = ModelCall({input, true, c.amount, c.function});
    const bool writes = c.function != 10;
    for (const bool library_text : {false, true}) {
        for (const Language* language : {&English(), &Korean()}) {
            SCOPED_TRACE(language->name + (library_text ? " with --library-text" : ""));
            TempDir dir;
            WriteBytes(dir.File("in.bmp"), input);
            std::vector<std::string> arguments = c.words;
            if (library_text) arguments.insert(arguments.begin(), "--library-text");
            arguments.push_back("in.bmp");
            if (writes) arguments.push_back("out.bmp");
            const ProcessOutcome outcome = RunHost(arguments, dir.path().string(), language->settings);
            std::string expected =
                library_text || language->korean() ? model.stdout_bytes : EnglishOf(model.messages);
            if (!writes && !c.huge) expected += ReadAnswer(*language, "in.bmp", input);
            EXPECT_EQ(outcome.stdout_bytes, expected);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Edits, LibraryMessages,
    testing::Values(LibraryCase{"invert", {"invert"}, 5, 0}, LibraryCase{"tint_up", {"tint-up", "40"}, 8, 40},
                    LibraryCase{"tint_up_negative", {"tint-up", "-300"}, 8, -300},
                    LibraryCase{"tint_down", {"tint-down", "7"}, 9, 7}, LibraryCase{"read", {"read"}, 10, 0},
                    LibraryCase{"allocation_failure", {"--force", "read"}, 10, 0, true}),
    [](const testing::TestParamInfo<LibraryCase>& info) { return info.param.name; });

// Every message of the catalog, printed a byte at a time by a stand-in
// library: whole messages become their English, cut ones wait for their
// end, and text that is none of them is shown as it stands, never dropped.
TEST(LibraryMessages, EveryMessageOfTheCatalogAndUnknownText) {
    SKIP_WITHOUT_KOREAN();
    const std::vector<std::int32_t> numbers = {401, -300, 2147483647};
    std::string printed = "a line from another build\n";
    std::string english = printed;
    for (const CatalogEntry& entry : ReadCatalog("po/library-messages.po")) {
        printed += Printed(entry.id, numbers);
        std::string line = Printed(entry.text, numbers);
        english += line.ends_with('\n') ? line : line + "\n";
    }
    printed += "no newline at the end";
    english += "no newline at the end";
    TempDir dir;
    WriteBytes(dir.File("says.bmp"), Picture());
    for (const Language* language : {&English(), &Korean()}) {
        SCOPED_TRACE(language->name);
        LanguageSettings settings = language->settings;
        settings.push_back("TINTWELL_FAKE_SAYS=" + printed);
        const ProcessOutcome outcome = RunHost({"--module", TINTWELL_TEST_FAKE_MODULE, "copy", "says.bmp", "out.bmp"},
                                               dir.path().string(), settings);
        EXPECT_EQ(outcome.stdout_bytes, language->korean() ? printed : english);
    }
}

// The catalog holds exactly the library's messages, byte for byte.
TEST(LibraryMessages, CatalogHoldsEveryMessageOfTheLibrary) {
    std::vector<std::string> ids;
    for (const CatalogEntry& entry : ReadCatalog("po/library-messages.po")) ids.push_back(entry.id);
    const std::vector<std::string> library = {kLoadPrompt,  kLoadFailure, kAllocationFailure, kReadCompleteFormat,
                                              kRejection,   kExit,        kSavePrompt,        kSaveFailure,
                                              kIncreasePrompt, kEchoFormat, kDecreasePrompt};
    EXPECT_EQ(ids, library);
}

struct LineCase {
    std::string name;
    std::vector<std::string> arguments;
    int exit_status;
    // The expected stderr in a language.
    std::function<std::string(const Language&)> stderr_bytes;
    friend void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }
};

class HostLines : public testing::TestWithParam<LineCase> {};

// The host's own lines in each language: the catalog's translation of each
// whole format string, filled in.
TEST_P(HostLines, AreInTheUsersLanguage) {
    SKIP_WITHOUT_KOREAN();
    const LineCase& c = GetParam();
    for (const Language* language : {&English(), &Korean()}) {
        SCOPED_TRACE(language->name);
        TempDir dir;
        WriteBytes(dir.File("a.bmp"), Picture());
        WriteBytes(dir.File("text.bmp"), {'B', 'M', '\n'});
        const ProcessOutcome outcome = RunHost(c.arguments, dir.path().string(), language->settings);
        EXPECT_EQ(outcome.exit_status, c.exit_status);
        EXPECT_EQ(outcome.stderr_bytes, c.stderr_bytes(*language));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, HostLines,
    testing::Values(
        LineCase{"usage", {"bogus"}, 1, [](const Language& l) {
                     return l.Line(text::kUsageLine, {l.Line(text::kUnknownEdit, {"bogus"})}) + "\n";
                 }},
        LineCase{"arity", {"invert", "a.bmp"}, 1, [](const Language& l) {
                     return l.Line(text::kUsageLine,
                                   {l.Line(text::kNeedsInputAndOutput, {"invert", l.Tr(text::kOneFileCounted)})}) +
                            "\n";
                 }},
        LineCase{"missing", {"invert", "missing.bmp", "b.bmp"}, 4, [](const Language& l) {
                     return l.Line(text::kRefusedNothingWrittenLine, {"missing.bmp", l.Tr(text::kNoSuchFile)}) + "\n";
                 }},
        LineCase{"not_a_picture", {"-q", "invert", "text.bmp", "b.bmp"}, 4, [](const Language& l) {
                     const std::string why = l.Line(text::kHeaderCut, {"3", "54"});
                     return l.Line(text::kRefusedNothingWrittenHintLine,
                                   {"text.bmp", l.Line(text::kNotAPicture, {why}), l.Tr(text::kConvertHint)}) +
                            "\n";
                 }},
        LineCase{"warning", {"-q", "brighten", "300", "a.bmp", "b.bmp"}, 0, [](const Language& l) {
                     return l.Line(text::kWarningLine, {l.Line(text::kAmountLowBits, {"300", "44", "brighten"})}) +
                            "\n";
                 }},
        LineCase{"batch", {"-q", "read", "-j", "1", "a.bmp", "text.bmp"}, 4, [](const Language& l) {
                     const std::string why = l.Line(text::kHeaderCut, {"3", "54"});
                     return l.Line(text::kRefusedHintLine,
                                   {"text.bmp", l.Line(text::kNotAPicture, {why}), l.Tr(text::kConvertHint)}) +
                            "\n" +
                            l.Line(text::kBatchReadRefused, {l.Line(text::kPictures, {"2"}), "1", "1", "1"}) + "\n";
                 }}),
    [](const testing::TestParamInfo<LineCase>& info) { return info.param.name; });

// read tells its result in words, on stdout, -q or not: what the picture
// is, or why tintwell does not edit it.
TEST(HostLines, ReadSaysWhatItFound) {
    SKIP_WITHOUT_KOREAN();
    for (const Language* language : {&English(), &Korean()}) {
        SCOPED_TRACE(language->name);
        TempDir dir;
        const Bytes picture = Picture();
        WriteBytes(dir.File("a.bmp"), picture);
        WriteBytes(dir.File("text.bmp"), {'B', 'M', '\n'});
        EXPECT_EQ(RunHost({"-q", "read", "a.bmp"}, dir.path().string(), language->settings).stdout_bytes,
                  ReadAnswer(*language, "a.bmp", picture));
        const std::string why = language->Line(text::kHeaderCut, {"3", "54"});
        EXPECT_EQ(RunHost({"-q", "--force", "read", "text.bmp"}, dir.path().string(), language->settings).stdout_bytes,
                  language->Line(text::kReadAnswerLine, {"text.bmp", language->Line(text::kReadNotEditable, {why})}) +
                      "\n");
    }
}

// --help: every paragraph, whole, in each language.
TEST(HostLines, HelpIsInTheUsersLanguage) {
    SKIP_WITHOUT_KOREAN();
    for (const Language* language : {&English(), &Korean()}) {
        SCOPED_TRACE(language->name);
        const std::string help = RunHost({"--help"}, "", language->settings).stdout_bytes;
        int paragraphs = 0;
        for (const CatalogEntry& entry : ReadCatalog("po/ko.po")) {
            for (const std::string& place : entry.places) {
                if (place != "cli/help.cpp") continue;
                // The help's one paragraph with a field has it filled in.
                if (entry.id.find("{0}") != std::string::npos) continue;
                ++paragraphs;
                EXPECT_NE(help.find(language->Tr(entry.id)), std::string::npos) << entry.id;
            }
        }
        EXPECT_GE(paragraphs, 7);
    }
}

}  // namespace
}  // namespace tintwell_test
