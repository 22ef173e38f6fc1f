#include "bitmap_builder.h"

namespace tintwell_test {

std::int32_t HeaderField(const Bytes& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4 && offset + i < bytes.size(); ++i) value |= std::uint32_t{bytes[offset + i]} << (8 * i);
    return static_cast<std::int32_t>(value);
}

void PutLittleEndian(Bytes& bytes, std::size_t offset, std::uint32_t value, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

Bytes MakeBmp(std::int32_t width, std::int32_t height, const Bytes& pixels, std::uint16_t bits_per_pixel) {
    const std::size_t row_bytes = static_cast<std::size_t>(width) * (bits_per_pixel / 8);
    const std::size_t stride = (row_bytes + 3) / 4 * 4;
    Bytes file(54 + stride * static_cast<std::size_t>(height), 0);
    file[0] = 'B';
    file[1] = 'M';
    PutLittleEndian(file, kOffsetFileSize, static_cast<std::uint32_t>(54 + stride * height));
    PutLittleEndian(file, 10, 54);
    PutLittleEndian(file, 14, 40);
    PutLittleEndian(file, kOffsetWidth, static_cast<std::uint32_t>(width));
    PutLittleEndian(file, kOffsetHeight, static_cast<std::uint32_t>(height));
    PutLittleEndian(file, 26, 1, 2);
    PutLittleEndian(file, kOffsetBitCount, bits_per_pixel, 2);
    PutLittleEndian(file, 34, static_cast<std::uint32_t>(stride * height));
    PutLittleEndian(file, 38, 2835);
    PutLittleEndian(file, 42, 2835);
    for (std::size_t row = 0; row < static_cast<std::size_t>(height); ++row) {
        for (std::size_t i = 0; i < row_bytes; ++i) file[54 + row * stride + i] = pixels[row * row_bytes + i];
    }
    return file;
}

Bytes MakeRandomBmp(std::int32_t width, std::int32_t height, std::mt19937& random) {
    Bytes pixels(static_cast<std::size_t>(width) * height * 3);
    std::uniform_int_distribution<int> byte(0, 255);
    for (auto& value : pixels) value = static_cast<std::uint8_t>(byte(random));
    return MakeBmp(width, height, pixels);
}

Bytes MakeOnePixelBmp(std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
    return MakeBmp(1, 1, Bytes{blue, green, red});
}

}  // namespace tintwell_test
