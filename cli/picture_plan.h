// What the host makes of an open picture before it calls the library: the
// library's own layout as it stands, another kind of BMP file that it edits
// through a 24-bit copy, or a refusal with its reason and what helps. The
// command-line host and the web page ask this one question.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bitmap_variant.h"
#include "input_file.h"
#include "outcome.h"

namespace tintwell_cli {

struct PicturePlan {
    std::vector<std::uint8_t> head;  // the file's first bytes, up to its pixels as far as the layout needs
    std::optional<korvane::BitmapVariant> variant;  // another kind, edited through a copy
    std::optional<Message> refusal;  // why it cannot be edited exactly
    std::string_view hint;           // what helps, with a refusal
};

// The file's first bytes: its 54-byte header, and what follows it up to
// its pixels (other headers, masks, a palette), as far as the layout needs.
std::optional<std::vector<std::uint8_t>> ReadPictureHead(InputFile& input, std::string& error);

// The plan for `function` on `input`; `to_24_bit` writes a paletted
// picture as a 24-bit one (what noise needs).
PicturePlan PlanPicture(InputFile& input, std::int32_t function, bool to_24_bit);

}  // namespace tintwell_cli
