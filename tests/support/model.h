// An independent model of one call: what it must print, return and write,
// worked out directly from the file's bytes, pixel by pixel: the header as
// read, 3 bytes a pixel from byte 54 with each row's padding skipped, bytes
// past the end of the file read as zero. It shares no code with the library
// but its messages.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "test_support.h"

namespace tintwell_test {

struct ModelInput {
    std::optional<Bytes> file;   // nothing: the input does not open
    bool output_opens = true;    // false: every save attempt fails
    std::int32_t amount = 0;
    std::int32_t function = 1;
};

// One message the call prints: its format (messages.h) and its numbers.
struct ModelMessage {
    std::string_view format;
    std::vector<std::int32_t> numbers;
};

struct ModelOutcome {
    std::int32_t result = 0;
    std::string stdout_bytes;
    std::vector<ModelMessage> messages;  // what stdout_bytes holds, message by message
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
