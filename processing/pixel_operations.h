// Per-pixel arithmetic of the editor and the whole-buffer edits built on it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvane {

// Operation kinds understood by TransformPixel.
enum class OperationKind : std::uint8_t {
    kCopy = 1,
    kAdd = 2,
    kSubtract = 3,
    kGray = 4,
    kInvert = 5,
    kThreshold = 6,
};

// A pixel is 3 bytes: blue, green, red.
inline constexpr std::size_t kBytesPerPixel = 3;

// The channel rules. TransformPixel and the whole-buffer loops both use these,
// so each operation is defined exactly once.
constexpr std::uint8_t AddChannel(std::uint8_t source, std::uint8_t amount) {
    const int sum = source + amount;
    return static_cast<std::uint8_t>(sum > 255 ? 255 : sum);
}

constexpr std::uint8_t SubtractChannel(std::uint8_t source, std::uint8_t amount) {
    const int difference = source - amount;
    return static_cast<std::uint8_t>(difference < 0 ? 0 : difference);
}

constexpr std::uint8_t InvertChannel(std::uint8_t source) {
    return static_cast<std::uint8_t>(255 - source);
}

constexpr std::uint8_t ThresholdChannel(std::uint8_t source, std::uint8_t amount) {
    return source >= amount ? 255 : 0;
}

// The weights add up to 0.9999, so white becomes 254. The products are summed
// red and green first, then blue, each step rounded to double: the build turns
// off floating-point contraction so no fused multiply-add changes the result.
inline std::uint8_t GrayValue(std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
    const double gray = (red * 0.2989 + green * 0.587) + blue * 0.114;
    return static_cast<std::uint8_t>(gray);
}

// Turns one source pixel into one output pixel. An unknown kind writes nothing.
void TransformPixel(const std::uint8_t* source, std::uint8_t* output, std::uint8_t kind,
                    std::uint8_t red_amount, std::uint8_t green_amount, std::uint8_t blue_amount);

// Channel amounts of one pixel of the noise edit.
struct NoiseAmounts {
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;
};

// Draws three rand() values (blue, green, red) reduced modulo the amount.
// The amount must not be 0.
NoiseAmounts DrawNoise(std::int32_t amount);

// Applies one edit to `size` bytes of whole pixels in place. Every channel uses
// the same amount. Unknown kinds leave the bytes unchanged.
void TransformBuffer(std::uint8_t* pixels, std::size_t size, std::uint8_t kind, std::uint8_t amount);

// Applies the noise edit in place, drawing three values per pixel in order.
void AddNoiseToBuffer(std::uint8_t* pixels, std::size_t size, std::int32_t amount);

}  // namespace korvane
