#include "model.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace tintwell_test {
namespace {

// A field of the header: the bytes present, zero past the end of the file.
std::uint32_t Field(const Bytes& file, std::size_t offset, std::size_t size) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (offset + i < file.size()) value |= std::uint32_t{file[offset + i]} << (8 * i);
    }
    return value;
}

std::string Format(const char* format, std::int32_t a, std::int32_t b, std::int32_t c) {
    char text[128];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

// Prints one message, with its numbers when it has any.
void Print(ModelOutcome& outcome, const char* format, std::vector<std::int32_t> numbers = {}) {
    numbers.resize(std::max<std::size_t>(numbers.size(), 3), 0);
    outcome.stdout_bytes += Format(format, numbers[0], numbers[1], numbers[2]);
    numbers.resize(static_cast<std::size_t>(std::count(format, format + std::strlen(format), '%')));
    outcome.messages.push_back({format, std::move(numbers)});
}

std::uint8_t Channel(int kind, std::uint8_t s, std::uint8_t a) {
    switch (kind) {
    case 2: return static_cast<std::uint8_t>(std::min(255, s + a));
    case 3: return static_cast<std::uint8_t>(std::max(0, s - a));
    case 5: return static_cast<std::uint8_t>(~s);
    case 6: return s >= a ? 255 : 0;
    default: return s;
    }
}

std::uint8_t Gray(std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
    volatile double sum = red * 0.2989;  // volatile: each step rounded on its own
    sum = sum + green * 0.587;
    sum = sum + blue * 0.114;
    return static_cast<std::uint8_t>(static_cast<int>(sum));
}

}  // namespace

std::uint8_t ModelChannel(std::int32_t function, std::uint8_t source, std::uint8_t amount) {
    const int kind = function == 8 ? 2 : function == 9 ? 3 : function;
    return Channel(kind, source, amount);
}

std::uint8_t ModelGray(std::uint8_t blue, std::uint8_t green, std::uint8_t red) { return Gray(blue, green, red); }

ModelOutcome ModelCall(const ModelInput& input, const std::function<int()>& draw) {
    ModelOutcome outcome;
    Print(outcome, kLoadPrompt);
    if (!input.file) {
        Print(outcome, kLoadFailure);
        outcome.result = 123;
        return outcome;
    }
    const Bytes& file = *input.file;
    const auto width = static_cast<std::int32_t>(Field(file, 18, 4));
    const auto height = static_cast<std::int32_t>(Field(file, 22, 4));
    const auto bit_count = static_cast<std::int32_t>(Field(file, 28, 2));
    const std::int64_t row_bits = std::int64_t{width} * (bit_count / 8);
    const auto padding = static_cast<std::size_t>((4 - row_bits % 4) % 4);
    // biWidth * biHeight * 3 must lie in 0 ... 2^31 - 1; the pixel count
    // fits 64 bits on every target, the byte count might not.
    const std::int64_t pixel_count = std::int64_t{width} * height;
    if (pixel_count < 0 || pixel_count > 2147483647 / 3) {
        Print(outcome, kAllocationFailure);
        outcome.result = -1;
        return outcome;
    }

    Print(outcome, kReadCompleteFormat, {width, height, static_cast<std::int32_t>(Field(file, 2, 4))});

    if (input.function > 10 || input.function < 1) {
        Print(outcome, kRejection);
        outcome.result = 432;
        return outcome;
    }
    if (input.function == 10) {
        Print(outcome, kExit);
        outcome.result = 0;
        return outcome;
    }
    if (!input.output_opens) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            Print(outcome, kSavePrompt);
            Print(outcome, kSaveFailure);
        }
        outcome.result = 124;
        return outcome;
    }
    // The pixels, read 3 bytes at a time from offset 54, skipping padding.
    // Reading has no visible effect, so the model does it only when writing.
    const std::size_t columns = width > 0 ? static_cast<std::size_t>(width) : 0;
    const std::size_t rows = height > 0 && width > 0 ? static_cast<std::size_t>(height) : 0;
    Bytes pixels(columns * rows * 3, 0);
    std::size_t position = 54;
    for (std::size_t y = 0; y < rows; ++y) {
        for (std::size_t x = 0; x < columns; ++x) {
            for (std::size_t k = 0; k < 3; ++k, ++position) {
                if (position < file.size()) pixels[(y * columns + x) * 3 + k] = file[position];
            }
        }
        position += padding;
    }
    Print(outcome, kSavePrompt);
    Bytes written(54, 0);
    std::copy_n(file.begin(), std::min<std::size_t>(54, file.size()), written.begin());

    int kind = input.function;
    if (input.function == 8) {
        kind = 2;
        Print(outcome, kIncreasePrompt);
        Print(outcome, kEchoFormat, {input.amount, input.amount, input.amount});
    } else if (input.function == 9) {
        kind = 3;
        Print(outcome, kDecreasePrompt);
    }
    const auto amount = static_cast<std::uint8_t>(input.amount);
    for (std::size_t y = 0; y < rows; ++y) {
        for (std::size_t x = 0; x < columns; ++x) {
            const std::uint8_t* source = &pixels[(y * columns + x) * 3];
            std::uint8_t pixel[3];
            if (kind == 7) {
                std::uint8_t noise[3] = {0, 0, 0};
                if (input.amount != 0) {
                    for (auto& n : noise) n = static_cast<std::uint8_t>(draw() % input.amount);
                }
                for (int k = 0; k < 3; ++k) pixel[k] = Channel(2, source[k], noise[k]);
            } else if (kind == 4) {
                pixel[0] = pixel[1] = pixel[2] = Gray(source[0], source[1], source[2]);
            } else {
                for (int k = 0; k < 3; ++k) pixel[k] = Channel(kind, source[k], amount);
            }
            written.insert(written.end(), pixel, pixel + 3);
        }
        written.insert(written.end(), padding, 0);
    }
    outcome.output = std::move(written);
    outcome.result = 999;
    return outcome;
}

}  // namespace tintwell_test
