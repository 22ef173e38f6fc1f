// Windows: the C runtime's unbuffered file functions in binary mode. Windows
// has no vectored file I/O, so the spans move one at a time.
#include <climits>
#include <cstdint>
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
