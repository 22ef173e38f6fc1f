// The web page in headless Chromium, opened from disk: its self-test mode
// runs each edit through the WebAssembly library, and every result must match
// the native library's call on the same bytes: result code, message bytes and
// output bytes (noise, whose generator differs, within its bounds). The page's
// picture check must agree with the host's. Pictures dropped into the page
// that the library does not take as they are (a PNG with alpha, a JPEG, a
// 32-bit BMP) must reach it as the browser decoded them, edited as the model
// says; their PNG downloads and their ZIP are read back with other tools. A
// screenshot after an edit is kept under the build tree.
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
#include "model.h"
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

// Runs a command through the shell; false (with a failure naming it) when it
// does not end with status 0.
bool RunCommand(const std::string& command) {
    const int status = std::system(command.c_str());
    EXPECT_EQ(status, 0) << command;
    return status == 0;
}

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
// network, waits until it has finished (tests/web/page_driver.py) and returns
// its DOM; with `screenshot`, a picture of it is saved there too.
std::string RunBrowser(const fs::path& page, const std::string& query, const TempDir& scratch,
                       const std::string& file = "index.html", const std::string& screenshot = "") {
    const fs::path dom = scratch.path() / "dom.html";
    const std::string command =
        "python3 " + Quoted(TINTWELL_TEST_PAGE_DRIVER) + " " + Quoted("file://" + (page / file).string() + query) +
        " " + Quoted(dom.string()) + (screenshot.empty() ? "" : " --screenshot " + Quoted(screenshot)) + " 2>" +
        Quoted((scratch.path() / "browser.log").string());
    const int status = std::system(command.c_str());
    EXPECT_EQ(status, 0) << command << "\n" << ReadText(scratch.path() / "browser.log");
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
    json shown;  // the pictures shown through the page's buttons
    std::string dom;
};

// Why the page cannot run here, if it cannot, and whether that is a failure.
PageRun PageAvailability() {
    PageRun page_run;
    if (BrowserPath().empty()) {
        page_run.skipped = "Chromium is missing";
        page_run.required = PageRequired() || EverythingRequired();
    } else if (!fs::exists(fs::path(TINTWELL_TEST_WEB_PAGE_DIR) / "tintwell-web.js")) {
        page_run.skipped = "no web build (make web) at " TINTWELL_TEST_WEB_PAGE_DIR;
        page_run.required = PageRequired();
    }
    return page_run;
}

// Runs the self-test `plan` in a copy of the page; the results, {jobs, shown},
// or a failure and null.
json RunSelfTest(const json& plan, PageRun& page_run) {
    TempDir scratch;
    WritePage(scratch.path() / "page", plan);
    page_run.dom = RunBrowser(scratch.path() / "page", "?selftest=selftest.js", scratch);
    const json results = json::parse(SelfTestText(page_run.dom), nullptr, false);
    if (!results.is_object() || !results.contains("jobs")) {
        ADD_FAILURE() << "the page wrote no results: " << SelfTestText(page_run.dom).substr(0, 2000);
        return nullptr;
    }
    page_run.shown = results["shown"];
    return results;
}

JobKey KeyOf(const std::string& picture, const Edit& edit) { return {picture, {edit.function, edit.amount}}; }

// Every picture under every edit, in one browser run shared by all tests.
const PageRun& RunAllJobs() {
    static const PageRun run = [] {
        PageRun page_run = PageAvailability();
        if (!page_run.skipped.empty()) return page_run;
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
        plan["show"] = {{"pictures", {"random-34x7.bmp"}}, {"edit", "tint-up"}, {"amount", 300}};
        const json results = RunSelfTest(plan, page_run);
        if (results.is_null()) return page_run;
        for (const json& result : results["jobs"]) {
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
    EXPECT_NE(run.dom.find("download=\"random-34x7-tint-up-300.bmp\""), std::string::npos);
    EXPECT_NE(run.dom.find("a picture the library edits as it is."), std::string::npos);
    // The host's own warning for the amount, one for each edit it wraps for.
    for (const tintwell_cli::EditInfo& edit : tintwell_cli::AllEdits()) {
        const std::optional<std::string> warning = tintwell_cli::AmountWarning(edit, 300);
        if (warning) {
            EXPECT_NE(run.dom.find("<li>" + *warning + "</li>"), std::string::npos) << *warning;
        }
    }
}

// Blue rising to the right, green to the top, red falling: something to see.
Bytes GradientPicture(std::int32_t width, std::int32_t height, std::uint16_t bits_per_pixel = 24) {
    Bytes pixels;
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            pixels.push_back(static_cast<std::uint8_t>(255 * x / width));
            pixels.push_back(static_cast<std::uint8_t>(255 * y / height));
            pixels.push_back(static_cast<std::uint8_t>(255 - 255 * x / width));
            if (bits_per_pixel == 32) pixels.push_back(0);
        }
    }
    return MakeBmp(width, height, pixels, bits_per_pixel);
}

// ---- Pictures the library does not take as they are ----------------------

// 7 pixels a row: 21 bytes, padded by 3 in the library's picture.
constexpr std::int32_t kDropWidth = 7;
constexpr std::int32_t kDropHeight = 5;
constexpr Edit kDropEdit = {TINTWELL_FUNCTION_BRIGHTEN, 40};

// Pixels, top row first, 4 bytes each: red, green, blue, alpha. With
// `transparent`, alpha runs through 0, partly and 255; else it is 255.
Bytes RandomRgba(std::uint32_t seed, bool transparent) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    Bytes rgba(static_cast<std::size_t>(kDropWidth) * kDropHeight * 4);
    for (std::size_t at = 0; at < rgba.size(); ++at) {
        const bool alpha = at % 4 == 3;
        rgba[at] = static_cast<std::uint8_t>(!alpha ? byte(random) : !transparent ? 255 : (at / 4) % 3 == 0 ? 0 : byte(random));
    }
    return rgba;
}

// RGBA, top row first, as a 24-bit picture's rows: bottom row first, blue,
// green, red.
Bytes BottomUpBgr(const Bytes& rgba, std::int32_t width, std::int32_t height) {
    Bytes bgr;
    for (std::int32_t y = height - 1; y >= 0; --y) {
        for (std::int32_t x = 0; x < width; ++x) {
            const std::size_t at = (static_cast<std::size_t>(y) * width + x) * 4;
            bgr.insert(bgr.end(), {rgba[at + 2], rgba[at + 1], rgba[at]});
        }
    }
    return bgr;
}

// A bottom-up 24-bit picture's pixels, top row first: red, green, blue.
Bytes TopDownRgb(const Bytes& bmp) {
    const std::int32_t width = HeaderField(bmp, kOffsetWidth);
    const std::int32_t height = HeaderField(bmp, kOffsetHeight);
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
    Bytes rgb;
    for (std::int32_t y = height - 1; y >= 0; --y) {
        for (std::int32_t x = 0; x < width; ++x) {
            const std::size_t at = 54 + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * 3;
            rgb.insert(rgb.end(), {bmp.at(at + 2), bmp.at(at + 1), bmp.at(at)});
        }
    }
    return rgb;
}

bool HaveImageMagick() { return std::system("command -v convert >/dev/null 2>&1") == 0; }

// ImageMagick's `convert FROM TO` in `scratch`; the bytes of TO.
Bytes Convert(const std::string& from, const std::string& to, const TempDir& scratch) {
    RunCommand("cd " + Quoted(scratch.path().string()) + " && convert " + from + " " + to);
    return ReadBytes(scratch.File(to.substr(to.find(':') + 1))).value_or(Bytes{});
}

// A dropped picture: its file, and the pixels its decode must give (empty
// for a JPEG, whose decoders may differ by a step), and what the page must
// say it lost.
struct DroppedPicture {
    std::string name;
    Bytes file;
    Bytes rgba;
    std::string loss;
};

std::vector<DroppedPicture> DroppedPictures() {
    TempDir scratch;
    const std::string size = "-size " + std::to_string(kDropWidth) + "x" + std::to_string(kDropHeight) + " -depth 8 ";
    const Bytes alpha = RandomRgba(1, true);
    WriteBytes(scratch.File("alpha.rgba"), alpha);
    const Bytes photo = RandomRgba(2, false);
    WriteBytes(scratch.File("photo.rgba"), photo);
    Bytes rgba32 = RandomRgba(3, false);
    Bytes bgrx;  // the 32-bit picture's unused fourth byte is 0: opaque
    for (const std::uint8_t byte : BottomUpBgr(rgba32, kDropWidth, kDropHeight)) {
        bgrx.push_back(byte);
        if (bgrx.size() % 4 == 3) bgrx.push_back(0);
    }
    return {
        {"alpha.png", Convert(size + "rgba:alpha.rgba", "png32:alpha.png", scratch), alpha, "transparency: "},
        {"photo.jpg", Convert(size + "rgba:photo.rgba -quality 90", "photo.jpg", scratch), {}, "any colour profile"},
        {"bgrx32.bmp", MakeBmp(kDropWidth, kDropHeight, bgrx, 32), rgba32,
         "the BMP's own layout (32 bits per pixel) is not kept"},
    };
}

// The three pictures dropped into the page together, brightened, downloaded
// as PNG: one browser run shared by the tests below.
const PageRun& RunDroppedPictures() {
    static const PageRun run = [] {
        PageRun page_run = PageAvailability();
        if (!page_run.skipped.empty()) return page_run;
        json plan = {{"pictures", json::object()}, {"jobs", json::array()}};
        json names = json::array();
        for (const DroppedPicture& picture : DroppedPictures()) {
            plan["pictures"][picture.name] = {{"hex", Hex(picture.file)}};
            names.push_back(picture.name);
        }
        plan["show"] = {{"pictures", names}, {"edit", "brighten"}, {"amount", kDropEdit.amount}, {"format", "png"}};
        RunSelfTest(plan, page_run);
        return page_run;
    }();
    return run;
}

// `run` names the dropped pictures' run; the test skips (or fails, where
// required) without the page or, then, without ImageMagick: without a web
// build (as in make test) ImageMagick is not needed.
#define DROPPED_PICTURES_RUN(run)                                                          \
    {                                                                                      \
        const PageRun available = PageAvailability();                                      \
        SKIP_WITHOUT_PAGE(available);                                                      \
    }                                                                                      \
    if (!HaveImageMagick()) TINTWELL_SKIP_UNLESS_REQUIRED("ImageMagick (convert) is missing"); \
    const PageRun& run = RunDroppedPictures();                                             \
    SKIP_WITHOUT_PAGE(run)

const json& ShownPicture(const PageRun& run, const std::string& name) {
    for (const json& picture : run.shown["pictures"]) {
        if (picture["name"] == name) return picture;
    }
    static const json none = json::object();
    ADD_FAILURE() << "the page did not show " << name;
    return none;
}

// Each picture reaches the library as the browser decoded it, untouched by
// premultiplied alpha, as a bottom-up 24-bit BMP; the library's output is
// the model's for that BMP; the page says what the conversion lost.
TEST(WebPageDrop, EachPictureIsEditedAsTheBrowserDecodedIt) {
    DROPPED_PICTURES_RUN(run);
    for (const DroppedPicture& dropped : DroppedPictures()) {
        SCOPED_TRACE(dropped.name);
        const json& shown = ShownPicture(run, dropped.name);
        ASSERT_TRUE(shown.value("converted", false));
        ASSERT_EQ(shown["width"], kDropWidth);
        ASSERT_EQ(shown["height"], kDropHeight);
        EXPECT_TRUE(shown["exact"].get<bool>()) << "decoded through a premultiplying canvas";
        const Bytes decoded = FromHex(shown["decoded"]);
        if (!dropped.rgba.empty()) {
            EXPECT_TRUE(decoded == dropped.rgba) << "the browser's decode is not the picture's pixels";
        }
        const Bytes library_input = FromHex(shown["library_input"]);
        EXPECT_TRUE(library_input == MakeBmp(kDropWidth, kDropHeight, BottomUpBgr(decoded, kDropWidth, kDropHeight)))
            << "the library did not get the decode as a 24-bit BMP";
        const ModelOutcome model = ModelCall({library_input, true, kDropEdit.amount, kDropEdit.function});
        EXPECT_EQ(shown["result"].get<std::int32_t>(), model.result);
        ASSERT_TRUE(model.output.has_value());
        EXPECT_TRUE(FromHex(shown["output"]) == *model.output) << "the page's output is not the model's";
        EXPECT_NE(shown["summary"].get<std::string>().find(dropped.loss), std::string::npos) << shown["summary"];
    }
}

// The PNG download, decoded by ImageMagick, holds the library's output pixels,
// under a name that says the edit.
TEST(WebPageDrop, PngDownloadHoldsTheOutput) {
    DROPPED_PICTURES_RUN(run);
    for (const DroppedPicture& dropped : DroppedPictures()) {
        SCOPED_TRACE(dropped.name);
        const json& shown = ShownPicture(run, dropped.name);
        EXPECT_EQ(shown["download_name"], dropped.name.substr(0, dropped.name.find('.')) + "-brighten-40.png");
        TempDir scratch;
        WriteBytes(scratch.File("download.png"), FromHex(shown["download"]));
        const Bytes rgb = Convert("png:download.png -depth 8", "rgb:pixels.rgb", scratch);
        EXPECT_TRUE(rgb == TopDownRgb(FromHex(shown["output"]))) << "the PNG's pixels are not the output's";
    }
}

// Three pictures make one ZIP that Python's zipfile reads back into exactly
// the three downloads.
TEST(WebPageDrop, ZipHoldsEveryDownload) {
    DROPPED_PICTURES_RUN(run);
    ASSERT_TRUE(run.shown["zip"].is_object()) << "the page offered no ZIP";
    EXPECT_EQ(run.shown["zip"]["name"], "pictures-brighten-png.zip");
    TempDir scratch;
    WriteBytes(scratch.File("all.zip"), FromHex(run.shown["zip"]["bytes"]));
    ASSERT_TRUE(RunCommand("python3 -m zipfile -e " + Quoted(scratch.File("all.zip")) + " " +
                           Quoted(scratch.File("unpacked"))));
    std::map<std::string, Bytes> downloads;
    for (const json& picture : run.shown["pictures"]) downloads[picture["download_name"]] = FromHex(picture["download"]);
    std::size_t files = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(scratch.path() / "unpacked")) {
        ++files;
        const auto download = downloads.find(entry.path().filename().string());
        ASSERT_NE(download, downloads.end()) << entry.path().filename();
        EXPECT_TRUE(ReadBytes(entry.path().string()) == download->second) << entry.path().filename();
    }
    EXPECT_EQ(files, DroppedPictures().size());
}

// A screenshot of the page after an edit, kept for people to look at.
TEST(WebPage, ScreenshotAfterAnEdit) {
    const PageRun& run = RunAllJobs();
    SKIP_WITHOUT_PAGE(run);
    const json plan = {
        {"pictures", {{"sample.bmp", {{"hex", Hex(GradientPicture(240, 135))}}},
                      {"sample-32bit.bmp", {{"hex", Hex(GradientPicture(240, 135, 32))}}}}},
        {"jobs", json::array()},
        {"show", {{"pictures", {"sample.bmp", "sample-32bit.bmp"}}, {"edit", "invert"}, {"amount", 40}}},
    };
    TempDir scratch;
    WritePage(scratch.path() / "page", plan);
    const fs::path screenshot = fs::path(TINTWELL_TEST_ARTIFACT_DIR) / "web-page.png";
    fs::create_directories(screenshot.parent_path());
    fs::remove(screenshot);
    RunBrowser(scratch.path() / "page", "?selftest=selftest.js", scratch, "index.html", screenshot.string());
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
    const std::string dom = RunBrowser(scratch.path() / "demo", "", scratch, "editor.html");
    EXPECT_NE(dom.find("Choose or drop pictures."), std::string::npos) << dom.substr(0, 3000);
    for (const tintwell_cli::EditInfo& edit : tintwell_cli::AllEdits()) {
        if (!edit.writes_output) continue;
        EXPECT_NE(dom.find("data-edit=\"" + std::string(edit.name) + "\""), std::string::npos) << edit.name;
    }
}

}  // namespace
}  // namespace tintwell_test
