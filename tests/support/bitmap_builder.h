// Builds BMP files byte by byte for the tests.
#pragma once

#include <cstdint>
#include <random>

#include "test_support.h"

namespace tintwell_test {

// Header offsets of the fields the tests touch.
inline constexpr std::size_t kOffsetFileSize = 2;
inline constexpr std::size_t kOffsetWidth = 18;
inline constexpr std::size_t kOffsetHeight = 22;
inline constexpr std::size_t kOffsetBitCount = 28;

// A signed 32-bit header field; bytes past the end of the file read as zero.
std::int32_t HeaderField(const Bytes& bytes, std::size_t offset);

void PutLittleEndian(Bytes& bytes, std::size_t offset, std::uint32_t value, std::size_t size = 4);

// A well-formed bottom-up 24-bit picture: 54-byte header, then `height` rows of
// the given unpadded pixel bytes, each row padded with zeros to 4 bytes.
// With 32 bits per pixel each pixel is blue, green, red and an unused byte.
Bytes MakeBmp(std::int32_t width, std::int32_t height, const Bytes& pixels, std::uint16_t bits_per_pixel = 24);

// The same with pixel bytes drawn from `random`.
Bytes MakeRandomBmp(std::int32_t width, std::int32_t height, std::mt19937& random);

// A 1 x 1 picture of one pixel given in blue, green, red order.
Bytes MakeOnePixelBmp(std::uint8_t blue, std::uint8_t green, std::uint8_t red);

}  // namespace tintwell_test
