// One edit of one picture, as the command line asks for it, and the options
// it runs with.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tintwell_cli {

struct CallOptions {
    bool check = true;   // false with --force: the picture check is skipped, nothing else
    bool sync = false;   // --sync: the edited copy and its directory reach the disk before we return
    bool quiet = false;  // -q: the library's messages on stdout are dropped
    bool to_24_bit = false;  // --to-24-bit: a paletted picture is written as a 24-bit one
    bool library_text = false;  // --library-text: the library's messages as it prints them, in any language
    // --report=json: stdout carries one JSON object per picture, and the
    // library's messages go to stderr instead.
    bool json_report = false;
};

// Names are valid UTF-8 (checked when the command line is read).
struct PictureEdit {
    std::int32_t function = 0;
    std::int32_t amount = 0;
    std::string input;
    std::optional<std::string> output;  // nothing for an edit that writes nothing
};

}  // namespace tintwell_cli
