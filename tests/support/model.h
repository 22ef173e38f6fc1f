// An independent model of one call: what it must print, return and write,
// worked out directly from the file's bytes, pixel by pixel, the way the
// original per-item stream reads and writes behave. It shares no code with
// the library.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "test_support.h"

namespace tintwell_test {

struct ModelInput {
    std::optional<Bytes> file;   // nothing: the input does not open
    bool output_opens = true;    // false: every save attempt fails
    std::int32_t amount = 0;
    std::int32_t function = 1;
};

struct ModelOutcome {
    std::int32_t result = 0;
    std::string stdout_bytes;
    std::optional<Bytes> output;  // the written file, when one is written
};

// The model's rule for one channel under the byte edits: copy, brighten,
// darken, invert, threshold and the tints (functions 1, 2, 3, 5, 6, 8, 9).
std::uint8_t ModelChannel(std::int32_t function, std::uint8_t source, std::uint8_t amount);

// The model's gray value of one pixel.
std::uint8_t ModelGray(std::uint8_t blue, std::uint8_t green, std::uint8_t red);

// `draw` stands for rand(); it is called only by the noise edit.
ModelOutcome ModelCall(const ModelInput& input, const std::function<int()>& draw = {});

}  // namespace tintwell_test
