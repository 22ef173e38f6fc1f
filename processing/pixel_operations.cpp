#include "pixel_operations.h"

#include <cstdlib>

namespace korvane {

void TransformPixel(const std::uint8_t* source, std::uint8_t* output, std::uint8_t kind,
                    std::uint8_t red_amount, std::uint8_t green_amount, std::uint8_t blue_amount) {
    switch (static_cast<OperationKind>(kind)) {
    case OperationKind::kCopy:
        output[0] = source[0];
        output[1] = source[1];
        output[2] = source[2];
        break;
    case OperationKind::kAdd:
        output[0] = AddChannel(source[0], blue_amount);
        output[1] = AddChannel(source[1], green_amount);
        output[2] = AddChannel(source[2], red_amount);
        break;
    case OperationKind::kSubtract:
        output[0] = SubtractChannel(source[0], blue_amount);
        output[1] = SubtractChannel(source[1], green_amount);
        output[2] = SubtractChannel(source[2], red_amount);
        break;
    case OperationKind::kGray:
        output[0] = output[1] = output[2] = GrayValue(source[0], source[1], source[2]);
        break;
    case OperationKind::kInvert:
        output[0] = InvertChannel(source[0]);
        output[1] = InvertChannel(source[1]);
        output[2] = InvertChannel(source[2]);
        break;
    case OperationKind::kThreshold:
        output[0] = ThresholdChannel(source[0], blue_amount);
        output[1] = ThresholdChannel(source[1], green_amount);
        output[2] = ThresholdChannel(source[2], red_amount);
        break;
    }
}

NoiseAmounts DrawNoise(std::int32_t amount) {
    // rand() is never negative, so each remainder lies in 0 .. |amount| - 1.
    const auto blue = static_cast<std::uint8_t>(std::rand() % amount);
    const auto green = static_cast<std::uint8_t>(std::rand() % amount);
    const auto red = static_cast<std::uint8_t>(std::rand() % amount);
    return {red, green, blue};
}

namespace {

// The byte-wise edits are the same rule on every byte, so these loops
// vectorise without caring where one pixel ends and the next begins.
template <typename Rule>
void ForEachByte(std::uint8_t* bytes, std::size_t size, Rule rule) {
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = rule(bytes[i]);
    }
}

void GrayBuffer(std::uint8_t* pixels, std::size_t size) {
    for (std::size_t i = 0; i + kBytesPerPixel <= size; i += kBytesPerPixel) {
        const std::uint8_t gray = GrayValue(pixels[i], pixels[i + 1], pixels[i + 2]);
        pixels[i] = pixels[i + 1] = pixels[i + 2] = gray;
    }
}

}  // namespace

void TransformBuffer(std::uint8_t* pixels, std::size_t size, std::uint8_t kind, std::uint8_t amount) {
    switch (static_cast<OperationKind>(kind)) {
    case OperationKind::kCopy:
        break;
    case OperationKind::kAdd:
        ForEachByte(pixels, size, [amount](std::uint8_t s) { return AddChannel(s, amount); });
        break;
    case OperationKind::kSubtract:
        ForEachByte(pixels, size, [amount](std::uint8_t s) { return SubtractChannel(s, amount); });
        break;
    case OperationKind::kGray:
        GrayBuffer(pixels, size);
        break;
    case OperationKind::kInvert:
        ForEachByte(pixels, size, [](std::uint8_t s) { return InvertChannel(s); });
        break;
    case OperationKind::kThreshold:
        ForEachByte(pixels, size, [amount](std::uint8_t s) { return ThresholdChannel(s, amount); });
        break;
    }
}

void AddNoiseToBuffer(std::uint8_t* pixels, std::size_t size, std::int32_t amount) {
    for (std::size_t i = 0; i + kBytesPerPixel <= size; i += kBytesPerPixel) {
        const NoiseAmounts noise = DrawNoise(amount);
        pixels[i] = AddChannel(pixels[i], noise.blue);
        pixels[i + 1] = AddChannel(pixels[i + 1], noise.green);
        pixels[i + 2] = AddChannel(pixels[i + 2], noise.red);
    }
}

}  // namespace korvane
