// Linux: the edited copy is an unnamed file (O_TMPFILE) in the output's
// directory, handed to the library as /proc/self/fd/N, so that a kill, a
// crash or a power cut during the edit leaves nothing behind. Only at the
// commit, after a successful edit and every check, does it get the replaced
// file's exact attributes, a name ".NAME.tintwell-XXXXXX" (linkat) and the
// output's place (rename); a terminating signal between those two removes
// the name. Where the file system refuses O_TMPFILE, the copy has that name
// from the start, and the same signals remove it.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <utility>

#include "descriptor_linux.h"
#include "format.h"
#include "host_messages.h"
#include "safe_output.h"

namespace tintwell_cli {

const std::string_view kReplacementKeeps = text::kReplacementKeepsLinux;

namespace {

constexpr int kAttempts = 100;

// ---- Removing a named temporary when a signal ends the host --------------

// Every signal whose default action ends the process: the standard ones
// (SIGKILL and SIGSTOP aside, which no process can catch) and the
// real-time ones, SIGRTMIN to SIGRTMAX (glibc keeps the two below for itself).
const std::vector<int>& TerminatingSignals() {
    static const std::vector<int> signals = [] {
        std::vector<int> list = {SIGHUP,  SIGINT,    SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,    SIGFPE,
                                 SIGUSR1, SIGSEGV,   SIGUSR2, SIGPIPE, SIGALRM, SIGTERM, SIGSTKFLT, SIGXCPU,
                                 SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSYS};
        for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) list.push_back(signal);
        return list;
    }();
    return signals;
}

// Holds back every terminating signal for its life, so that none ends the
// host between making a name and knowing to remove it.
class TerminatingSignalsHeld {
public:
    TerminatingSignalsHeld() {
        sigset_t held;
        sigemptyset(&held);
        for (const int signal : TerminatingSignals()) sigaddset(&held, signal);
        ::sigprocmask(SIG_BLOCK, &held, &previous_);
    }
    TerminatingSignalsHeld(const TerminatingSignalsHeld&) = delete;
    TerminatingSignalsHeld& operator=(const TerminatingSignalsHeld&) = delete;
    ~TerminatingSignalsHeld() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }

private:
    sigset_t previous_{};
};

// The named temporary to remove if a signal ends the process before the
// rename. Plain data, so that the handler may read it.
struct PendingTemporary {
    int directory = -1;
    char name[NAME_MAX + 1] = {};
};
PendingTemporary g_pending;
volatile std::sig_atomic_t g_pending_armed = 0;

extern "C" void RemoveTemporaryAndDie(int signal) {
    if (g_pending_armed) ::unlinkat(g_pending.directory, g_pending.name, 0);
    // The handler was reset on entry and the signal is not blocked: this ends us.
    ::raise(signal);
}

// Sets every terminating signal that the caller does not ignore to remove
// the named temporary, once armed, and end the host by that signal. Made
// and armed while the signals are held.
class TemporaryGuard {
public:
    explicit TemporaryGuard(int directory) : saved_(TerminatingSignals().size()) {
        g_pending_armed = 0;
        g_pending.directory = directory;
        struct sigaction action {};
        action.sa_handler = RemoveTemporaryAndDie;
        action.sa_flags = SA_RESETHAND | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        const std::vector<int>& signals = TerminatingSignals();
        for (std::size_t i = 0; i < signals.size(); ++i) {
            ::sigaction(signals[i], nullptr, &saved_[i]);
            if (saved_[i].sa_handler != SIG_IGN) ::sigaction(signals[i], &action, nullptr);
        }
    }
    TemporaryGuard(const TemporaryGuard&) = delete;
    TemporaryGuard& operator=(const TemporaryGuard&) = delete;
    ~TemporaryGuard() {
        g_pending_armed = 0;
        const std::vector<int>& signals = TerminatingSignals();
        for (std::size_t i = 0; i < signals.size(); ++i) ::sigaction(signals[i], &saved_[i], nullptr);
    }

    void Arm(const std::string& name) {
        std::snprintf(g_pending.name, sizeof g_pending.name, "%s", name.c_str());
        g_pending_armed = 1;
    }

private:
    std::vector<struct sigaction> saved_;
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

// ---- Extended attributes (ACLs and security labels included) -------------

// The names `list` gives (listxattr or flistxattr), or the error; a file
// system without extended attributes has none.
template <typename List>
std::optional<std::vector<std::string>> AttributeNames(List list, int& error) {
    std::vector<char> names;
    for (;;) {
        const ssize_t size = list(nullptr, 0);
        if (size < 0) {
            if (errno == ENOTSUP) return std::vector<std::string>{};
            error = errno;
            return std::nullopt;
        }
        names.resize(static_cast<std::size_t>(size));
        const ssize_t got = list(names.data(), names.size());
        if (got >= 0) {
            names.resize(static_cast<std::size_t>(got));
            break;
        }
        if (errno != ERANGE) {
            error = errno;
            return std::nullopt;
        }
    }
    std::vector<std::string> result;
    for (std::size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1) {
        result.emplace_back(names.data() + at);
    }
    return result;
}

// Gives the edited copy exactly the replaced file's extended attributes:
// each of them, and none besides (such as an access ACL that the
// directory's default ACL gave the copy). Says which one it could not.
std::optional<Message> MatchExtendedAttributes(const std::string& from, int to) {
    int error = 0;
    const std::optional<std::vector<std::string>> kept =
        AttributeNames([&](char* names, std::size_t size) { return ::listxattr(from.c_str(), names, size); }, error);
    if (!kept) return MessageOf(text::kAttributesNotKept, ErrnoWords(error));
    const std::optional<std::vector<std::string>> present =
        AttributeNames([&](char* names, std::size_t size) { return ::flistxattr(to, names, size); }, error);
    if (!present) return MessageOf(text::kAttributesNotKept, ErrnoWords(error));
    for (const std::string& name : *present) {
        if (std::find(kept->begin(), kept->end(), name) != kept->end()) continue;
        if (::fremovexattr(to, name.c_str()) != 0 && errno != ENODATA) {
            return MessageOf(text::kAttributeNotDropped, name, ErrnoWords(errno));
        }
    }
    for (const std::string& name : *kept) {
        const ssize_t size = ::getxattr(from.c_str(), name.c_str(), nullptr, 0);
        std::vector<char> value(static_cast<std::size_t>(std::max<ssize_t>(size, 0)));
        const ssize_t got = size < 0 ? size : ::getxattr(from.c_str(), name.c_str(), value.data(), value.size());
        if (got < 0) return MessageOf(text::kAttributeNotKept, name, ErrnoWords(errno));
        value.resize(static_cast<std::size_t>(got));
        std::vector<char> copy(value.size() + 1);
        const ssize_t copy_size = ::fgetxattr(to, name.c_str(), copy.data(), copy.size());
        if (copy_size == got && std::equal(value.begin(), value.end(), copy.begin())) continue;
        if (::fsetxattr(to, name.c_str(), value.data(), value.size(), 0) != 0) {
            return MessageOf(text::kAttributeNotKept, name, ErrnoWords(errno));
        }
    }
    return std::nullopt;
}

}  // namespace

struct SafeOutput::State {
    Descriptor direct;
    Descriptor directory;
    std::string directory_name;
    std::string name;
    Descriptor replaced;  // O_PATH: the file the edit replaces, for its attributes
    std::optional<struct stat> replaced_status;
    bool only_new = false;  // OnlyNewOutputs: never replace a file
    Descriptor temporary;
    bool unnamed = false;        // made with O_TMPFILE: no name until the commit
    std::string temporary_name;  // its name while it has one
    std::optional<mode_t> made_mode;  // as made, when the library needed the owner's access added
    std::unique_ptr<TemporaryGuard> guard;  // while the temporary has a name
    bool committed = false;

    std::optional<Message> Resolve(const std::string& output);
    bool ShortOfRoom(std::uint64_t bytes) const;
    std::optional<Message> MakeTemporary(std::uint64_t needed_bytes);
    // Names the copy with make(candidate), retrying while a name is taken;
    // the guard removes the name if a fatal signal ends us meanwhile.
    std::optional<Message> NameWith(const std::function<bool(const std::string&)>& make);
    std::optional<Message> MakeNamedTemporary(mode_t mode);
    std::optional<Message> LetTheLibraryWrite();
    std::optional<Message> KeepAttributes();
    int LinkUnnamed(const std::string& at);
    std::optional<Message> GiveName();
    std::optional<Message> PutInPlace();
};

SafeOutput::SafeOutput(std::unique_ptr<State> state) : state_(std::move(state)) {}
SafeOutput::SafeOutput(SafeOutput&&) noexcept = default;
SafeOutput& SafeOutput::operator=(SafeOutput&&) noexcept = default;

SafeOutput::~SafeOutput() {
    if (state_ && !state_->committed && !state_->temporary_name.empty()) {
        ::unlinkat(state_->directory.get(), state_->temporary_name.c_str(), 0);
    }
}

std::optional<SafeOutput> SafeOutput::Prepare(const std::string& output, std::uint64_t needed_bytes,
                                              Message& problem) {
    auto state = std::make_unique<State>();
    state->only_new = OnlyNewOutputsInForce();
    struct stat status {};
    if (state->only_new) {
        if (::lstat(output.c_str(), &status) == 0) {
            problem = MessageOf(text::kOutputExists);
            return std::nullopt;
        }
    } else if (::stat(output.c_str(), &status) == 0 && !S_ISDIR(status.st_mode) &&
               (!S_ISREG(status.st_mode) || IsStandardStream(status))) {
        // /dev/null, a pipe, a terminal, our own stdout: written where it stands.
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
        if (only_new) return MessageOf(text::kOutputExists);
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
        if (only_new) return MessageOf(text::kOutputExists);
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
    if (only_new) return std::nullopt;
    replaced = Descriptor(::openat(directory.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!replaced.valid()) return std::nullopt;  // a new output
    // Another user's file, which a sticky directory (/tmp) also keeps us from
    // renaming over, was refused with its owner above.
    replaced_status.emplace();
    ::fstat(replaced.get(), &*replaced_status);
    return std::nullopt;
}

bool SafeOutput::State::ShortOfRoom(std::uint64_t bytes) const {
    struct statvfs room {};
    return directory.valid() && ::fstatvfs(directory.get(), &room) == 0 &&
           static_cast<std::uint64_t>(room.f_bavail) * room.f_frsize < bytes;
}

std::optional<Message> SafeOutput::State::MakeTemporary(std::uint64_t needed_bytes) {
    if (ShortOfRoom(needed_bytes)) return MessageOf(text::kNoRoom, directory_name, needed_bytes);
    // A new output is made as open(O_CREAT, 0666) makes a file there (the
    // umask or the directory's default ACL decide), and keeps that; a
    // replaced one starts as the owner's alone and gets the replaced file's
    // attributes at the commit. Unnamed, no one else can open it meanwhile.
    const mode_t mode = replaced_status ? 0600 : 0666;
    temporary = Descriptor(::openat(directory.get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode));
    if (temporary.valid()) {
        unnamed = true;
    } else if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) {
        // A file system without unnamed files (FAT, exFAT, NFS, SMB, ...;
        // EISDIR from a kernel before 3.11): the copy is named from the start.
        if (std::optional<Message> failure = MakeNamedTemporary(mode)) return failure;
    } else {
        return MessageOf(text::kNoTemporary, directory_name, ErrnoWords(errno));
    }
    return LetTheLibraryWrite();
}

std::optional<Message> SafeOutput::State::NameWith(const std::function<bool(const std::string&)>& make) {
    guard = std::make_unique<TemporaryGuard>(directory.get());
    int error = 0;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        temporary_name = TemporaryName(name);
        if (make(temporary_name)) {
            guard->Arm(temporary_name);
            return std::nullopt;
        }
        error = errno;
        if (error != EEXIST) break;
    }
    temporary_name.clear();
    guard.reset();
    return MessageOf(text::kNoTemporary, directory_name, ErrnoWords(error));
}

std::optional<Message> SafeOutput::State::MakeNamedTemporary(mode_t mode) {
    const TerminatingSignalsHeld held;
    return NameWith([&](const std::string& candidate) {
        temporary = Descriptor(::openat(directory.get(), candidate.c_str(),
                                        O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        return temporary.valid();
    });
}

// The library opens the copy again through /proc/self/fd/N, which the
// copy's mode must let its owner do: a umask or a default ACL that takes
// the owner's access away has it added back until the commit.
std::optional<Message> SafeOutput::State::LetTheLibraryWrite() {
    struct stat made {};
    if (::fstat(temporary.get(), &made) != 0) return MessageOf(text::kNoTemporary, directory_name, ErrnoWords(errno));
    if ((made.st_mode & 0600) == 0600) return std::nullopt;
    made_mode = made.st_mode & 07777;
    if (::fchmod(temporary.get(), *made_mode | 0600) != 0) {
        return MessageOf(text::kNoTemporary, directory_name, ErrnoWords(errno));
    }
    return std::nullopt;
}

std::optional<Message> SafeOutput::State::KeepAttributes() {
    if (!replaced_status) {
        // A new output keeps what it was made with.
        if (made_mode && ::fchmod(temporary.get(), *made_mode) != 0) {
            return MessageOf(text::kModeNotKept, ErrnoWords(errno));
        }
        return std::nullopt;
    }
    // Owner first: a change of owner clears the set-user-ID bits that the
    // mode restores last, after the ACL (which setting also changes the mode).
    if (::fchown(temporary.get(), replaced_status->st_uid, replaced_status->st_gid) != 0) {
        return MessageOf(text::kOwnerNotKept, ErrnoWords(errno));
    }
    if (std::optional<Message> lost = MatchExtendedAttributes(DescriptorName(replaced.get()), temporary.get())) {
        return lost;
    }
    if (::fchmod(temporary.get(), replaced_status->st_mode & 07777) != 0) {
        return MessageOf(text::kModeNotKept, ErrnoWords(errno));
    }
    return std::nullopt;
}

// Links the unnamed copy into the directory as `at`: fails on a name taken.
int SafeOutput::State::LinkUnnamed(const std::string& at) {
    if (::linkat(temporary.get(), "", directory.get(), at.c_str(), AT_EMPTY_PATH) == 0) return 0;
    if (errno != ENOENT) return -1;
    // A kernel that allows AT_EMPTY_PATH only with CAP_DAC_READ_SEARCH says
    // ENOENT: the same link, through the name the library wrote by.
    return ::linkat(AT_FDCWD, DescriptorName(temporary.get()).c_str(), directory.get(), at.c_str(),
                    AT_SYMLINK_FOLLOW);
}

// Names the unnamed copy ".NAME.tintwell-XXXXXX" for the moment until the
// rename, with every terminating signal set to remove that name.
std::optional<Message> SafeOutput::State::GiveName() {
    const TerminatingSignalsHeld held;
    return NameWith([&](const std::string& candidate) { return LinkUnnamed(candidate) == 0; });
}

std::optional<Message> SafeOutput::State::PutInPlace() {
    if (only_new) {
        // Under the output's name only if it is still free.
        int result = 0;
        if (unnamed) {
            result = LinkUnnamed(name);
        } else {
            result = ::renameat2(directory.get(), temporary_name.c_str(), directory.get(), name.c_str(),
                                 RENAME_NOREPLACE);
            if (result != 0 && errno == EINVAL) {
                // A file system without RENAME_NOREPLACE: a link does the same.
                result = ::linkat(directory.get(), temporary_name.c_str(), directory.get(), name.c_str(), 0);
                if (result == 0) ::unlinkat(directory.get(), temporary_name.c_str(), 0);
            }
        }
        if (result == 0) return std::nullopt;
        if (errno == EEXIST) return MessageOf(text::kOutputExists);
        return MessageOf(text::kNotWrittenFromCopy, ErrnoWords(errno));
    }
    if (unnamed) {
        if (std::optional<Message> failure = GiveName()) return failure;
    }
    if (::renameat(directory.get(), temporary_name.c_str(), directory.get(), name.c_str()) != 0) {
        return MessageOf(text::kNotReplaced, ErrnoWords(errno));
    }
    return std::nullopt;
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
    if (!state_->ShortOfRoom(bytes)) return std::nullopt;
    return ErrnoWords(ENOSPC);
}

bool SafeOutput::Append(std::span<const std::uint8_t> bytes, std::string& error) {
    const int fd = state_->temporary.valid() ? state_->temporary.get() : state_->direct.get();
    struct stat status {};
    if (state_->temporary.valid() && ::fstat(fd, &status) == 0) ::lseek(fd, status.st_size, SEEK_SET);
    if (WriteAll(fd, bytes.data(), bytes.size())) return true;
    error = ErrnoWords(errno);
    return false;
}

SafeOutput::Committed SafeOutput::Commit(bool sync) {
    State& s = *state_;
    Committed committed;
    if (std::optional<Message> lost = s.KeepAttributes()) return Committed::Not(std::move(*lost));
    if (sync && ::fsync(s.temporary.get()) != 0) return Committed::Not(MessageOf(text::kCopyNotSynced, ErrnoWords(errno)));
    if (std::optional<Message> failure = s.PutInPlace()) return Committed::Not(std::move(*failure));
    s.committed = true;
    s.guard.reset();
    if (sync && ::fsync(s.directory.get()) != 0) {
        committed.remarks.push_back(MessageOf(text::kDirectoryNotSynced, ErrnoWords(errno)));
        committed.durable = false;
    }
    return committed;
}

// ---- The demo's directory ------------------------------------------------

struct NewFilesDirectory::State {
    Descriptor directory;
};

namespace {

bool IsEmptyDirectory(int directory) {
    DIR* listing = ::fdopendir(::fcntl(directory, F_DUPFD_CLOEXEC, 0));
    if (listing == nullptr) return false;
    bool empty = true;
    while (const dirent* entry = ::readdir(listing)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            empty = false;
            break;
        }
    }
    ::closedir(listing);
    return empty;
}

}  // namespace

NewFilesDirectory::NewFilesDirectory(std::unique_ptr<State> state) : state_(std::move(state)) {}
NewFilesDirectory::NewFilesDirectory(NewFilesDirectory&&) noexcept = default;
NewFilesDirectory& NewFilesDirectory::operator=(NewFilesDirectory&&) noexcept = default;
NewFilesDirectory::~NewFilesDirectory() = default;

std::optional<NewFilesDirectory> NewFilesDirectory::Enter(const std::string& path, Message& problem) {
    const auto unusable = [&](std::string_view reason) {
        problem = MessageOf(text::kDemoDirectoryUnusable, path, reason);
        return std::nullopt;
    };
    std::error_code error;
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, error);
    if (error) return unusable(ErrnoWords(error.value()));
    const bool made = ::mkdir(path.c_str(), 0777) == 0;
    if (!made && errno != EEXIST) return unusable(ErrnoWords(errno));
    auto state = std::make_unique<State>();
    state->directory = Descriptor(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!state->directory.valid()) return unusable(errno == ENOTDIR ? Format(text::kNotADirectory) : ErrnoWords(errno));
    if (!made && !IsEmptyDirectory(state->directory.get())) return unusable(Format(text::kDemoDirectoryNotEmpty));
    if (::fchdir(state->directory.get()) != 0) return unusable(ErrnoWords(errno));
    return NewFilesDirectory(std::move(state));
}

std::optional<std::string> NewFilesDirectory::Write(const std::string& name, std::string_view bytes) const {
    const int file = ::openat(state_->directory.get(), name.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
    if (file < 0) return errno == EEXIST ? Format(text::kNameTaken) : ErrnoWords(errno);
    int error = 0;
    while (!bytes.empty() && error == 0) {
        const ssize_t written = ::write(file, bytes.data(), bytes.size());
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
        } else if (written == 0 || errno != EINTR) {
            error = written == 0 ? EIO : errno;
        }
    }
    if (::close(file) != 0 && error == 0) error = errno;
    if (error != 0) return ErrnoWords(error);
    return std::nullopt;
}

}  // namespace tintwell_cli
