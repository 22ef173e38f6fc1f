#include "web_page.h"

#include <fstream>
#include <iterator>
#include <system_error>

namespace tintwell_cli {

std::optional<std::filesystem::path> WebPageDirectory() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return std::nullopt;
    const std::filesystem::path page = (program.parent_path() / TINTWELL_WEB_DIR_FROM_BINDIR).lexically_normal();
    if (!std::filesystem::is_regular_file(page / "index.html", error)) return std::nullopt;
    return page;
}

bool CopyWebPage(const std::filesystem::path& page, const NewFileWriter& write, std::string& error) {
    std::error_code failure;
    for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(page, failure)) {
        if (!entry.is_regular_file(failure)) continue;
        const std::filesystem::path name = entry.path().filename();
        std::ifstream file(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        if (!file && !file.eof()) {
            error = entry.path().string() + ": cannot be read";
            return false;
        }
        const std::string to = name == "index.html" ? std::string(kWebPageName) : name.string();
        if (std::optional<std::string> why = write(to, bytes)) {
            error = to + ": " + *why;
            return false;
        }
    }
    if (failure) error = failure.message();
    return !failure;
}

std::string WebPageLink() {
    return std::string("<p>Edit a picture of your own, in this browser: <a href=\"") + kWebPageName + "\">" +
           kWebPageName + "</a>.</p>\n";
}

}  // namespace tintwell_cli
