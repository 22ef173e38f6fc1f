// The web page (make web) that `tintwell demo` puts beside its pictures,
// found in the share directory beside the program, where `make web` leaves it
// for the build tree and an install puts it.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tintwell_cli {

// The name the page's index.html takes in the demo's directory, beside the
// demo's own index.html.
inline constexpr char kWebPageName[] = "editor.html";

// The folder of the built page, when there is one.
std::optional<std::filesystem::path> WebPageDirectory();

// Writes a new file NAME holding BYTES, or says why it cannot.
using NewFileWriter = std::function<std::optional<std::string>(const std::string& name, std::string_view bytes)>;

// Copies the page's files from `page` through `write`, its index.html as
// kWebPageName. Says why in `error` when a file does not copy.
bool CopyWebPage(const std::filesystem::path& page, const NewFileWriter& write, std::string& error);

// A line for the demo's index.html that leads to the page.
std::string WebPageLink();

}  // namespace tintwell_cli
