// Linux: the temporary is ".NAME.tintwell-XXXXXX" beside the output, made
// and renamed through one descriptor of the output's directory, and handed
// to the library as /proc/self/fd/N. It takes the replaced file's owner,
// group, mode and extended attributes before the rename, and a fatal signal
// removes it.
#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "descriptor_linux.h"
#include "host_messages.h"
#include "safe_output.h"

namespace tintwell_cli {

const std::string_view kReplacementKeeps = text::kReplacementKeepsLinux;

namespace {

// ---- Removing the temporary when a signal ends the host -----------------

// The temporary to remove if a signal ends the process before the rename.
// Plain data, so that the handler may read it.
struct PendingTemporary {
    int directory = -1;
    char name[NAME_MAX + 1] = {};
};
PendingTemporary g_pending;
volatile std::sig_atomic_t g_pending_armed = 0;

constexpr std::array kFatalSignals = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGSEGV,
                                      SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGXCPU, SIGXFSZ};

extern "C" void RemoveTemporaryAndDie(int signal) {
    if (g_pending_armed) ::unlinkat(g_pending.directory, g_pending.name, 0);
    // The handler was reset on entry and the signal is not blocked: this ends us.
    ::raise(signal);
}

// Removes the temporary on a fatal signal while it exists; a signal the
// caller ignores stays ignored.
class TemporaryGuard {
public:
    TemporaryGuard(int directory, const std::string& name) {
        g_pending.directory = directory;
        std::snprintf(g_pending.name, sizeof g_pending.name, "%s", name.c_str());
        g_pending_armed = 1;
        struct sigaction action {};
        action.sa_handler = RemoveTemporaryAndDie;
        action.sa_flags = SA_RESETHAND | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < kFatalSignals.size(); ++i) {
            ::sigaction(kFatalSignals[i], nullptr, &saved_[i]);
            if (saved_[i].sa_handler != SIG_IGN) ::sigaction(kFatalSignals[i], &action, nullptr);
        }
    }
    TemporaryGuard(const TemporaryGuard&) = delete;
    TemporaryGuard& operator=(const TemporaryGuard&) = delete;
    ~TemporaryGuard() {
        for (std::size_t i = 0; i < kFatalSignals.size(); ++i) ::sigaction(kFatalSignals[i], &saved_[i], nullptr);
        g_pending_armed = 0;
    }

private:
    std::array<struct sigaction, kFatalSignals.size()> saved_{};
};

// ---- Who may replace the output ----------------------------------------

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Whether the output is the host's own stdout or stderr (as /dev/stdout is),
// which is written where it stands, never replaced.
bool IsStandardStream(const struct stat& output) {
    for (const int stream : {STDOUT_FILENO, STDERR_FILENO}) {
        struct stat status {};
        if (::fstat(stream, &status) == 0 && SameFile(status, output)) return true;
    }
    return false;
}

bool IsOneOfMyGroups(gid_t group) {
    if (group == ::getegid()) return true;
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(count, 0)));
    const int got = ::getgroups(count, groups.data());
    return got >= 0 && std::find(groups.begin(), groups.begin() + got, group) != groups.begin() + got;
}

// Why the edited copy could not keep the replaced file's owner and group, if so.
std::optional<Message> OwnershipProblem(const struct stat& replaced) {
    if (::geteuid() == 0) return std::nullopt;
    if (replaced.st_uid != ::geteuid()) return MessageOf(text::kOwnedByOther, replaced.st_uid);
    if (!IsOneOfMyGroups(replaced.st_gid)) return MessageOf(text::kGroupNotMine, replaced.st_gid);
    return std::nullopt;
}

// ".NAME.tintwell-XXXXXX": hidden, recognisable, never ending in .bmp, and
// short enough for any file system however long NAME is.
std::string TemporaryName(const std::string& name) {
    constexpr std::size_t kLongestKept = 200;
    std::size_t kept = std::min(name.size(), kLongestKept);
    while (kept > 0 && kept < name.size() && (static_cast<unsigned char>(name[kept]) & 0xC0) == 0x80) --kept;
    std::string temporary = ".";
    temporary.append(name, 0, kept).append(".tintwell-").append(RandomSuffix());
    return temporary;
}

// Copies every extended attribute (ACLs and security labels included) of
// the replaced file to the temporary; says which one could not be copied.
std::optional<Message> CopyExtendedAttributes(const std::string& from, int to) {
    std::vector<char> names;
    for (;;) {
        const ssize_t size = ::listxattr(from.c_str(), nullptr, 0);
        if (size < 0) {
            if (errno == ENOTSUP) return std::nullopt;
            return MessageOf(text::kAttributesNotKept, ErrnoWords(errno));
        }
        names.resize(static_cast<std::size_t>(size));
        const ssize_t got = ::listxattr(from.c_str(), names.data(), names.size());
        if (got >= 0) {
            names.resize(static_cast<std::size_t>(got));
            break;
        }
        if (errno != ERANGE) return MessageOf(text::kAttributesNotKept, ErrnoWords(errno));
    }
    for (std::size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1) {
        const char* name = names.data() + at;
        const ssize_t size = ::getxattr(from.c_str(), name, nullptr, 0);
        std::vector<char> value(static_cast<std::size_t>(std::max<ssize_t>(size, 0)));
        const ssize_t got = size < 0 ? size : ::getxattr(from.c_str(), name, value.data(), value.size());
        if (got < 0) return MessageOf(text::kAttributeNotKept, name, ErrnoWords(errno));
        value.resize(static_cast<std::size_t>(got));
        std::vector<char> present(value.size() + 1);
        const ssize_t present_size = ::fgetxattr(to, name, present.data(), present.size());
        if (present_size == got && std::equal(value.begin(), value.end(), present.begin())) continue;
        if (::fsetxattr(to, name, value.data(), value.size(), 0) != 0) {
            return MessageOf(text::kAttributeNotKept, name, ErrnoWords(errno));
        }
    }
    return std::nullopt;
}

mode_t NewFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

struct SafeOutput::State {
    Descriptor direct;
    Descriptor directory;
    std::string directory_name;
    std::string name;
    Descriptor replaced;  // O_PATH: the file the edit replaces, for its attributes
    std::optional<struct stat> replaced_status;
    Descriptor temporary;
    std::string temporary_name;
    std::unique_ptr<TemporaryGuard> guard;  // while the temporary exists
    bool committed = false;

    std::optional<Message> Resolve(const std::string& output);
    std::optional<Message> MakeTemporary(std::uint64_t needed_bytes);
    std::optional<Message> KeepAttributes();
};

SafeOutput::SafeOutput(std::unique_ptr<State> state) : state_(std::move(state)) {}
SafeOutput::SafeOutput(SafeOutput&&) noexcept = default;
SafeOutput& SafeOutput::operator=(SafeOutput&&) noexcept = default;

SafeOutput::~SafeOutput() {
    if (state_ && state_->temporary.valid() && !state_->committed) {
        ::unlinkat(state_->directory.get(), state_->temporary_name.c_str(), 0);
    }
}

std::optional<SafeOutput> SafeOutput::Prepare(const std::string& output, std::uint64_t needed_bytes,
                                              Message& problem) {
    auto state = std::make_unique<State>();
    struct stat status {};
    const bool exists = ::stat(output.c_str(), &status) == 0;
    // /dev/null, a pipe, a terminal, our own stdout: written where it stands.
    if (exists && !S_ISDIR(status.st_mode) && (!S_ISREG(status.st_mode) || IsStandardStream(status))) {
        state->direct = Descriptor(::open(output.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
        if (state->direct.valid()) return SafeOutput(std::move(state));
        problem = MessageOf(text::kOutputUnopenable, ErrnoWords(errno));
        return std::nullopt;
    }
    std::optional<Message> failure = state->Resolve(output);
    if (!failure) failure = state->MakeTemporary(needed_bytes);
    if (!failure) return SafeOutput(std::move(state));
    problem = std::move(*failure);
    return std::nullopt;
}

// Finds the output's directory (through every link) and its name there,
// and what is in the way of replacing it.
std::optional<Message> SafeOutput::State::Resolve(const std::string& output) {
    namespace fs = std::filesystem;
    struct stat status {};
    fs::path resolved;
    std::error_code error;
    if (::stat(output.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) return MessageOf(text::kOutputIsDirectory);
        if (::faccessat(AT_FDCWD, output.c_str(), W_OK, AT_EACCESS) != 0) {
            if (errno == EROFS) return MessageOf(text::kOutputOn, ErrnoWords(errno));
            return MessageOf(text::kOutputNotWritable);
        }
        if (std::optional<Message> problem = OwnershipProblem(status)) return problem;
        resolved = fs::canonical(output, error);
    } else if (errno != ENOENT) {
        return MessageOf(text::kSystemWords, ErrnoWords(errno));
    } else if (::lstat(output.c_str(), &status) == 0) {
        return MessageOf(text::kDanglingLink);
    } else {
        const fs::path name = fs::path(output).filename();
        if (name.empty() || name == "." || name == "..") return MessageOf(text::kNamesNoFile);
        const fs::path parent = fs::path(output).has_parent_path() ? fs::path(output).parent_path() : fs::path(".");
        resolved = fs::canonical(parent, error) / name;
        if (error == std::errc::no_such_file_or_directory) return MessageOf(text::kDirectoryMissing, parent.string());
        if (error) return MessageOf(text::kDirectoryUnusable, parent.string(), ErrnoWords(error.value()));
    }
    if (error) return MessageOf(text::kSystemWords, ErrnoWords(error.value()));
    directory_name = resolved.parent_path().string();
    name = resolved.filename().string();
    directory = Descriptor(::open(directory_name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory.valid()) directory = Descriptor(::open(directory_name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!directory.valid()) return MessageOf(text::kDirectoryUnusable, directory_name, ErrnoWords(errno));
    replaced = Descriptor(::openat(directory.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!replaced.valid()) return std::nullopt;  // a new output
    // Another user's file, which a sticky directory (/tmp) also keeps us from
    // renaming over, was refused with its owner above.
    replaced_status.emplace();
    ::fstat(replaced.get(), &*replaced_status);
    return std::nullopt;
}

std::optional<Message> SafeOutput::State::MakeTemporary(std::uint64_t needed_bytes) {
    struct statvfs room {};
    if (::fstatvfs(directory.get(), &room) == 0 &&
        static_cast<std::uint64_t>(room.f_bavail) * room.f_frsize < needed_bytes) {
        return MessageOf(text::kNoRoom, directory_name, needed_bytes);
    }
    // No signal may end us between making the temporary and knowing to remove it.
    sigset_t fatal, previous;
    sigemptyset(&fatal);
    for (const int signal : kFatalSignals) sigaddset(&fatal, signal);
    ::sigprocmask(SIG_BLOCK, &fatal, &previous);
    constexpr int kAttempts = 100;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        temporary_name = TemporaryName(name);
        temporary = Descriptor(::openat(directory.get(), temporary_name.c_str(),
                                        O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (temporary.valid() || errno != EEXIST) break;
    }
    const int error = errno;
    if (temporary.valid()) guard = std::make_unique<TemporaryGuard>(directory.get(), temporary_name);
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (temporary.valid()) return std::nullopt;
    return MessageOf(text::kNoTemporary, directory_name, ErrnoWords(error));
}

std::optional<Message> SafeOutput::State::KeepAttributes() {
    if (!replaced_status) {
        if (::fchmod(temporary.get(), NewFileMode()) != 0) return MessageOf(text::kModeNotKept, ErrnoWords(errno));
        return std::nullopt;
    }
    // Owner first: a change of owner clears the set-user-ID bits that the mode then restores.
    if (::fchown(temporary.get(), replaced_status->st_uid, replaced_status->st_gid) != 0) {
        return MessageOf(text::kOwnerNotKept, ErrnoWords(errno));
    }
    if (::fchmod(temporary.get(), replaced_status->st_mode & 07777) != 0) {
        return MessageOf(text::kModeNotKept, ErrnoWords(errno));
    }
    return CopyExtendedAttributes(DescriptorName(replaced.get()), temporary.get());
}

std::string SafeOutput::LibraryName() const {
    return DescriptorName(state_->direct.valid() ? state_->direct.get() : state_->temporary.get());
}

bool SafeOutput::IsReplaced() const { return state_->temporary.valid(); }

std::optional<std::vector<std::uint8_t>> SafeOutput::ReadFirstBytes(std::size_t count) const {
    if (!state_->temporary.valid()) return std::nullopt;
    std::vector<std::uint8_t> bytes(count);
    const ssize_t got = ::pread(state_->temporary.get(), bytes.data(), bytes.size(), 0);
    if (got < 0) return std::nullopt;
    bytes.resize(static_cast<std::size_t>(got));
    return bytes;
}

std::optional<std::string> SafeOutput::ShortOfRoom(std::uint64_t bytes) const {
    struct statvfs room {};
    if (!state_->directory.valid() || ::fstatvfs(state_->directory.get(), &room) != 0) return std::nullopt;
    if (static_cast<std::uint64_t>(room.f_bavail) * room.f_frsize >= bytes) return std::nullopt;
    return ErrnoWords(ENOSPC);
}

bool SafeOutput::Append(const std::vector<std::uint8_t>& bytes, std::string& error) {
    const int fd = state_->temporary.valid() ? state_->temporary.get() : state_->direct.get();
    struct stat status {};
    if (state_->temporary.valid() && ::fstat(fd, &status) == 0) ::lseek(fd, status.st_size, SEEK_SET);
    if (WriteAll(fd, bytes.data(), bytes.size())) return true;
    error = ErrnoWords(errno);
    return false;
}

std::optional<Message> SafeOutput::Commit(bool sync, std::vector<Message>& remarks) {
    State& s = *state_;
    if (std::optional<Message> lost = s.KeepAttributes()) return lost;
    if (sync && ::fsync(s.temporary.get()) != 0) return MessageOf(text::kCopyNotSynced, ErrnoWords(errno));
    if (::renameat(s.directory.get(), s.temporary_name.c_str(), s.directory.get(), s.name.c_str()) != 0) {
        return MessageOf(text::kNotReplaced, ErrnoWords(errno));
    }
    s.committed = true;
    s.guard.reset();
    if (sync && ::fsync(s.directory.get()) != 0) {
        remarks.push_back(MessageOf(text::kDirectoryNotSynced, ErrnoWords(errno)));
    }
    return std::nullopt;
}

}  // namespace tintwell_cli
