// The web page (make web) that `tintwell demo` puts beside its pictures,
// found in the share directory beside the program, where `make web` leaves it
// for the build tree and an install puts it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tintwell_cli {

// The name the page's index.html takes in the demo's directory, beside the
// demo's own index.html.
inline constexpr char kWebPageName[] = "editor.html";

// The folder of the built page, when there is one.
std::optional<std::filesystem::path> WebPageDirectory();

// Copies the page's files from `page` into `directory`, its index.html as
// kWebPageName. Says why in `error` when a file does not copy.
bool CopyWebPage(const std::filesystem::path& page, const std::filesystem::path& directory, std::string& error);

// A line for the demo's index.html that leads to the page.
std::string WebPageLink();

}  // namespace tintwell_cli
