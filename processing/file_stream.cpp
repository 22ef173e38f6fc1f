#include "file_stream.h"

#include <algorithm>
#include <cerrno>
#include <climits>

#include <fcntl.h>
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

}  // namespace

std::optional<InputStream> InputStream::Open(const char* name) {
    if (name == nullptr || name[0] == '\0') return std::nullopt;
    const int descriptor = OpenAboveStandardStreams(name, O_RDONLY);
    if (descriptor < 0) return std::nullopt;
    return InputStream(descriptor);
}

ReadOutcome InputStream::Read(std::span<IoSpan> spans) {
    for (spans = SkipEmpty(spans); !spans.empty(); spans = SkipEmpty(spans)) {
        const ssize_t count = ::readv(descriptor_, spans.data(), CallSize(spans));
        if (count < 0) {
            if (errno == EINTR) continue;
            return ReadOutcome::kFailed;
        }
        if (count == 0) return ReadOutcome::kEnded;
        spans = Consume(spans, static_cast<std::size_t>(count));
    }
    return ReadOutcome::kFilled;
}

std::optional<OutputStream> OutputStream::Create(const char* name) {
    if (name == nullptr || name[0] == '\0') return std::nullopt;
    const int descriptor = OpenAboveStandardStreams(name, O_WRONLY | O_CREAT | O_TRUNC);
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

bool CloseDescriptor(int descriptor) {
    // close() is not retried on EINTR: the descriptor is released either way.
    return ::close(descriptor) == 0;
}

}  // namespace korvane
