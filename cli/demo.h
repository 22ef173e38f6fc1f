// `tintwell demo`: a built-in sample picture run through all nine edits,
// with a page that shows the results side by side.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "korvane/tintwell.h"
#include "picture_edit.h"

namespace tintwell_cli {

// A bottom-up 24-bit BMP file of the built-in sample picture (401 x 300, so
// every row carries padding).
std::vector<std::uint8_t> SamplePicture();

// Writes the sample, the nine edits of it and index.html into `directory`,
// each edit through the one library call of the host. Returns the host's
// exit status.
int RunDemo(TintwellEntry entry, const std::string& directory, const CallOptions& options);

}  // namespace tintwell_cli
