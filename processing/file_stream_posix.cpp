#include "file_stream.h"

#include <algorithm>
#include <cerrno>
#include <climits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvane {
namespace {

// A single readv or writev takes at most IOV_MAX spans.
constexpr std::size_t kMaxSpansPerCall = IOV_MAX;

// Drops `count` transferred bytes from the front of the spans.
std::span<IoSpan> Consume(std::span<IoSpan> spans, std::size_t count) {
    while (!spans.empty() && count >= spans.front().iov_len) {
        count -= spans.front().iov_len;
        spans = spans.subspan(1);
    }
    if (count > 0) {
        spans.front().iov_base = static_cast<char*>(spans.front().iov_base) + count;
        spans.front().iov_len -= count;
    }
    return spans;
}

std::span<IoSpan> SkipEmpty(std::span<IoSpan> spans) {
    while (!spans.empty() && spans.front().iov_len == 0) spans = spans.subspan(1);
    return spans;
}

int CallSize(std::span<IoSpan> spans) {
    return static_cast<int>(std::min(spans.size(), kMaxSpansPerCall));
}

// Fills the spans with calls of `read_some(spans, bytes so far)` until they
// are full, the file ends (a call reads 0) or a call fails.
template <typename ReadSome>
std::optional<std::size_t> ReadAll(std::span<IoSpan> spans, ReadSome read_some) {
    std::size_t total = 0;
    for (spans = SkipEmpty(spans); !spans.empty(); spans = SkipEmpty(spans)) {
        const ssize_t count = read_some(spans, total);
        if (count < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (count == 0) break;
        total += static_cast<std::size_t>(count);
        spans = Consume(spans, static_cast<std::size_t>(count));
    }
    return total;
}

// Opens a file on a descriptor above stdin, stdout and stderr. A host may run
// with stdout closed; a file on descriptor 1 would then receive the messages
// printed while it is open. Returns -1 when the file does not open.
int OpenAboveStandardStreams(const char* name, int flags) {
    int descriptor;
    do {
        descriptor = ::open(name, flags | O_CLOEXEC, 0666);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0 || descriptor > STDERR_FILENO) return descriptor;
    const int moved = ::fcntl(descriptor, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    ::close(descriptor);
    return moved;
}

bool IsRegular(int descriptor, struct stat& status) {
    return ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace

std::optional<InputStream> InputStream::Open(const char* name) {
    if (name == nullptr || name[0] == '\0') return std::nullopt;
    const int descriptor = OpenAboveStandardStreams(name, O_RDONLY);
    if (descriptor < 0) return std::nullopt;
    return InputStream(descriptor);
}

bool InputStream::IsRegularWithData() const {
    struct stat status {};
    return IsRegular(descriptor_, status) && status.st_size > 0;
}

std::optional<std::size_t> InputStream::Read(std::span<IoSpan> spans) {
    return ReadAll(spans, [this](std::span<IoSpan> rest, std::size_t) {
        return ::readv(descriptor_, rest.data(), CallSize(rest));
    });
}

std::optional<std::size_t> InputStream::ReadAt(std::uint64_t offset, std::span<IoSpan> spans) {
    return ReadAll(spans, [this, offset](std::span<IoSpan> rest, std::size_t done) {
#if defined(__EMSCRIPTEN__)
        // The WebAssembly runtime's preadv reads every span from the same
        // offset: one span per call there.
        return ::pread(descriptor_, rest.front().iov_base, rest.front().iov_len, static_cast<off_t>(offset + done));
#else
        return ::preadv(descriptor_, rest.data(), CallSize(rest), static_cast<off_t>(offset + done));
#endif
    });
}

std::optional<OutputStream> OutputStream::Open(const char* name) {
    if (name == nullptr || name[0] == '\0') return std::nullopt;
    const int descriptor = OpenAboveStandardStreams(name, O_WRONLY | O_CREAT);
    if (descriptor < 0) return std::nullopt;
    return OutputStream(descriptor);
}

bool OutputStream::Write(std::span<IoSpan> spans) {
    for (spans = SkipEmpty(spans); !spans.empty(); spans = SkipEmpty(spans)) {
        const ssize_t count = ::writev(descriptor_, spans.data(), CallSize(spans));
        if (count < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (count == 0) return false;  // no progress: never spin
        spans = Consume(spans, static_cast<std::size_t>(count));
    }
    return true;
}

bool OutputStream::SetLength(std::uint64_t length) {
    struct stat status {};
    if (!IsRegular(descriptor_, status)) return true;
    int result;
    do {
        result = ::ftruncate(descriptor_, static_cast<off_t>(length));
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

bool CloseDescriptor(int descriptor) {
    // close() is not retried on EINTR: the descriptor is released either way.
    return ::close(descriptor) == 0;
}

}  // namespace korvane
