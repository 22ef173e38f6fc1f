// Windows: the C runtime's unbuffered file functions in binary mode. Windows
// has no vectored file I/O, so the spans move one at a time.
#include <climits>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>

#include "file_stream.h"

namespace korvane {
namespace {

// _read and _write take an unsigned count and return an int.
constexpr std::size_t kMaxBytesPerCall = INT_MAX;

unsigned CallSize(std::size_t remaining) {
    return static_cast<unsigned>(std::min(remaining, kMaxBytesPerCall));
}

// A descriptor for `name` opened in binary mode, or -1. An empty name never
// opens. Names are in the ANSI code page.
int OpenBinary(const char* name, int flags) {
    if (name == nullptr || name[0] == '\0') return -1;
    return ::_open(name, flags | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}

}  // namespace

std::optional<InputStream> InputStream::Open(const char* name) {
    const int descriptor = OpenBinary(name, _O_RDONLY);
    if (descriptor < 0) return std::nullopt;
    return InputStream(descriptor);
}

ReadOutcome InputStream::Read(std::span<IoSpan> spans) {
    for (IoSpan& span : spans) {
        auto* bytes = static_cast<char*>(span.iov_base);
        while (span.iov_len > 0) {
            const int count = ::_read(descriptor_, bytes, CallSize(span.iov_len));
            if (count < 0) return ReadOutcome::kFailed;
            if (count == 0) return ReadOutcome::kEnded;
            bytes += count;
            span.iov_base = bytes;
            span.iov_len -= static_cast<std::size_t>(count);
        }
    }
    return ReadOutcome::kFilled;
}

std::optional<OutputStream> OutputStream::Create(const char* name) {
    const int descriptor = OpenBinary(name, _O_WRONLY | _O_CREAT | _O_TRUNC);
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

bool CloseDescriptor(int descriptor) { return ::_close(descriptor) == 0; }

}  // namespace korvane
