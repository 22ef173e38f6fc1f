// The check behind the BMP-kinds fuzzer: the host's reading of untrusted
// headers, masks, palettes and RLE streams, run on arbitrary bytes. Beside
// the sanitizers' watch it holds the model to what the host relies on: a
// described picture lies inside its file, narrowing a widened row gives
// it back bit for bit, and the RLE walk judges a stream alike whether it
// decodes it or not, fed whole or in pieces.
#include <algorithm>
#include <span>
#include <vector>

#include "bitmap_variant.h"
#include "fuzz_checks.h"
#include "picture_check.h"

namespace tintwell_fuzz {
namespace {

using korvane::BitmapVariant;

std::string CheckDirectRows(const BitmapVariant& v, std::span<const std::uint8_t> file) {
    std::vector<std::uint8_t> bgr(std::size_t{v.width} * 3);
    // A few rows are enough: each is walked the same way.
    for (std::uint64_t row = 0; row < std::min<std::uint64_t>(v.rows, 4); ++row) {
        const auto bytes = file.subspan(static_cast<std::size_t>(v.pixel_offset + row * v.row_stride),
                                        static_cast<std::size_t>(v.row_stride));
        korvane::WidenRow(v, bytes, bgr);
        std::vector<std::uint8_t> again(bytes.begin(), bytes.end());
        korvane::NarrowRow(v, bgr, again);
        if (!std::equal(again.begin(), again.end(), bytes.begin())) return "a widened row does not narrow back";
    }
    return "";
}

std::string CheckRle(const BitmapVariant& v, std::span<const std::uint8_t> file) {
    const auto stream = file.subspan(static_cast<std::size_t>(v.pixel_offset));
    korvane::RleWalk walked(v);
    walked.Feed(stream);
    // The host decodes only what it may write as a 24-bit picture: a row
    // buffer as wide as the picture is held then.
    if (!v.FitsAs24Bit()) return "";
    korvane::RleWalk decoded(v);
    std::uint64_t rows = 0;
    const korvane::RleWalk::RowSink sink = [&rows](std::span<const std::uint8_t>) { ++rows; };
    // In pieces of 7 bytes: state carries over between them.
    for (std::size_t at = 0; at < stream.size(); at += 7) {
        decoded.Feed(stream.subspan(at, std::min<std::size_t>(7, stream.size() - at)), sink);
    }
    if (walked.Ended() != decoded.Ended() || walked.Damaged() != decoded.Damaged()) {
        return "walking and decoding judge the RLE stream differently";
    }
    if (decoded.Ended() && rows != v.rows) return "a whole RLE stream decoded to another number of rows";
    if (rows > v.rows) return "an RLE stream decoded to more rows than the picture has";
    return "";
}

}  // namespace

std::string CheckBmpVariant(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    const std::span<const std::uint8_t> first = file.first(std::min(size, korvane::kHeaderSize));
    const std::span<const std::uint8_t> head = file.first(std::min(size, korvane::HeadBytesNeeded(first)));
    const tintwell_cli::PictureVerdict verdict = tintwell_cli::CheckPicture(head, size);
    if (verdict.refusal.has_value() == verdict.variant.has_value() && verdict.variant) {
        return "a picture both described and refused";
    }
    if (!verdict.variant) return "";
    const BitmapVariant& v = *verdict.variant;
    if (v.pixel_offset > size) return "pixels said to start past the end of the file";
    if (v.Paletted() && v.palette_offset + std::uint64_t{v.palette_entries} * v.palette_entry_size > v.pixel_offset) {
        return "a palette that runs into the pixels";
    }
    if (v.Rle()) return CheckRle(v, file);
    if (v.RowsEnd() > size) return "rows said to end past the end of the file";
    return v.Paletted() ? "" : CheckDirectRows(v, file);
}

}  // namespace tintwell_fuzz
