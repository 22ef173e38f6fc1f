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

std::string Hex(std::int64_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    auto bits = static_cast<std::uint32_t>(value);
    do {
        hex.insert(hex.begin(), kDigits[bits & 0xF]);
        bits >>= 4;
    } while (bits != 0);
    return hex;
}

std::string_view ChannelName(std::int64_t channel) {
    return channel == 0 ? text::kRed : channel == 1 ? text::kGreen : text::kBlue;
}

// The file header and the smallest information header, OS/2 1.x's.
constexpr std::size_t kOs2HeaderEnd = korvane::kFileHeaderSize + korvane::kOs2InfoHeaderSize;

std::string VariantRefusalText(const korvane::VariantRefusal& refusal) {
    using korvane::VariantProblem;
    const std::int64_t value = refusal.value;
    switch (refusal.problem) {
    case VariantProblem::kNotBmp: return std::string(text::kNotBmp);
    case VariantProblem::kHeaderCut: return Format(text::kHeaderCutAt, value);
    case VariantProblem::kInfoHeaderSize: return Format(text::kUnknownInfoHeader, Grouped(value));
    case VariantProblem::kBitsPerPixel:
        return value == 1 ? std::string(text::kOneBitPerPixel) : Format(text::kBitsPerPixel, value);
    case VariantProblem::kEmbeddedJpeg: return std::string(text::kEmbeddedJpeg);
    case VariantProblem::kEmbeddedPng: return std::string(text::kEmbeddedPng);
    case VariantProblem::kHuffman: return std::string(text::kHuffman);
    case VariantProblem::kRle24: return std::string(text::kRle24);
    case VariantProblem::kCompression:
        return Format(text::kCompressed, CompressionName(static_cast<std::uint32_t>(value)));
    case VariantProblem::kRedMask: return Format(text::kMaskUnusable, text::kRed, Hex(value));
    case VariantProblem::kGreenMask: return Format(text::kMaskUnusable, text::kGreen, Hex(value));
    case VariantProblem::kBlueMask: return Format(text::kMaskUnusable, text::kBlue, Hex(value));
    case VariantProblem::kEmptyMask: return Format(text::kEmptyMask, ChannelName(value));
    case VariantProblem::kMasksOverlap: return std::string(text::kMasksOverlap);
    case VariantProblem::kPaletteTooLong: return Format(text::kPaletteTooLong, Grouped(value));
    case VariantProblem::kPixelsInsideHeader: return Format(text::kPixelsInsideHeader, Grouped(value));
    case VariantProblem::kNegativeWidth: return Format(text::kNegativeWidth, Grouped(value));
    case VariantProblem::kZeroWidth: return std::string(text::kZeroWidth);
    case VariantProblem::kZeroHeight: return std::string(text::kZeroHeight);
    case VariantProblem::kTopDownRle: return std::string(text::kTopDownRle);
    case VariantProblem::kTooManyPixels:
        return Format(text::kTooManyStaged, Grouped(static_cast<std::int64_t>(korvane::kMostPixelBytes)));
    case VariantProblem::kFileCut: break;
    }
    return std::string();
}

}  // namespace

PictureVerdict CheckPicture(std::span<const std::uint8_t> head, std::uint64_t file_size) {
    const std::optional<std::string> strict = PictureRefusal(head, file_size);
    if (!strict) return {};
    // An empty file, or one cut before its header says how long it is, is
    // named as the strict check names it; an OS/2 picture may well be
    // shorter than 54 bytes.
    if (file_size == 0 || head.size() < kOs2HeaderEnd) return {std::nullopt, strict};
    const korvane::VariantCheck check = korvane::DescribeVariant(head, file_size);
    if (check.variant) return {check.variant, std::nullopt};
    if (check.refusal->problem == korvane::VariantProblem::kFileCut) {
        return {std::nullopt, Format(text::kFileCut, Grouped(static_cast<std::int64_t>(file_size)),
                                     Grouped(check.refusal->value))};
    }
    return {std::nullopt, VariantRefusalText(*check.refusal)};
}

std::string DamagedRleRefusal(bool ended_early) {
    return std::string(ended_early ? text::kRleUnended : text::kRleDamaged);
}

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
