#include "picture_check.h"

#include <algorithm>

namespace tintwell_cli {
namespace {

constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint16_t kBitsPerPixel = 24;
constexpr std::uint32_t kUncompressed = 0;
// The library holds the pixels in one buffer whose size is a signed 32-bit count.
constexpr std::uint64_t kMostPixelBytes = 2147483647;

std::uint32_t Unsigned(std::span<const std::uint8_t> bytes, std::size_t offset, std::size_t size) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i) value |= static_cast<std::uint32_t>(bytes[offset + i]) << (8 * i);
    return value;
}

std::int32_t Signed(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::int32_t>(Unsigned(bytes, offset, 4));
}

// 12054 -> "12,054": sizes people can read at a glance.
std::string Grouped(std::int64_t number) {
    const std::string digits = std::to_string(number);
    const std::size_t first = number < 0 ? 1 : 0;  // the sign takes no comma
    std::string grouped;
    for (std::size_t at = 0; at < digits.size(); ++at) {
        if (at > first && (digits.size() - at) % 3 == 0) grouped += ',';
        grouped += digits[at];
    }
    return grouped;
}

std::string CompressionName(std::uint32_t method) {
    switch (method) {
    case 1: return "RLE8";
    case 2: return "RLE4";
    case 3: return "bit fields";
    case 4: return "JPEG, or RLE24 in an OS/2 file";
    case 5: return "PNG";
    case 6: return "alpha bit fields";
    default: return "method " + std::to_string(method);
    }
}

std::string InfoHeaderRefusal(std::uint32_t info_size) {
    return "a " + Grouped(info_size) + "-byte information header, not " + std::to_string(kInfoHeaderSize);
}

// The layout fields, checked in the order that names the deepest reason
// first: what kind of picture it is, then where its pixels are.
std::optional<std::string> LayoutRefusal(std::span<const std::uint8_t> header) {
    const std::uint32_t info_size = Unsigned(header, 14, 4);
    // A shorter (OS/2) header keeps its fields elsewhere: none of the rest means anything.
    if (info_size < kInfoHeaderSize) return InfoHeaderRefusal(info_size);
    const std::uint16_t bits = static_cast<std::uint16_t>(Unsigned(header, 28, 2));
    const std::uint32_t compression = Unsigned(header, 30, 4);
    // Embedded JPEG and PNG pictures carry no bit count of their own.
    const bool embedded = compression == 4 || compression == 5;
    if (bits != kBitsPerPixel && !embedded) {
        return std::to_string(bits) + (bits == 1 ? " bit per pixel" : " bits per pixel");
    }
    if (compression != kUncompressed) return "compressed pixels (" + CompressionName(compression) + ")";
    if (info_size != kInfoHeaderSize) return InfoHeaderRefusal(info_size);
    const std::uint32_t pixels_at = Unsigned(header, 10, 4);
    if (pixels_at != kPictureHeaderSize) {
        return "pixels start at byte " + Grouped(pixels_at) + ", not " + std::to_string(kPictureHeaderSize);
    }
    return std::nullopt;
}

std::optional<std::string> SizeRefusal(std::span<const std::uint8_t> header, std::uint64_t file_size) {
    const std::int32_t width = Signed(header, 18);
    const std::int32_t height = Signed(header, 22);
    if (width < 0) return "negative width (" + Grouped(width) + ")";
    if (width == 0) return "no pixels across (width 0)";
    if (height < 0) return "top-down rows (negative height)";
    if (height == 0) return "no rows (height 0)";
    const auto columns = static_cast<std::uint64_t>(width);
    const auto rows = static_cast<std::uint64_t>(height);
    if (columns * rows * 3 > kMostPixelBytes) {
        return Grouped(width) + " x " + Grouped(height) + " pixels, more than the library's limit of " +
               Grouped(static_cast<std::int64_t>(kMostPixelBytes)) + " pixel bytes";
    }
    const std::uint64_t row_bytes = (columns * 3 + 3) / 4 * 4;
    const std::uint64_t needed = kPictureHeaderSize + rows * row_bytes;
    if (file_size < needed) {
        return "the file ends after " + Grouped(static_cast<std::int64_t>(file_size)) + " of " +
               Grouped(static_cast<std::int64_t>(needed)) + " bytes";
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> PictureRefusal(std::span<const std::uint8_t> first_bytes, std::uint64_t file_size) {
    const std::span<const std::uint8_t> header = first_bytes.first(std::min(first_bytes.size(), kPictureHeaderSize));
    if (file_size == 0) return "an empty file";
    if (header.size() < 2 || header[0] != 'B' || header[1] != 'M') return "not a BMP file";
    if (header.size() < kPictureHeaderSize) {
        return "the file ends after " + std::to_string(header.size()) + " of " +
               std::to_string(kPictureHeaderSize) + " header bytes";
    }
    if (std::optional<std::string> refusal = LayoutRefusal(header)) return refusal;
    return SizeRefusal(header, file_size);
}

}  // namespace tintwell_cli
