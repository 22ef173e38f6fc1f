#include "demo.h"

#include <cstdio>
#include <filesystem>
#include <optional>

#include "edit_picture.h"
#include "edits.h"
#include "exit_status.h"
#include "host_messages.h"
#include "report.h"
#include "safe_output.h"
#include "web_page.h"

namespace tintwell_cli {
namespace {

constexpr int kWidth = 401;
constexpr int kHeight = 300;

void PutLittleEndian(std::vector<std::uint8_t>& bytes, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

struct Rgb {
    int red, green, blue;
};

// A hue sweep left to right, fading to white at the top, with three
// saturated discs: every edit has something to show.
Rgb SampleColour(int x, int y) {
    const int hue = x * 1536 / kWidth;  // six 256-step segments
    const int rise = hue % 256;
    const int fall = 255 - rise;
    static constexpr int kSegments[6][3] = {{2, 1, 0}, {3, 2, 0}, {0, 2, 1}, {0, 3, 2}, {1, 0, 2}, {2, 0, 3}};
    const int* segment = kSegments[hue / 256];
    const auto channel = [&](int which) { return which == 0 ? 0 : which == 1 ? rise : which == 2 ? 255 : fall; };
    Rgb colour{channel(segment[0]), channel(segment[1]), channel(segment[2])};
    const int whiten = y * 200 / kHeight;  // bottom row first: y grows upwards
    colour = {colour.red + (255 - colour.red) * whiten / 255, colour.green + (255 - colour.green) * whiten / 255,
              colour.blue + (255 - colour.blue) * whiten / 255};
    static constexpr int kDiscs[3][6] = {
        {90, 150, 55, 200, 30, 40}, {200, 90, 45, 20, 20, 30}, {320, 190, 60, 250, 240, 60}};
    for (const auto& disc : kDiscs) {
        const int dx = x - disc[0], dy = y - disc[1];
        if (dx * dx + dy * dy <= disc[2] * disc[2]) colour = {disc[3], disc[4], disc[5]};
    }
    return colour;
}

struct DemoEdit {
    std::string_view name;
    std::int32_t amount;
};

constexpr DemoEdit kDemoEdits[] = {
    {"copy", 0},       {"brighten", 60},  {"darken", 60},    {"gray", 0},          {"invert", 0},
    {"threshold", 128}, {"noise", 64},    {"tint-up", 40},   {"tint-down", 40},
};

std::string FileNameOf(const EditInfo& edit) {
    return std::to_string(edit.function) + "-" + std::string(edit.name) + ".bmp";
}

std::string Figure(const std::string& file, const std::string& caption) {
    return "<figure><img src=\"" + file + "\" width=\"" + std::to_string(kWidth) + "\" height=\"" +
           std::to_string(kHeight) + "\" alt=\"" + caption + "\"><figcaption>" + caption +
           "</figcaption></figure>\n";
}

std::string PageHead() {
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<title>KorvaneTintwell demo</title>\n<style>\n"
           "body { font-family: sans-serif; margin: 1.5em; background: #f4f4f4; }\n"
           "main { display: flex; flex-wrap: wrap; gap: 1em; }\n"
           "figure { margin: 0; padding: 0.5em; background: #fff; box-shadow: 0 1px 3px #999; }\n"
           "figcaption { text-align: center; padding-top: 0.3em; }\n"
           "</style>\n</head>\n<body>\n<h1>KorvaneTintwell demo</h1>\n"
           "<p>A 401 &times; 300 sample picture and the nine edits of it, each made by one call of "
           "<code>Tintwell</code>.</p>\n<main>\n";
}

// A line that the browser fills in with how many of the pictures it could
// decode: a check that every picture is a BMP file that browsers show.
std::string DecodedCount(std::size_t pictures) {
    return "<p>Pictures this browser decoded: <output id=\"decoded\">(needs scripts)</output> of " +
           std::to_string(pictures) +
           ".</p>\n<script>\n"
           "window.addEventListener(\"load\", () => {\n"
           "  const decoded = Array.from(document.images).filter((image) => image.naturalWidth > 0);\n"
           "  document.getElementById(\"decoded\").textContent = decoded.length;\n"
           "});\n</script>\n";
}

// Runs one edit through the library; returns whether it succeeded.
bool RunEdit(TintwellEntry entry, const EditInfo& edit, std::int32_t amount, const std::string& output,
             const CallOptions& options) {
    const PictureEdit picture{edit.function, amount, "original.bmp", output};
    const Outcome outcome = EditPicture(entry, picture, options);
    ReportPicture(outcome, picture, options);
    return outcome.kind == OutcomeKind::kSucceeded;
}

}  // namespace

std::vector<std::uint8_t> SamplePicture() {
    const int padding = (4 - kWidth * 3 % 4) % 4;
    const std::uint32_t image_size = static_cast<std::uint32_t>((kWidth * 3 + padding) * kHeight);
    std::vector<std::uint8_t> bytes;
    bytes.reserve(54 + image_size);
    bytes.push_back('B');
    bytes.push_back('M');
    PutLittleEndian(bytes, 54 + image_size, 4);
    PutLittleEndian(bytes, 0, 4);
    PutLittleEndian(bytes, 54, 4);
    PutLittleEndian(bytes, 40, 4);
    PutLittleEndian(bytes, kWidth, 4);
    PutLittleEndian(bytes, kHeight, 4);
    PutLittleEndian(bytes, 1, 2);
    PutLittleEndian(bytes, 24, 2);
    PutLittleEndian(bytes, 0, 4);
    PutLittleEndian(bytes, image_size, 4);
    PutLittleEndian(bytes, 2835, 4);  // 72 dots per inch
    PutLittleEndian(bytes, 2835, 4);
    PutLittleEndian(bytes, 0, 4);
    PutLittleEndian(bytes, 0, 4);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const Rgb colour = SampleColour(x, y);
            bytes.push_back(static_cast<std::uint8_t>(colour.blue));
            bytes.push_back(static_cast<std::uint8_t>(colour.green));
            bytes.push_back(static_cast<std::uint8_t>(colour.red));
        }
        bytes.insert(bytes.end(), static_cast<std::size_t>(padding), 0);
    }
    return bytes;
}

// The demo replaces nothing: it writes into a directory that it makes, or
// an existing empty one, and makes each file there exclusively, never
// through a link; its edits' outputs are new files only (OnlyNewOutputs).
int RunDemo(TintwellEntry entry, const std::string& directory, const CallOptions& options) {
    Message problem;
    // Work inside the directory so the names passed to the library stay short.
    const std::optional<NewFilesDirectory> folder = NewFilesDirectory::Enter(directory, problem);
    if (!folder) {
        ReportError(problem);
        return kExitUsage;
    }
    const auto write = [&](const std::string& name, std::string_view bytes) {
        const std::optional<std::string> why = folder->Write(name, bytes);
        if (why) ReportError(MessageOf(text::kDemoFileNotWritten, directory, name, *why));
        return !why;
    };
    const std::vector<std::uint8_t> sample = SamplePicture();
    if (!write("original.bmp", {reinterpret_cast<const char*>(sample.data()), sample.size()})) return kExitUsage;
    std::string page = PageHead() + Figure("original.bmp", "original");
    bool all_succeeded = true;
    {
        const OnlyNewOutputs only_new_outputs;
        for (const DemoEdit& demo : kDemoEdits) {
            const EditInfo edit = *FindEdit(demo.name);
            const std::string file = FileNameOf(edit);
            std::string caption = std::to_string(edit.function);
            caption.append(": ").append(edit.name);
            if (edit.needs_amount()) caption.append(" ").append(std::to_string(demo.amount));
            all_succeeded = RunEdit(entry, edit, demo.amount, file, options) && all_succeeded;
            page += Figure(file, caption);
        }
    }
    // With the web build present, the page that edits any picture goes beside.
    const std::optional<std::filesystem::path> web_page = WebPageDirectory();
    page += "</main>\n" + DecodedCount(std::size(kDemoEdits) + 1) + (web_page ? WebPageLink() : "") +
            "</body>\n</html>\n";
    if (!write("index.html", page)) return kExitUsage;
    std::string copy_error;
    if (web_page && !CopyWebPage(
                        *web_page,
                        [&](const std::string& name, std::string_view bytes) { return folder->Write(name, bytes); },
                        copy_error)) {
        ReportError(MessageOf(text::kDemoPageNotCopied, web_page->string(), copy_error));
        return kExitUsage;
    }
    ReportError(web_page ? MessageOf(text::kDemoWroteWithPage, directory, kWebPageName)
                         : MessageOf(text::kDemoWrote, directory));
    return all_succeeded ? kExitSuccess : kExitEditFailed;
}

}  // namespace tintwell_cli
