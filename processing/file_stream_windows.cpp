// Windows: the C runtime's unbuffered file functions in binary mode. Windows
// has no vectored file I/O, so the spans move one at a time, and no read at
// an offset that leaves the position alone, so ReadAt seeks first (the input
// descriptor is this call's own).
#include <climits>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <windows.h>

#include <algorithm>

#include "file_stream.h"

namespace korvane {
namespace {

// _read and _write take an unsigned count and return an int.
constexpr std::size_t kMaxBytesPerCall = INT_MAX;

unsigned CallSize(std::size_t remaining) {
    return static_cast<unsigned>(std::min(remaining, kMaxBytesPerCall));
}

// Moves a descriptor above stdin, stdout and stderr, as the Linux streams
// do: a host may run with stdout closed, and a file on descriptor 1 would
// then receive the messages printed while it is open. The runtime gives the
// lowest free descriptor, so the low ones are held until one lands above.
// The copies are made here rather than with _dup, which would let a child
// process inherit them.
int MoveAboveStandardStreams(int descriptor) {
    int held[3];
    int count = 0;
    while (descriptor >= 0 && descriptor <= 2 && count < 3) {
        held[count++] = descriptor;
        HANDLE copy = nullptr;
        const auto original = reinterpret_cast<HANDLE>(::_get_osfhandle(descriptor));
        if (!::DuplicateHandle(::GetCurrentProcess(), original, ::GetCurrentProcess(), &copy, 0, FALSE,
                               DUPLICATE_SAME_ACCESS)) {
            descriptor = -1;
            break;
        }
        descriptor = ::_open_osfhandle(reinterpret_cast<intptr_t>(copy), _O_NOINHERIT);
        if (descriptor < 0) ::CloseHandle(copy);
    }
    for (int i = 0; i < count; ++i) ::_close(held[i]);
    return descriptor;
}

// A descriptor for `name` opened in binary mode, or -1. An empty name never
// opens. Names are in the ANSI code page.
int OpenBinary(const char* name, int flags) {
    if (name == nullptr || name[0] == '\0') return -1;
    return MoveAboveStandardStreams(::_open(name, flags | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE));
}

bool IsRegular(int descriptor, struct _stat64& status) {
    return ::_fstat64(descriptor, &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFREG;
}

}  // namespace

std::optional<InputStream> InputStream::Open(const char* name) {
    const int descriptor = OpenBinary(name, _O_RDONLY);
    if (descriptor < 0) return std::nullopt;
    return InputStream(descriptor);
}

bool InputStream::IsRegularWithData() const {
    struct _stat64 status {};
    return IsRegular(descriptor_, status) && status.st_size > 0;
}

std::optional<std::size_t> InputStream::Read(std::span<IoSpan> spans) {
    std::size_t total = 0;
    for (IoSpan& span : spans) {
        auto* bytes = static_cast<char*>(span.iov_base);
        while (span.iov_len > 0) {
            const int count = ::_read(descriptor_, bytes, CallSize(span.iov_len));
            if (count < 0) return std::nullopt;
            if (count == 0) return total;
            bytes += count;
            span.iov_base = bytes;
            span.iov_len -= static_cast<std::size_t>(count);
            total += static_cast<std::size_t>(count);
        }
    }
    return total;
}

std::optional<std::size_t> InputStream::ReadAt(std::uint64_t offset, std::span<IoSpan> spans) {
    if (::_lseeki64(descriptor_, static_cast<__int64>(offset), SEEK_SET) < 0) return std::nullopt;
    return Read(spans);
}

std::optional<OutputStream> OutputStream::Open(const char* name) {
    const int descriptor = OpenBinary(name, _O_WRONLY | _O_CREAT);
    if (descriptor < 0) return std::nullopt;
    return OutputStream(descriptor);
}

bool OutputStream::Write(std::span<IoSpan> spans) {
    for (IoSpan& span : spans) {
        const auto* bytes = static_cast<const char*>(span.iov_base);
        while (span.iov_len > 0) {
            const int count = ::_write(descriptor_, bytes, CallSize(span.iov_len));
            if (count <= 0) return false;  // an error, or no progress: never spin
            bytes += count;
            span.iov_base = const_cast<char*>(bytes);
            span.iov_len -= static_cast<std::size_t>(count);
        }
    }
    return true;
}

bool OutputStream::SetLength(std::uint64_t length) {
    struct _stat64 status {};
    if (!IsRegular(descriptor_, status)) return true;
    return ::_chsize_s(descriptor_, static_cast<__int64>(length)) == 0;
}

bool CloseDescriptor(int descriptor) { return ::_close(descriptor) == 0; }

}  // namespace korvane
