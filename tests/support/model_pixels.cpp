// The model of one call over pixels alone, for tests in other languages:
//   tintwell_model_pixels FUNCTION AMOUNT WIDTH HEIGHT < RGB > RGB
// reads WIDTH x HEIGHT pixels from stdin, rows from the top, each pixel red,
// green, blue; builds the picture with the tests' builder, runs the model on
// it, and writes the output's pixels to stdout in the same order. Exits 0
// when the model writes an output, 1 when it does not, 2 on bad arguments.
// Noise draws from this process's own unseeded rand().
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <string>

#include "bitmap_builder.h"
#include "model.h"

namespace {

using tintwell_test::Bytes;

constexpr std::size_t kHeaderBytes = 54;
constexpr std::size_t kChannels = 3;

std::size_t PaddedRow(std::size_t width) { return (width * kChannels + 3) / 4 * 4; }

// Rows from the top in red, green, blue <-> the file's bottom-up rows in
// blue, green, red, unpadded.
Bytes FileOrder(const Bytes& rgb, std::size_t width, std::size_t height) {
    Bytes bgr(rgb.size());
    for (std::size_t row = 0; row < height; ++row) {
        for (std::size_t x = 0; x < width; ++x) {
            const std::size_t from = (row * width + x) * kChannels;
            const std::size_t to = ((height - 1 - row) * width + x) * kChannels;
            for (std::size_t c = 0; c < kChannels; ++c) bgr[to + c] = rgb[from + kChannels - 1 - c];
        }
    }
    return bgr;
}

Bytes PixelsOf(const Bytes& file, std::size_t width, std::size_t height) {
    Bytes bgr(width * height * kChannels);
    for (std::size_t row = 0; row < height; ++row) {
        const auto start = file.begin() + static_cast<std::ptrdiff_t>(kHeaderBytes + row * PaddedRow(width));
        std::copy(start, start + static_cast<std::ptrdiff_t>(width * kChannels),
                  bgr.begin() + static_cast<std::ptrdiff_t>(row * width * kChannels));
    }
    // The reordering is its own inverse once the rows are swapped back.
    return FileOrder(bgr, width, height);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::cerr << "usage: tintwell_model_pixels FUNCTION AMOUNT WIDTH HEIGHT < RGB > RGB\n";
        return 2;
    }
    const auto function = static_cast<std::int32_t>(std::strtol(argv[1], nullptr, 10));
    const auto amount = static_cast<std::int32_t>(std::strtol(argv[2], nullptr, 10));
    const auto width = static_cast<std::size_t>(std::strtoul(argv[3], nullptr, 10));
    const auto height = static_cast<std::size_t>(std::strtoul(argv[4], nullptr, 10));
    std::cin >> std::noskipws;
    const Bytes rgb((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    if (width == 0 || height == 0 || rgb.size() != width * height * kChannels) {
        std::cerr << "tintwell_model_pixels: expected " << width * height * kChannels << " bytes, got " << rgb.size()
                  << "\n";
        return 2;
    }
    tintwell_test::ModelInput input;
    input.file = tintwell_test::MakeBmp(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height),
                                        FileOrder(rgb, width, height));
    input.function = function;
    input.amount = amount;
    const tintwell_test::ModelOutcome outcome = tintwell_test::ModelCall(input, [] { return std::rand(); });
    if (!outcome.output) return 1;
    const Bytes pixels = PixelsOf(*outcome.output, width, height);
    std::fwrite(pixels.data(), 1, pixels.size(), stdout);
    return 0;
}
