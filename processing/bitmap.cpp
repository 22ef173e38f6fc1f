#include "bitmap.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <utility>

#if !defined(_WIN32)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace korvane {
namespace {

using HeaderBytes = std::array<std::uint8_t, kHeaderSize>;

// Walks the header bytes field by field, little-endian, in file order.
class HeaderCursor {
public:
    explicit HeaderCursor(HeaderBytes& bytes) : bytes_(bytes) {}

    template <typename Field>
    void Load(Field& field) {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < sizeof(Field); ++i) {
            value |= static_cast<std::uint32_t>(bytes_[offset_ + i]) << (8 * i);
        }
        field = static_cast<Field>(value);
        offset_ += sizeof(Field);
    }

    template <typename Field>
    void Store(Field field) {
        const auto value = static_cast<std::uint32_t>(field);
        for (std::size_t i = 0; i < sizeof(Field); ++i) {
            bytes_[offset_ + i] = static_cast<std::uint8_t>(value >> (8 * i));
        }
        offset_ += sizeof(Field);
    }

private:
    HeaderBytes& bytes_;
    std::size_t offset_ = 0;
};

// Visits the 15 fields in file order with Load or Store.
template <typename Header, typename Visit>
void ForEachField(Header& h, Visit visit) {
    visit(h.bfType);
    visit(h.bfSize);
    visit(h.bfReserved);
    visit(h.bfOffBits);
    visit(h.biSize);
    visit(h.biWidth);
    visit(h.biHeight);
    visit(h.biPlanes);
    visit(h.biBitCount);
    visit(h.biCompression);
    visit(h.biSizeImage);
    visit(h.biXPelsPerMeter);
    visit(h.biYPelsPerMeter);
    visit(h.biClrUsed);
    visit(h.biClrImportant);
}

constexpr std::uint8_t kZeroPadding[4] = {};

// Rows per vectored call when every row needs a padding span.
constexpr std::size_t kRowsPerBatch = IOV_MAX / 2;

// Blocks from this size on are mappings of their own, filled in at once.
constexpr std::size_t kMappedBlockSize = std::size_t{128} << 10;

#if defined(MADV_POPULATE_WRITE)
// Puts the pages that lie wholly inside the range in place with one call,
// rather than one fault per page as the read fills them: measured a fifth
// faster for a 36 MB picture. It is only advice: where the kernel does not
// know it, the faults serve.
void PutPagesInPlace(std::uint8_t* start, std::size_t size) {
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto first = (reinterpret_cast<std::uintptr_t>(start) + page - 1) & ~(page - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(start) + size) & ~(page - 1);
    if (end > first) ::madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
}
#else
void PutPagesInPlace(std::uint8_t*, std::size_t) {}
#endif

IoSpan SpanOf(const std::uint8_t* data, std::size_t size) {
    return {const_cast<std::uint8_t*>(data), size};
}

// Builds the spans for rows [first, first + count) with their padding taken
// from (or put into) `padding_bytes`, then hands them to `transfer`, batch
// by batch, while it returns true.
template <typename Transfer>
bool TransferRows(const RowLayout& layout, std::size_t first, std::size_t count,
                  const std::uint8_t* padding_bytes, Transfer transfer) {
    if (count == 0) return true;
    if (layout.padding == 0) {
        // Unpadded rows are contiguous in the file and in the buffer.
        IoSpan whole = SpanOf(layout.pixels + first * layout.row_bytes, count * layout.row_bytes);
        return transfer(std::span<IoSpan>(&whole, 1));
    }
    std::array<IoSpan, 2 * kRowsPerBatch> spans;
    for (std::size_t row = first, end = first + count; row < end;) {
        std::size_t used = 0;
        for (; row < end && used < spans.size(); ++row) {
            spans[used++] = SpanOf(layout.pixels + row * layout.row_bytes, layout.row_bytes);
            spans[used++] = SpanOf(padding_bytes, layout.padding);
        }
        if (!transfer(std::span<IoSpan>(spans.data(), used))) return false;
    }
    return true;
}

}  // namespace

bool ReadHeader(InputStream& input, BitmapHeader& header) {
    HeaderBytes bytes{};
    IoSpan span = SpanOf(bytes.data(), bytes.size());
    if (input.Read(std::span<IoSpan>(&span, 1)) == ReadOutcome::kFailed) return false;
    HeaderCursor cursor(bytes);
    ForEachField(header, [&cursor](auto& field) { cursor.Load(field); });
    return true;
}

bool WriteHeader(OutputStream& output, const BitmapHeader& header) {
    HeaderBytes bytes{};
    HeaderCursor cursor(bytes);
    ForEachField(header, [&cursor](auto field) { cursor.Store(field); });
    IoSpan span = SpanOf(bytes.data(), bytes.size());
    return output.Write(std::span<IoSpan>(&span, 1));
}

std::uint32_t RowPadding(const BitmapHeader& header) {
    // The row's byte count may wrap in 32 bits; only its value modulo 4
    // matters, and that survives the wrap.
    const std::uint32_t row_bytes =
        static_cast<std::uint32_t>(header.biWidth) * static_cast<std::uint32_t>(header.biBitCount / 8);
    return (0u - row_bytes) & 3u;
}

std::optional<std::size_t> PixelByteCount(const BitmapHeader& header) {
    // |biWidth * biHeight| <= 2^62 fits in 64 bits; the factor 3 comes after
    // the range check so that it cannot overflow.
    const std::int64_t pixels = std::int64_t{header.biWidth} * header.biHeight;
    if (pixels < 0 || pixels > INT32_MAX / 3) return std::nullopt;
    return static_cast<std::size_t>(pixels) * 3;
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
    // Fresh mappings read as zero. Huge pages are not asked for: where free
    // memory is handed back to a virtual machine's host, as on the machines
    // measured, the first touch of a 2 MiB page the system has not used lately
    // costs a host fault for every 4 KiB inside it: a call after a few idle
    // seconds took three to four times as long as with small pages. Only with
    // memory freed moments before were huge pages faster, by 15 to 25 percent.
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

RowLayout RowLayout::Of(const BitmapHeader& header, PixelBuffer& buffer) {
    RowLayout layout;
    layout.pixels = buffer.data();
    layout.padding = RowPadding(header);
    // Rows exist only when biHeight > 0 and have pixels only when biWidth > 0;
    // a row without pixels has no padding either.
    if (header.biHeight > 0 && header.biWidth > 0) {
        layout.row_bytes = static_cast<std::size_t>(header.biWidth) * 3;
        layout.rows = static_cast<std::size_t>(header.biHeight);
    }
    return layout;
}

std::size_t RowLayout::RowsPerSlice() const {
    return row_bytes == 0 ? 1 : std::max<std::size_t>(1, kSliceBytes / row_bytes);
}

bool ReadRows(InputStream& input, const RowLayout& layout) {
    std::array<std::uint8_t, 4> discarded{};
    const std::size_t rows_per_slice = layout.RowsPerSlice();
    // Reading stops where the file ends: a short file claiming many rows
    // costs nothing more, and the rows it does not hold stay zero.
    for (std::size_t row = 0; row < layout.rows; row += rows_per_slice) {
        const std::size_t count = std::min(rows_per_slice, layout.rows - row);
        const std::size_t slice_bytes = count * layout.row_bytes;
        // A single row longer than a slice is left to the faults, so that no
        // more than a slice is ever put in place beyond the end of the file.
        if (slice_bytes <= kSliceBytes) PutPagesInPlace(layout.pixels + row * layout.row_bytes, slice_bytes);
        ReadOutcome outcome = ReadOutcome::kFilled;
        TransferRows(layout, row, count, discarded.data(), [&](std::span<IoSpan> spans) {
            outcome = input.Read(spans);
            return outcome == ReadOutcome::kFilled;
        });
        if (outcome != ReadOutcome::kFilled) return outcome != ReadOutcome::kFailed;
    }
    return true;
}

bool WriteRows(OutputStream& output, const RowLayout& layout, std::size_t first, std::size_t count) {
    return TransferRows(layout, first, count, kZeroPadding,
                        [&output](std::span<IoSpan> spans) { return output.Write(spans); });
}

}  // namespace korvane
