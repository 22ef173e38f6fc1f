// Per-pixel arithmetic of the editor and the whole-buffer edits built on it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "bitmap_layout.h"  // kBytesPerPixel

namespace korvane {

// The edits a picture's pixels can undergo. The run sequence maps function
// numbers to these; their values mean nothing.
enum class OperationKind {
    kCopy,
    kAdd,
    kSubtract,
    kGray,
    kInvert,
    kThreshold,
    kNoise,
};

// The channel rules, each defined once. They are written with min rather
// than a clamp of a wider sum so that the buffer loops compile to a few vector
// instructions per 16 bytes (the results are the same for every input).
constexpr std::uint8_t AddChannel(std::uint8_t source, std::uint8_t amount) {
    // The amount is cut to the room left above the source, so nothing passes 255.
    const auto room = static_cast<std::uint8_t>(255 - source);
    return static_cast<std::uint8_t>(source + std::min(amount, room));
}

constexpr std::uint8_t SubtractChannel(std::uint8_t source, std::uint8_t amount) {
    return static_cast<std::uint8_t>(source - std::min(source, amount));
}

constexpr std::uint8_t InvertChannel(std::uint8_t source) {
    return static_cast<std::uint8_t>(255 - source);
}

constexpr std::uint8_t ThresholdChannel(std::uint8_t source, std::uint8_t amount) {
    return source >= amount ? 255 : 0;
}

// The gray weights 0.2989, 0.587 and 0.114 in ten-thousandths. The fast gray
// path works on whole numbers with these; the double weights below are the
// same constants.
inline constexpr int kGrayScale = 10000;
inline constexpr int kRedGrayWeight = 2989;
inline constexpr int kGreenGrayWeight = 5870;
inline constexpr int kBlueGrayWeight = 1140;

// Each quotient is rounded once, to the double nearest the decimal weight.
inline constexpr double kRedGrayFactor = static_cast<double>(kRedGrayWeight) / kGrayScale;
inline constexpr double kGreenGrayFactor = static_cast<double>(kGreenGrayWeight) / kGrayScale;
inline constexpr double kBlueGrayFactor = static_cast<double>(kBlueGrayWeight) / kGrayScale;
static_assert(kRedGrayFactor == 0.2989 && kGreenGrayFactor == 0.587 && kBlueGrayFactor == 0.114);

// The weights add up to 0.9999, so white becomes 254. The products are summed
// red and green first, then blue, each step rounded to double: the build turns
// off floating-point contraction so no fused multiply-add changes the result.
inline std::uint8_t GrayValue(std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
    const double gray = (red * kRedGrayFactor + green * kGreenGrayFactor) + blue * kBlueGrayFactor;
    return static_cast<std::uint8_t>(gray);
}

// Channel amounts of one pixel of the noise edit.
struct NoiseAmounts {
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;
};

// Draws three rand() values (blue, green, red) reduced modulo the amount.
// The amount must not be 0.
NoiseAmounts DrawNoise(std::int32_t amount);

// Applies one edit to `size` bytes of whole pixels in place. The byte edits
// use the amount's low byte on every channel; noise draws below the whole
// amount, which must not be 0.
void TransformBuffer(std::uint8_t* pixels, std::size_t size, OperationKind kind, std::int32_t amount);

// Applies the noise edit in place, drawing three values per pixel in order.
void AddNoiseToBuffer(std::uint8_t* pixels, std::size_t size, std::int32_t amount);

}  // namespace korvane
