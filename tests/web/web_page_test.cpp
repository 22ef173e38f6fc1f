// The web page in headless Chromium, opened from disk: its self-test mode
// runs each edit through the WebAssembly library, and every result must match
// the native library's call on the same bytes: result code, message bytes and
// output bytes (noise, whose generator differs, within its bounds). The page's
// picture check must agree with the host's, and a screenshot after an edit is
// kept under the build tree.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bitmap_builder.h"
#include "catalogs.h"
#include "edits.h"
#include "picture_check.h"
#include "test_support.h"

namespace tintwell_test {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// A picture the page and the native library both get: generated here, or
// one of the BMP suite's (empty `suite_path` for generated ones).
struct TestPicture {
    std::string name;
    std::string suite_path;
};

constexpr std::int32_t kBitsOfRefusedPicture = 32;

// Generated pictures: padding of 3, 2 and 0 bytes per row, and one the
// check refuses for its 32 bits per pixel (the library edits it anyway).
Bytes GeneratedPicture(const std::string& name) {
    std::mt19937 random(static_cast<std::uint32_t>(std::hash<std::string>{}(name)));
    if (name == "random-1x1.bmp") return MakeRandomBmp(1, 1, random);
    if (name == "random-34x7.bmp") return MakeRandomBmp(34, 7, random);
    if (name == "random-64x3.bmp") return MakeRandomBmp(64, 3, random);
    Bytes bytes = MakeRandomBmp(9, 4, random);
    PutLittleEndian(bytes, kOffsetBitCount, kBitsOfRefusedPicture, 2);
    return bytes;
}

const std::vector<TestPicture>& Pictures() {
    static const std::vector<TestPicture> pictures = {
        {"random-1x1.bmp", ""},
        {"random-34x7.bmp", ""},
        {"random-64x3.bmp", ""},
        {"random-32bit.bmp", ""},
        // Accepted by the check; pixels at byte 138 behind a colour profile;
        // a palette the library reads as pixels; 32 bits per pixel.
        {"rgb24.bmp", "g/rgb24.bmp"},
        {"rgb24prof.bmp", "q/rgb24prof.bmp"},
        {"rgb24pal.bmp", "g/rgb24pal.bmp"},
        {"rgb32.bmp", "g/rgb32.bmp"},
    };
    return pictures;
}

struct Edit {
    std::int32_t function;
    std::int32_t amount;
};

void PrintTo(const TestPicture& picture, std::ostream* out) { *out << picture.name; }
void PrintTo(const Edit& edit, std::ostream* out) { *out << "function " << edit.function << " amount " << edit.amount; }

// Every edit, amounts that wrap, and the two numbers that write nothing.
constexpr Edit kEdits[] = {
    {1, 0},   {2, 40},   {2, 300}, {3, 60},  {3, -1},   {4, 0},   {5, 0},  {6, 128},  {6, 0},
    {7, 64},  {7, -300}, {7, 1},   {8, 300}, {9, 40},   {10, 0},  {11, 7},
};

std::optional<Bytes> PictureBytes(const TestPicture& picture) {
    if (picture.suite_path.empty()) return GeneratedPicture(picture.name);
    const BmpSuiteSearch suite = FindBmpSuite();
    if (!suite.directory) return std::nullopt;
    return ReadBytes((*suite.directory / picture.suite_path).string());
}

std::string Hex(const Bytes& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

Bytes FromHex(const std::string& text) {
    Bytes bytes(text.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(std::stoi(text.substr(2 * i, 2), nullptr, 16));
    }
    return bytes;
}

std::string ReadText(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The text of <pre id="selftest"> in a dumped page, with the markup
// escapes of a text node undone.
std::string SelfTestText(const std::string& dom) {
    const std::string start_tag = "<pre id=\"selftest\"";
    std::size_t start = dom.find(start_tag);
    if (start == std::string::npos) return "";
    start = dom.find('>', start) + 1;
    const std::size_t end = dom.find("</pre>", start);
    std::string text = dom.substr(start, end - start);
    for (const auto& [escaped, plain] : {std::pair<std::string, std::string>{"&lt;", "<"}, {"&gt;", ">"},
                                         {"&quot;", "\""}, {"&amp;", "&"}}) {
        for (std::size_t at = text.find(escaped); at != std::string::npos; at = text.find(escaped, at + 1)) {
            text.replace(at, escaped.size(), plain);
        }
    }
    return text;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// TINTWELL_REQUIRE_BROWSER=1 (make test-web) requires the page and Chromium;
// TINTWELL_REQUIRE_ALL=1 requires Chromium, which CI installs before the
// page is built.
bool PageRequired() {
    const char* required = std::getenv("TINTWELL_REQUIRE_BROWSER");
    return required != nullptr && std::string(required) == "1";
}

std::string BrowserPath() {
    for (const char* candidate : {"/usr/bin/chromium", "/usr/bin/chromium-browser"}) {
        if (fs::exists(candidate)) return candidate;
    }
    return "";
}

// Opens the page from disk in headless Chromium with a fresh profile and no
// network, with `arguments` (--dump-dom or --screenshot=...); returns stdout.
std::string RunBrowser(const fs::path& page, const std::string& query, const std::string& arguments,
                       const TempDir& scratch, const std::string& file = "index.html") {
    const fs::path profile = scratch.path() / "profile";
    fs::create_directories(profile);
    const fs::path dom = scratch.path() / "dom.html";
    const std::string command =
        "HOME=" + Quoted(profile.string()) + " timeout 300 " + BrowserPath() +
        " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking"
        " --disable-component-update --disable-sync --proxy-server=127.0.0.1:9 --user-data-dir=" +
        Quoted(profile.string()) + " --virtual-time-budget=60000 " + arguments + " " +
        Quoted("file://" + (page / file).string() + query) + " >" + Quoted(dom.string()) + " 2>" +
        Quoted((scratch.path() / "browser.log").string());
    const int status = std::system(command.c_str());
    EXPECT_EQ(status, 0) << command << "\n" << ReadText(scratch.path() / "browser.log");
    fs::remove_all(profile);
    return ReadText(dom);
}

// A copy of the built page with the self-test's pictures and jobs beside it.
void WritePage(const fs::path& to, const json& plan) {
    fs::copy(TINTWELL_TEST_WEB_PAGE_DIR, to, fs::copy_options::recursive);
    std::ofstream(to / "selftest.js") << "const TINTWELL_SELFTEST = " << plan.dump() << ";\n";
}

// A job: the picture's name, the function number and the amount.
using JobKey = std::pair<std::string, std::pair<std::int32_t, std::int32_t>>;

struct PageRun {
    std::string skipped;  // why the page could not run here, if it could not
    bool required = false;  // whether that is a failure here
    std::map<JobKey, json> results;
    std::string dom;
};

JobKey KeyOf(const std::string& picture, const Edit& edit) { return {picture, {edit.function, edit.amount}}; }

// Every picture under every edit, in one browser run shared by all tests.
const PageRun& RunAllJobs() {
    static const PageRun run = [] {
        PageRun page_run;
        if (BrowserPath().empty()) {
            page_run.skipped = "Chromium is missing";
            page_run.required = PageRequired() || EverythingRequired();
            return page_run;
        }
        if (!fs::exists(fs::path(TINTWELL_TEST_WEB_PAGE_DIR) / "tintwell-web.js")) {
            page_run.skipped = "no web build (make web) at " TINTWELL_TEST_WEB_PAGE_DIR;
            page_run.required = PageRequired();
            return page_run;
        }
        json plan = {{"pictures", json::object()}, {"jobs", json::array()}};
        for (const TestPicture& picture : Pictures()) {
            const std::optional<Bytes> bytes = PictureBytes(picture);
            if (!bytes) continue;
            plan["pictures"][picture.name] = {{"hex", Hex(*bytes)}};
            for (const Edit& edit : kEdits) {
                plan["jobs"].push_back(
                    {{"picture", picture.name}, {"function", edit.function}, {"amount", edit.amount}, {"keep", true}});
            }
        }
        plan["show"] = {{"picture", "random-34x7.bmp"}, {"edit", "tint-up"}, {"amount", 300}};
        TempDir scratch;
        WritePage(scratch.path() / "page", plan);
        page_run.dom = RunBrowser(scratch.path() / "page", "?selftest=selftest.js", "--dump-dom", scratch);
        const json results = json::parse(SelfTestText(page_run.dom), nullptr, false);
        if (!results.is_array()) {
            ADD_FAILURE() << "the page wrote no results: " << SelfTestText(page_run.dom).substr(0, 2000);
            return page_run;
        }
        for (const json& result : results) {
            page_run.results[KeyOf(result["picture"], {result["function"], result["amount"]})] = result;
        }
        return page_run;
    }();
    return run;
}

// Skips when the page cannot run here, unless that is required here.
#define SKIP_WITHOUT_PAGE(run)                                                         \
    if (!(run).skipped.empty()) {                                                      \
        if ((run).required) FAIL() << "required, but " << (run).skipped;               \
        GTEST_SKIP() << "skipped: " << (run).skipped;                                  \
    }

struct NativeCall {
    CallOutcome outcome;
    std::optional<Bytes> output;
};

NativeCall CallNative(const Bytes& input, const Edit& edit) {
    TempDir scratch;
    WriteBytes(scratch.File("in.bmp"), input);
    NativeCall call{CallTintwell(scratch.File("in.bmp"), scratch.File("out.bmp"), edit.amount, edit.function), {}};
    call.output = ReadBytes(scratch.File("out.bmp"));
    return call;
}

int BitCount(const Bytes& picture) { return picture[kOffsetBitCount] | (picture[kOffsetBitCount + 1] << 8); }

// Noise only raises each channel, by less than the amount's size and at most
// to 255; header and row padding stay exactly the unedited copy's. The
// library pads rows by the header's bit count, and reads 3 bytes a pixel.
void ExpectNoiseWithinBounds(const Bytes& copy, const Bytes& noisy, std::int32_t amount, const Bytes& input) {
    ASSERT_EQ(noisy.size(), copy.size());
    const std::int64_t bound = std::min<std::int64_t>(std::abs(static_cast<std::int64_t>(amount)), 256);
    const std::int32_t width = HeaderField(input, kOffsetWidth);
    const std::size_t row_bytes = static_cast<std::size_t>(width) * 3;
    const std::size_t padded_row = row_bytes + (4 - width * (BitCount(input) / 8) % 4) % 4;
    for (std::size_t at = 0; at < copy.size(); ++at) {
        const bool pixel = at >= 54 && (at - 54) % padded_row < row_bytes;
        const int gain = noisy[at] - copy[at];
        if (!pixel) {
            ASSERT_EQ(gain, 0) << "byte " << at << " is not a pixel's";
        } else {
            ASSERT_GE(gain, 0) << "byte " << at;
            ASSERT_LT(gain, bound) << "byte " << at;
        }
    }
}

class WebPageEdit : public testing::TestWithParam<std::tuple<TestPicture, Edit>> {};

TEST_P(WebPageEdit, MatchesTheNativeLibrary) {
    const auto& [picture, edit] = GetParam();
    const std::optional<Bytes> input = PictureBytes(picture);
    if (!input) TINTWELL_SKIP_UNLESS_REQUIRED(FindBmpSuite().why_missing);
    const PageRun& run = RunAllJobs();
    SKIP_WITHOUT_PAGE(run);
    const auto found = run.results.find(KeyOf(picture.name, edit));
    ASSERT_NE(found, run.results.end()) << "the page has no result for this job";
    const json& web = found->second;

    const NativeCall native = CallNative(*input, edit);
    EXPECT_EQ(web["result"].get<std::int32_t>(), native.outcome.result);
    const Bytes printed = FromHex(web["printed"]);
    EXPECT_EQ(std::string(printed.begin(), printed.end()), native.outcome.stdout_bytes);
    EXPECT_EQ(web["meaning"].get<std::string>(), tintwell_cli::ResultMeaning(native.outcome.result));
    for (const json& english : web["english"]) {
        EXPECT_NE(english.get<std::string>(), "(not one of the library's messages)");
    }

    ASSERT_EQ(web["output"].is_null(), !native.output.has_value());
    if (!native.output) return;
    const Bytes output = FromHex(web["output"]);
    if (edit.function == TINTWELL_FUNCTION_NOISE) {
        const NativeCall copy = CallNative(*input, {TINTWELL_FUNCTION_COPY, 0});
        ExpectNoiseWithinBounds(*copy.output, output, edit.amount, *input);
    } else {
        EXPECT_TRUE(output == *native.output) << "the page's output differs from the native library's";
    }
}

std::string JobName(const testing::TestParamInfo<WebPageEdit::ParamType>& info) {
    const auto& [picture, edit] = info.param;
    std::string name = picture.name.substr(0, picture.name.find('.')) + "_f" + std::to_string(edit.function) +
                       "_a" + (edit.amount < 0 ? "minus" + std::to_string(-edit.amount) : std::to_string(edit.amount));
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Pictures, WebPageEdit,
                         testing::Combine(testing::ValuesIn(Pictures()), testing::ValuesIn(kEdits)), JobName);

// The page's check is the host's, compiled from the same source: the same
// answer for every picture, and the 32-bit ones refused with their reason.
TEST(WebPage, PictureCheckIsTheHosts) {
    const PageRun& run = RunAllJobs();
    SKIP_WITHOUT_PAGE(run);
    for (const TestPicture& picture : Pictures()) {
        const std::optional<Bytes> input = PictureBytes(picture);
        if (!input) continue;
        const json& web = run.results.at(KeyOf(picture.name, kEdits[0]));
        const std::optional<std::string> host = tintwell_cli::PictureRefusal(*input, input->size());
        SCOPED_TRACE(picture.name);
        EXPECT_EQ(web["refusal"].is_null(), !host.has_value());
        if (host) {
            EXPECT_EQ(web["refusal"].get<std::string>(), *host);
        }
        if (BitCount(*input) == kBitsOfRefusedPicture) {
            EXPECT_EQ(web["refusal"], "32 bits per pixel");
        }
    }
}

// After the self-test the page shows an edit made through its own buttons:
// the result, its code explained, the messages in English and a download.
TEST(WebPage, ShowsAnEditMadeThroughItsButtons) {
    const PageRun& run = RunAllJobs();
    SKIP_WITHOUT_PAGE(run);
    EXPECT_NE(run.dom.find("data-selftest=\"done\""), std::string::npos);
    EXPECT_NE(run.dom.find("Result code 999: the output file was written."), std::string::npos);
    // The echo of tint-up 300 in the English of the catalog, as the host shows it.
    const std::string echo = Translations("po/library-messages.po").at(kEchoFormat);
    std::string english = Printed(echo, {300, 300, 300});
    english.pop_back();  // the page shows each message without its newline
    EXPECT_NE(run.dom.find("<td>" + english + "</td>"), std::string::npos) << english;
    EXPECT_NE(run.dom.find("download=\"random-34x7-tint-up.bmp\""), std::string::npos);
    // The host's own warning for the amount, one for each edit it wraps for.
    for (const tintwell_cli::EditInfo& edit : tintwell_cli::AllEdits()) {
        const std::optional<std::string> warning = tintwell_cli::AmountWarning(edit, 300);
        if (warning) {
            EXPECT_NE(run.dom.find("<li>" + *warning + "</li>"), std::string::npos) << *warning;
        }
    }
}

// Blue rising to the right, green to the top, red falling: something to see.
Bytes GradientPicture(std::int32_t width, std::int32_t height) {
    Bytes pixels;
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            pixels.push_back(static_cast<std::uint8_t>(255 * x / width));
            pixels.push_back(static_cast<std::uint8_t>(255 * y / height));
            pixels.push_back(static_cast<std::uint8_t>(255 - 255 * x / width));
        }
    }
    return MakeBmp(width, height, pixels);
}

// A screenshot of the page after an edit, kept for people to look at.
TEST(WebPage, ScreenshotAfterAnEdit) {
    const PageRun& run = RunAllJobs();
    SKIP_WITHOUT_PAGE(run);
    const json plan = {
        {"pictures", {{"sample.bmp", {{"hex", Hex(GradientPicture(240, 135))}}}}},
        {"jobs", json::array()},
        {"show", {{"picture", "sample.bmp"}, {"edit", "invert"}, {"amount", 40}}},
    };
    TempDir scratch;
    WritePage(scratch.path() / "page", plan);
    const fs::path screenshot = fs::path(TINTWELL_TEST_ARTIFACT_DIR) / "web-page.png";
    fs::create_directories(screenshot.parent_path());
    fs::remove(screenshot);
    RunBrowser(scratch.path() / "page", "?selftest=selftest.js",
               "--window-size=1200,1500 --screenshot=" + Quoted(screenshot.string()), scratch);
    ASSERT_TRUE(fs::exists(screenshot));
    EXPECT_GT(fs::file_size(screenshot), 10000u) << "a page with two pictures makes a larger PNG";
}

// `tintwell demo` of a build given the page (make web) puts it beside its
// pictures as editor.html, linked from its index.html, and it starts there
// from disk with the nine edits.
TEST(WebPage, DemoWritesThePageBesideItsPictures) {
    const PageRun& run = RunAllJobs();
    SKIP_WITHOUT_PAGE(run);
    const fs::path given = TINTWELL_TEST_WEB_PAGE_GIVEN_DIR;
    // make web gives the page to the release build alone; make test-web,
    // which tests that build, requires it.
    if (!fs::exists(given / "index.html")) {
        if (PageRequired()) FAIL() << "required, but make web has not given this build the page";
        GTEST_SKIP() << "make web has not given this build the page";
    }
    TempDir scratch;
    const ProcessOutcome demo = RunHost({"demo", scratch.File("demo")});
    ASSERT_EQ(demo.exit_status, 0) << demo.stderr_bytes;
    EXPECT_NE(demo.stderr_bytes.find("index.html and editor.html"), std::string::npos) << demo.stderr_bytes;
    EXPECT_NE(ReadText(scratch.path() / "demo" / "index.html").find("<a href=\"editor.html\">"), std::string::npos);
    const std::string page = ReadText(scratch.path() / "demo" / "editor.html");
    EXPECT_EQ(page, ReadText(given / "index.html"));
    const std::string dom = RunBrowser(scratch.path() / "demo", "", "--dump-dom", scratch, "editor.html");
    EXPECT_NE(dom.find("Choose or drop a BMP picture."), std::string::npos) << dom.substr(0, 3000);
    for (const tintwell_cli::EditInfo& edit : tintwell_cli::AllEdits()) {
        if (!edit.writes_output) continue;
        EXPECT_NE(dom.find("data-edit=\"" + std::string(edit.name) + "\""), std::string::npos) << edit.name;
    }
}

}  // namespace
}  // namespace tintwell_test
