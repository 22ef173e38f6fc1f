#include "picture_check.h"

#include <algorithm>

#include "bitmap_layout.h"
#include "format.h"
#include "host_messages.h"

namespace tintwell_cli {
namespace {

using korvane::BitmapHeader;

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
    case 1: return Format(text::kMethodRle8);
    case 2: return Format(text::kMethodRle4);
    case 3: return Format(text::kMethodBitFields);
    case 4: return Format(text::kMethodJpeg);
    case 5: return Format(text::kMethodPng);
    case 6: return Format(text::kMethodAlphaBitFields);
    default: return Format(text::kMethodNumber, method);
    }
}

std::string InfoHeaderRefusal(std::uint32_t info_size) {
    return Format(text::kInfoHeaderSize, Grouped(info_size), korvane::kInfoHeaderSize);
}

// The layout fields, checked in the order that names the deepest reason
// first: what kind of picture it is, then where its pixels are.
std::optional<std::string> LayoutRefusal(const BitmapHeader& header) {
    // A shorter (OS/2) header keeps its fields elsewhere: none of the rest means anything.
    if (header.biSize < korvane::kInfoHeaderSize) return InfoHeaderRefusal(header.biSize);
    // Embedded JPEG and PNG pictures carry no bit count of their own.
    const bool embedded = header.biCompression == 4 || header.biCompression == 5;
    if (header.biBitCount != korvane::kBitsPerPixel && !embedded) {
        return header.biBitCount == 1 ? Format(text::kOneBitPerPixel)
                                      : Format(text::kBitsPerPixel, header.biBitCount);
    }
    if (header.biCompression != korvane::kUncompressed) {
        return Format(text::kCompressed, CompressionName(header.biCompression));
    }
    if (header.biSize != korvane::kInfoHeaderSize) return InfoHeaderRefusal(header.biSize);
    if (header.bfOffBits != korvane::kHeaderSize) {
        return Format(text::kPixelsElsewhere, Grouped(header.bfOffBits), korvane::kHeaderSize);
    }
    return std::nullopt;
}

std::optional<std::string> SizeRefusal(const BitmapHeader& header, std::uint64_t file_size) {
    if (header.biWidth < 0) return Format(text::kNegativeWidth, Grouped(header.biWidth));
    if (header.biWidth == 0) return Format(text::kZeroWidth);
    if (header.biHeight < 0) return Format(text::kTopDown);
    if (header.biHeight == 0) return Format(text::kZeroHeight);
    if (!korvane::PixelByteCount(header)) {
        return Format(text::kTooManyPixels, Grouped(header.biWidth), Grouped(header.biHeight),
                      Grouped(static_cast<std::int64_t>(korvane::kMostPixelBytes)));
    }
    const std::uint64_t needed = korvane::RowLayout::Of(header).FileLength();
    if (file_size < needed) {
        return Format(text::kFileCut, Grouped(static_cast<std::int64_t>(file_size)),
                      Grouped(static_cast<std::int64_t>(needed)));
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> PictureRefusal(std::span<const std::uint8_t> first_bytes, std::uint64_t file_size) {
    const std::span<const std::uint8_t> bytes = first_bytes.first(std::min(first_bytes.size(), kPictureHeaderSize));
    if (file_size == 0) return Format(text::kEmptyFile);
    const BitmapHeader header = korvane::ParseHeader(bytes);
    if (bytes.size() < 2 || header.bfType != korvane::kBitmapSignature) return Format(text::kNotBmp);
    if (bytes.size() < kPictureHeaderSize) return Format(text::kHeaderCut, bytes.size(), kPictureHeaderSize);
    if (std::optional<std::string> refusal = LayoutRefusal(header)) return refusal;
    return SizeRefusal(header, file_size);
}

}  // namespace tintwell_cli
