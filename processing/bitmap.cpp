#include "bitmap.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <utility>

#if !defined(_WIN32)
#include <sys/mman.h>
#endif

namespace korvane {
namespace {

constexpr std::uint8_t kZeroPadding[4] = {};

// Spans per vectored call when rows need padding spans between them.
constexpr std::size_t kSpansPerBatch = IOV_MAX;

// Blocks from this size on are mappings of their own.
constexpr std::size_t kMappedBlockSize = std::size_t{128} << 10;

constexpr std::uint64_t kNoLimit = UINT64_MAX;

IoSpan SpanOf(const std::uint8_t* data, std::size_t size) {
    return {const_cast<std::uint8_t*>(data), size};
}

// Builds the spans of a slice's first `limit` file bytes: its pixels at
// `pixels` and, after each row it ends, that row's padding at
// `padding_bytes`. Hands them to `transfer` batch by batch while it returns
// true.
template <typename Transfer>
bool TransferSlice(const RowLayout& layout, const Slice& slice, const std::uint8_t* pixels,
                   const std::uint8_t* padding_bytes, std::uint64_t limit, Transfer transfer) {
    if (layout.padding == 0) {
        // Unpadded rows are contiguous in the file and in memory.
        IoSpan whole = SpanOf(pixels, static_cast<std::size_t>(std::min<std::uint64_t>(slice.size, limit)));
        return transfer(std::span<IoSpan>(&whole, 1));
    }
    std::array<IoSpan, kSpansPerBatch> spans;
    std::size_t used = 0;
    const auto add = [&](const std::uint8_t* data, std::size_t size) {
        const auto taken = static_cast<std::size_t>(std::min<std::uint64_t>(size, limit));
        limit -= taken;
        spans[used++] = SpanOf(data, taken);
        if (used < spans.size()) return true;
        used = 0;
        return transfer(std::span<IoSpan>(spans.data(), spans.size()));
    };
    for (std::size_t at = slice.first; at < slice.end() && limit > 0;) {
        const std::size_t row_end = (at / layout.row_bytes + 1) * layout.row_bytes;
        const std::size_t piece_end = std::min(slice.end(), row_end);
        if (!add(pixels + (at - slice.first), piece_end - at)) return false;
        if (piece_end == row_end && limit > 0 && !add(padding_bytes, layout.padding)) return false;
        at = piece_end;
    }
    return used == 0 || transfer(std::span<IoSpan>(spans.data(), used));
}

// Reads a slice's first `limit` file bytes, its padding dropped, with
// read(spans, bytes of the slice read so far), which returns the bytes it
// read or nothing on an error. Returns the file bytes read (fewer only where
// the file ended), or nothing on an error.
template <typename Read>
std::optional<std::uint64_t> ReadSliceWith(const RowLayout& layout, const Slice& slice, std::uint8_t* pixels,
                                           std::uint64_t limit, Read read) {
    std::array<std::uint8_t, 4> discarded{};
    std::uint64_t total = 0;
    bool ended = false;
    const bool read_all = TransferSlice(layout, slice, pixels, discarded.data(), limit, [&](std::span<IoSpan> spans) {
        std::uint64_t wanted = 0;
        for (const IoSpan& span : spans) wanted += span.iov_len;
        const std::optional<std::size_t> count = read(spans, total);
        if (!count) return false;
        total += *count;
        ended = *count < wanted;
        return !ended;
    });
    if (!read_all && !ended) return std::nullopt;
    return total;
}

}  // namespace

bool ReadHeader(InputStream& input, BitmapHeader& header) {
    std::array<std::uint8_t, kHeaderSize> bytes{};
    IoSpan span = SpanOf(bytes.data(), bytes.size());
    if (!input.Read(std::span<IoSpan>(&span, 1))) return false;
    header = ParseHeader(bytes);
    return true;
}

bool WriteHeader(OutputStream& output, const BitmapHeader& header) {
    std::array<std::uint8_t, kHeaderSize> bytes{};
    StoreHeader(header, bytes);
    IoSpan span = SpanOf(bytes.data(), bytes.size());
    return output.Write(std::span<IoSpan>(&span, 1));
}

std::optional<PixelBuffer> PixelBuffer::Allocate(std::size_t size) {
#if defined(_WIN32)
    {  // Windows maps nothing here: every block comes from the heap.
#else
    if (size < kMappedBlockSize) {
#endif
        // calloc(0) may return null; one byte keeps an empty picture allocatable.
        void* block = std::calloc(size == 0 ? 1 : size, 1);
        if (block == nullptr) return std::nullopt;
        return PixelBuffer(static_cast<std::uint8_t*>(block), size, 0);
    }
#if !defined(_WIN32)
    // Fresh mappings read as zero.
    void* block = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return std::nullopt;
    return PixelBuffer(static_cast<std::uint8_t*>(block), size, size);
#endif
}

PixelBuffer::PixelBuffer(PixelBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapped_size_(std::exchange(other.mapped_size_, 0)) {}

PixelBuffer::~PixelBuffer() {
    if (data_ == nullptr) return;
    if (mapped_size_ > 0) {
#if !defined(_WIN32)
        ::munmap(data_, mapped_size_);
#endif
    } else {
        std::free(data_);
    }
}

std::optional<std::uint64_t> ReadSlice(InputStream& input, const RowLayout& layout, const Slice& slice,
                                       std::uint8_t* pixels) {
    return ReadSliceWith(layout, slice, pixels, kNoLimit,
                         [&input](std::span<IoSpan> spans, std::uint64_t) { return input.Read(spans); });
}

bool ReadSliceAgain(InputStream& input, const RowLayout& layout, const Slice& slice, std::uint8_t* pixels,
                    std::uint64_t count) {
    const std::uint64_t start = layout.FileOffset(slice.first);
    const std::optional<std::uint64_t> read =
        ReadSliceWith(layout, slice, pixels, count, [&input, start](std::span<IoSpan> spans, std::uint64_t done) {
            return input.ReadAt(start + done, spans);
        });
    return read == count;
}

bool WriteSlice(OutputStream& output, const RowLayout& layout, const Slice& slice, const std::uint8_t* pixels) {
    return TransferSlice(layout, slice, pixels, kZeroPadding, kNoLimit,
                         [&output](std::span<IoSpan> spans) { return output.Write(spans); });
}

}  // namespace korvane
