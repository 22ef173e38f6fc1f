// Linux: the input is held by a descriptor, and the library reads it as
// /proc/self/fd/N. A stream is copied into an O_TMPFILE file that has no
// name at all; an inotify watch notes writes to a regular input.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include "descriptor_linux.h"
#include "input_file.h"

namespace tintwell_cli {
namespace {

FileKind KindOf(mode_t mode) {
    if (S_ISREG(mode)) return FileKind::kRegular;
    if (S_ISDIR(mode)) return FileKind::kDirectory;
    if (S_ISFIFO(mode)) return FileKind::kPipe;
    if (S_ISCHR(mode)) return FileKind::kCharacterDevice;
    if (S_ISBLK(mode)) return FileKind::kBlockDevice;
    if (S_ISSOCK(mode)) return FileKind::kSocket;
    return FileKind::kOther;
}

bool SameState(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// One inotify instance for the whole process, never closed before it ends:
// closing an instance that still has a watch waits until the kernel retires
// it (a few ms, tens on a busy machine), while a watch removed as soon as its
// answer is known retires in the background. A forked child makes its own,
// so that no two processes read each other's events.
int WatchInstance() {
    static pid_t owner = -1;
    static int instance = -1;
    if (owner != ::getpid()) {
        owner = ::getpid();
        instance = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    }
    return instance;
}

// Whether the instance holds an event of `watch` (or lost events it cannot
// tell apart); events of watches removed earlier are passed over.
bool WatchSawWrites(int watch) {
    alignas(inotify_event) char events[4096];
    bool seen = false;
    for (;;) {
        const ssize_t count = ::read(WatchInstance(), events, sizeof events);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return seen;
        for (ssize_t at = 0; at < count;) {
            inotify_event event{};
            std::memcpy(&event, events + at, sizeof event);
            seen = seen || event.wd == watch || (event.mask & IN_Q_OVERFLOW) != 0;
            at += static_cast<ssize_t>(sizeof event + event.len);
        }
    }
}

// Reads until `bytes` is full or the stream ends.
std::optional<std::size_t> ReadFully(int fd, std::uint8_t* bytes, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = ::read(fd, bytes + done, count - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::nullopt;
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

// A FIFO opened without blocking reads as empty until a writer comes: wait
// for its first bytes, or for a writer that came and went without any.
bool AwaitWriter(int fd) {
    pollfd wanted{fd, POLLIN, 0};
    for (;;) {
        const int ready = ::poll(&wanted, 1, -1);
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
    }
}

// A file no one else can open: O_TMPFILE, else a named file unlinked at once.
Descriptor PrivateFile(const std::string& folder) {
    Descriptor file(::open(folder.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0600));
    if (file.valid() || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return file;
    std::string name = folder + "/.tintwell-stream-XXXXXX";
    file = Descriptor(::mkostemp(name.data(), O_CLOEXEC));
    if (file.valid()) ::unlink(name.c_str());
    return file;
}

}  // namespace

struct InputFile::State {
    Descriptor file;
    struct stat status {};
    std::vector<std::uint8_t> read_so_far;  // a stream's bytes that ReadFirstBytes took
    int watch = -1;                          // this file's inotify watch, from Watch on
    struct stat watched {};

    // Removed at once, so that it retires while the process goes on.
    void StopWatching() {
        if (watch >= 0) ::inotify_rm_watch(WatchInstance(), std::exchange(watch, -1));
    }
};

InputFile::InputFile(std::unique_ptr<State> state) : state_(std::move(state)) {}
InputFile::InputFile(InputFile&&) noexcept = default;
InputFile& InputFile::operator=(InputFile&&) noexcept = default;
InputFile::~InputFile() {
    if (state_) state_->StopWatching();
}

std::optional<InputFile> InputFile::Open(const std::string& name, OpenFailure& failure) {
    auto state = std::make_unique<State>();
    // Not blocking, so that the open itself never waits (a FIFO without a
    // writer, a serial line without carrier); a FIFO waits below, once known.
    state->file = Descriptor(::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!state->file.valid()) {
        failure = {errno == EACCES, ErrnoWords(errno)};
        return std::nullopt;
    }
    if (::fstat(state->file.get(), &state->status) != 0) {
        failure = {false, ErrnoWords(errno)};
        return std::nullopt;
    }
    const int fd = state->file.get();
    if (S_ISFIFO(state->status.st_mode) && !AwaitWriter(fd)) {
        failure = {false, ErrnoWords(errno)};
        return std::nullopt;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return InputFile(std::move(state));
}

std::optional<InputFile> InputFile::OpenDescriptor(int fd, OpenFailure& failure) {
    auto state = std::make_unique<State>();
    // A copy above the standard streams, so that its number stays its own.
    state->file = Descriptor(::fcntl(fd, F_DUPFD_CLOEXEC, 3));
    if (!state->file.valid() || ::fstat(state->file.get(), &state->status) != 0) {
        failure = {false, ErrnoWords(errno)};
        return std::nullopt;
    }
    return InputFile(std::move(state));
}

FileKind InputFile::kind() const { return KindOf(state_->status.st_mode); }

bool InputFile::IsTerminal() const { return ::isatty(state_->file.get()) == 1; }

bool InputFile::NeedsCopy() const { return kind() != FileKind::kRegular; }

std::uint64_t InputFile::size() const {
    return S_ISREG(state_->status.st_mode) ? static_cast<std::uint64_t>(state_->status.st_size) : 0;
}

FileIdentity InputFile::Identity() const {
    return FileIdentity{state_->status.st_dev, state_->status.st_ino};
}

std::optional<std::vector<std::uint8_t>> InputFile::ReadFirstBytes(std::size_t count, std::string& error) {
    if (!NeedsCopy()) return ReadAt(0, count, error);
    std::vector<std::uint8_t>& bytes = state_->read_so_far;
    const std::size_t had = bytes.size();
    bytes.resize(std::max(had, count));
    const std::optional<std::size_t> got = ReadFully(state_->file.get(), bytes.data() + had, bytes.size() - had);
    if (!got) {
        error = ErrnoWords(errno);
        return std::nullopt;
    }
    bytes.resize(had + *got);
    return std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(count, bytes.size())));
}

std::optional<std::vector<std::uint8_t>> InputFile::ReadAt(std::uint64_t offset, std::size_t count,
                                                           std::string& error) const {
    std::vector<std::uint8_t> bytes(count);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::pread(state_->file.get(), bytes.data() + done, bytes.size() - done,
                                    static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = ErrnoWords(errno);
            return std::nullopt;
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    bytes.resize(done);
    return bytes;
}

std::optional<InputFile> InputFile::Scratch(std::string& folder, std::string& error) {
    const char* tmpdir = std::getenv("TMPDIR");
    folder = tmpdir != nullptr && tmpdir[0] != '\0' ? tmpdir : "/tmp";
    auto state = std::make_unique<State>();
    state->file = PrivateFile(folder);
    if (!state->file.valid() || ::fstat(state->file.get(), &state->status) != 0) {
        error = ErrnoWords(errno);
        return std::nullopt;
    }
    return InputFile(std::move(state));
}

bool InputFile::Append(std::span<const std::uint8_t> bytes, std::string& error) {
    if (WriteAll(state_->file.get(), bytes.data(), bytes.size())) return true;
    error = ErrnoWords(errno);
    return false;
}

std::optional<InputFile> InputFile::Capture(std::uint64_t most_bytes, bool& longer, std::string& folder,
                                            std::string& error) {
    std::optional<InputFile> copy = Scratch(folder, error);
    if (!copy) return std::nullopt;
    State* state = copy->state_.get();
    constexpr std::size_t kChunk = std::size_t{1} << 20;
    std::vector<std::uint8_t> chunk = std::move(state_->read_so_far);
    std::uint64_t total = 0;
    longer = false;
    for (;;) {
        const std::size_t keep = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), most_bytes - total));
        longer = keep < chunk.size();
        if (!copy->Append(std::span(chunk.data(), keep), error)) return std::nullopt;
        total += keep;
        if (longer) break;
        // One byte past the most kept tells whether more follows.
        chunk.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, most_bytes - total + 1)));
        const std::optional<std::size_t> got = ReadFully(state_->file.get(), chunk.data(), chunk.size());
        if (!got) {
            error = ErrnoWords(errno);
            return std::nullopt;
        }
        if (*got == 0) break;
        chunk.resize(*got);
    }
    if (::fstat(state->file.get(), &state->status) != 0) {
        error = ErrnoWords(errno);
        return std::nullopt;
    }
    return copy;
}

void InputFile::Watch() {
    if (WatchInstance() >= 0) {
        state_->watch = ::inotify_add_watch(WatchInstance(), DescriptorName(state_->file.get()).c_str(),
                                            IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE);
    }
    ::fstat(state_->file.get(), &state_->watched);
}

bool InputFile::ChangedSinceWatch() {
    const bool written = state_->watch >= 0 && WatchSawWrites(state_->watch);
    state_->StopWatching();
    struct stat now {};
    return written || ::fstat(state_->file.get(), &now) != 0 || !SameState(now, state_->watched);
}

std::string InputFile::LibraryName(const std::string&) const { return DescriptorName(state_->file.get()); }

void InputFile::Close() { state_->file.Close(); }

}  // namespace tintwell_cli
