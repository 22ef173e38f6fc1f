#include "library_call.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "edits.h"
#include "library_call_internal.h"
#include "picture_check.h"

namespace tintwell_cli {
namespace {

class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// The name under which the library opens a file the host holds open.
std::string DescriptorName(const Descriptor& descriptor) { return "/proc/self/fd/" + std::to_string(descriptor.get()); }

// What the system says about an error, in the words a user expects.
std::string Why(int error) {
    switch (error) {
    case ENOENT: return "no such file";
    case EACCES:
    case EPERM: return "permission denied";
    case EROFS: return "a read-only file system";
    case ENOTDIR: return "a part of its path is not a directory";
    case ENOSPC: return "no space left on the device";
    default: {
        std::string text = std::strerror(error);
        if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
        return text;
    }
    }
}

std::string KindOfFile(mode_t mode) {
    if (S_ISFIFO(mode)) return "a pipe";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISDIR(mode)) return "a directory";
    return "not a regular file";
}

// ---- The input ---------------------------------------------------------

std::string InputError(int error) {
    if (error == EACCES) return "not readable (permission denied)";
    return Why(error);
}

// The file's first bytes, as many as the check looks at.
std::optional<std::vector<std::uint8_t>> ReadHeader(int fd) {
    std::vector<std::uint8_t> header(kPictureHeaderSize);
    std::size_t done = 0;
    while (done < header.size()) {
        const ssize_t got = ::pread(fd, header.data() + done, header.size() - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::nullopt;
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    header.resize(done);
    return header;
}

// Opens the input and, unless told not to, checks that it is a picture the
// library edits correctly. Says why and returns nothing when it is not.
std::optional<Descriptor> OpenInput(const PictureEdit& edit, const CallOptions& options, struct stat& status) {
    const bool writes = edit.output.has_value();
    // Not blocking: a pipe must be refused, not waited on.
    Descriptor input(::open(edit.input.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!input.valid()) {
        Refuse(edit.input, InputError(errno), writes);
        return std::nullopt;
    }
    if (::fstat(input.get(), &status) != 0) {
        Refuse(edit.input, Why(errno), writes);
        return std::nullopt;
    }
    if (S_ISDIR(status.st_mode)) {
        Refuse(edit.input, "a directory, not a picture", writes);
        return std::nullopt;
    }
    ::fcntl(input.get(), F_SETFL, ::fcntl(input.get(), F_GETFL) & ~O_NONBLOCK);
    if (!options.check) return input;
    if (!S_ISREG(status.st_mode)) {
        Refuse(edit.input, KindOfFile(status.st_mode) + ", not a regular file: it cannot be checked without consuming it",
               writes, writes ? "--force edits it unchecked" : "--force reads it unchecked");
        return std::nullopt;
    }
    const std::optional<std::vector<std::uint8_t>> header = ReadHeader(input.get());
    if (!header) {
        Refuse(edit.input, "cannot be read: " + Why(errno), writes);
        return std::nullopt;
    }
    if (const std::optional<std::string> refusal =
            PictureRefusal(*header, static_cast<std::uint64_t>(status.st_size))) {
        Refuse(edit.input, *refusal + "; tintwell edits 24-bit uncompressed BMP pictures", writes,
               writes ? "--force edits its bytes anyway" : "--force reads its bytes anyway");
        return std::nullopt;
    }
    return input;
}

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

// ---- The output ----------------------------------------------------------

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
std::optional<std::string> OwnershipProblem(const struct stat& replaced) {
    if (::geteuid() == 0) return std::nullopt;
    if (replaced.st_uid != ::geteuid()) {
        return "owned by another user (uid " + std::to_string(replaced.st_uid) +
               "), whom its edited copy could not keep as owner";
    }
    if (!IsOneOfMyGroups(replaced.st_gid)) {
        return "its group (gid " + std::to_string(replaced.st_gid) +
               ") is not one of this user's, so its edited copy could not keep it";
    }
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

// Where the edited picture goes: directly into a file that is not a regular
// one, or into a temporary that replaces the output when the edit succeeded.
class Output {
public:
    // Says why and returns nothing when the output cannot be written safely.
    static std::optional<Output> Prepare(const std::string& output, std::uint64_t needed_bytes);

    // The name the library writes to.
    std::string LibraryName() const { return DescriptorName(direct_.valid() ? direct_ : temporary_); }
    bool IsReplaced() const { return temporary_.valid(); }

    // Gives the temporary the replaced file's attributes and renames it over
    // the output. On failure says why; the output is untouched then.
    bool Commit(const std::string& shown, bool sync);

    Output(Output&&) = default;
    Output& operator=(Output&&) = default;
    ~Output() {
        if (temporary_.valid() && !committed_) ::unlinkat(directory_.get(), temporary_name_.c_str(), 0);
    }

private:
    Output() = default;
    bool Resolve(const std::string& output);
    bool MakeTemporary(const std::string& output, std::uint64_t needed_bytes);
    std::optional<std::string> KeepAttributes();

    Descriptor direct_;
    Descriptor directory_;
    std::string directory_name_;
    std::string name_;
    Descriptor replaced_;  // O_PATH: the file the edit replaces, for its attributes
    std::optional<struct stat> replaced_status_;
    Descriptor temporary_;
    std::string temporary_name_;
    std::unique_ptr<TemporaryGuard> guard_;  // while the temporary exists
    bool committed_ = false;
};

std::optional<Output> Output::Prepare(const std::string& output, std::uint64_t needed_bytes) {
    Output prepared;
    struct stat status {};
    const bool exists = ::stat(output.c_str(), &status) == 0;
    // /dev/null, a pipe, a terminal, our own stdout: written where it stands.
    if (exists && !S_ISDIR(status.st_mode) && (!S_ISREG(status.st_mode) || IsStandardStream(status))) {
        prepared.direct_ = Descriptor(::open(output.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
        if (prepared.direct_.valid()) return prepared;
        Refuse(output, "cannot be opened for writing: " + Why(errno), true);
        return std::nullopt;
    }
    if (!prepared.Resolve(output) || !prepared.MakeTemporary(output, needed_bytes)) return std::nullopt;
    return prepared;
}

// Finds the output's directory (through every link) and its name there,
// and what is in the way of replacing it.
bool Output::Resolve(const std::string& output) {
    namespace fs = std::filesystem;
    struct stat status {};
    fs::path resolved;
    std::error_code error;
    if (::stat(output.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) {
            Refuse(output, "a directory", true);
            return false;
        }
        if (::faccessat(AT_FDCWD, output.c_str(), W_OK, AT_EACCESS) != 0) {
            Refuse(output, errno == EROFS ? "on " + Why(errno) : "not writable (permission denied)", true);
            return false;
        }
        if (std::optional<std::string> problem = OwnershipProblem(status)) {
            Refuse(output, *problem, true);
            return false;
        }
        resolved = fs::canonical(output, error);
    } else if (errno != ENOENT) {
        Refuse(output, Why(errno), true);
        return false;
    } else if (::lstat(output.c_str(), &status) == 0) {
        Refuse(output, "a symbolic link to a missing file", true);
        return false;
    } else {
        const fs::path name = fs::path(output).filename();
        if (name.empty() || name == "." || name == "..") {
            Refuse(output, "names no file", true);
            return false;
        }
        const fs::path parent = fs::path(output).has_parent_path() ? fs::path(output).parent_path() : fs::path(".");
        resolved = fs::canonical(parent, error) / name;
        if (error) {
            Refuse(output,
                   error == std::errc::no_such_file_or_directory
                       ? "the directory '" + parent.string() + "' does not exist"
                       : "the directory '" + parent.string() + "': " + Why(error.value()),
                   true);
            return false;
        }
    }
    if (error) {
        Refuse(output, Why(error.value()), true);
        return false;
    }
    directory_name_ = resolved.parent_path().string();
    name_ = resolved.filename().string();
    directory_ = Descriptor(::open(directory_name_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory_.valid()) directory_ = Descriptor(::open(directory_name_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!directory_.valid()) {
        Refuse(output, "the directory '" + directory_name_ + "': " + Why(errno), true);
        return false;
    }
    replaced_ = Descriptor(::openat(directory_.get(), name_.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!replaced_.valid()) return true;  // a new output
    // Another user's file, which a sticky directory (/tmp) also keeps us from
    // renaming over, was refused with its owner above.
    replaced_status_.emplace();
    ::fstat(replaced_.get(), &*replaced_status_);
    return true;
}

bool Output::MakeTemporary(const std::string& output, std::uint64_t needed_bytes) {
    struct statvfs room {};
    if (::fstatvfs(directory_.get(), &room) == 0 &&
        static_cast<std::uint64_t>(room.f_bavail) * room.f_frsize < needed_bytes) {
        Refuse(output,
               "no room for the edited copy beside it in '" + directory_name_ + "' (" + std::to_string(needed_bytes) +
                   " bytes needed)",
               true);
        return false;
    }
    // No signal may end us between making the temporary and knowing to remove it.
    sigset_t fatal, previous;
    sigemptyset(&fatal);
    for (const int signal : kFatalSignals) sigaddset(&fatal, signal);
    ::sigprocmask(SIG_BLOCK, &fatal, &previous);
    constexpr int kAttempts = 100;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        temporary_name_ = TemporaryName(name_);
        temporary_ = Descriptor(::openat(directory_.get(), temporary_name_.c_str(),
                                         O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (temporary_.valid() || errno != EEXIST) break;
    }
    const int error = errno;
    if (temporary_.valid()) guard_ = std::make_unique<TemporaryGuard>(directory_.get(), temporary_name_);
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    if (temporary_.valid()) return true;
    Refuse(output, "cannot make the edited copy beside it in '" + directory_name_ + "': " + Why(errno), true);
    return false;
}

// Copies every extended attribute (ACLs and security labels included) of
// the replaced file to the temporary; says which one could not be copied.
std::optional<std::string> CopyExtendedAttributes(const std::string& from, int to) {
    std::vector<char> names;
    for (;;) {
        const ssize_t size = ::listxattr(from.c_str(), nullptr, 0);
        if (size < 0) return errno == ENOTSUP ? std::nullopt : std::optional("its extended attributes: " + Why(errno));
        names.resize(static_cast<std::size_t>(size));
        const ssize_t got = ::listxattr(from.c_str(), names.data(), names.size());
        if (got >= 0) {
            names.resize(static_cast<std::size_t>(got));
            break;
        }
        if (errno != ERANGE) return "its extended attributes: " + Why(errno);
    }
    for (std::size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1) {
        const char* name = names.data() + at;
        const ssize_t size = ::getxattr(from.c_str(), name, nullptr, 0);
        std::vector<char> value(static_cast<std::size_t>(std::max<ssize_t>(size, 0)));
        const ssize_t got = size < 0 ? size : ::getxattr(from.c_str(), name, value.data(), value.size());
        if (got < 0) return "its extended attribute '" + std::string(name) + "': " + Why(errno);
        value.resize(static_cast<std::size_t>(got));
        std::vector<char> present(value.size() + 1);
        const ssize_t present_size = ::fgetxattr(to, name, present.data(), present.size());
        if (present_size == got && std::equal(value.begin(), value.end(), present.begin())) continue;
        if (::fsetxattr(to, name, value.data(), value.size(), 0) != 0) {
            return "its extended attribute '" + std::string(name) + "': " + Why(errno);
        }
    }
    return std::nullopt;
}

mode_t NewFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

std::optional<std::string> Output::KeepAttributes() {
    if (!replaced_status_) {
        if (::fchmod(temporary_.get(), NewFileMode()) != 0) return "its mode: " + Why(errno);
        return std::nullopt;
    }
    // Owner first: a change of owner clears the set-user-ID bits that the mode then restores.
    if (::fchown(temporary_.get(), replaced_status_->st_uid, replaced_status_->st_gid) != 0) {
        return "its owner and group: " + Why(errno);
    }
    if (::fchmod(temporary_.get(), replaced_status_->st_mode & 07777) != 0) return "its mode: " + Why(errno);
    return CopyExtendedAttributes(DescriptorName(replaced_), temporary_.get());
}

bool Output::Commit(const std::string& shown, bool sync) {
    if (const std::optional<std::string> lost = KeepAttributes()) {
        Refuse(shown, "the edited copy could not keep " + *lost, true);
        return false;
    }
    if (sync && ::fsync(temporary_.get()) != 0) {
        Refuse(shown, "the edited copy did not reach the disk: " + Why(errno), true);
        return false;
    }
    if (::renameat(directory_.get(), temporary_name_.c_str(), directory_.get(), name_.c_str()) != 0) {
        Refuse(shown, "cannot be replaced by its edited copy: " + Why(errno), true);
        return false;
    }
    committed_ = true;
    guard_.reset();
    if (sync && ::fsync(directory_.get()) != 0) {
        std::cerr << "tintwell: " << shown << ": written, but its directory did not reach the disk: " << Why(errno)
                  << "\n";
    }
    return true;
}

}  // namespace

const char* const kReplacementKeeps = "its mode, owner and extended attributes";

StdoutForLibrary::StdoutForLibrary(bool quiet) {
    if (!quiet) return;
    std::fflush(stdout);
    saved_ = ::dup(STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, STDOUT_FILENO);
        ::close(null);
    }
}

StdoutForLibrary::~StdoutForLibrary() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
}

CallOutcome EditPicture(TintwellEntry entry, const PictureEdit& edit, const CallOptions& options) {
    struct stat input_status {};
    const std::optional<Descriptor> input = OpenInput(edit, options, input_status);
    if (!input) return CallOutcome::kRefused;
    std::optional<Output> output;
    if (edit.output) {
        const std::uint64_t needed = S_ISREG(input_status.st_mode) ? static_cast<std::uint64_t>(input_status.st_size) : 0;
        output = Output::Prepare(*edit.output, needed);
        if (!output) return CallOutcome::kRefused;
    }
    const std::int32_t result = CallLibrary(
        entry, DescriptorName(*input), output ? std::optional(output->LibraryName()) : std::nullopt, edit, options.quiet);
    const bool succeeded = output ? result == TINTWELL_RESULT_WRITTEN : IsSuccess(result);
    if (!succeeded) {
        ReportResult(edit, result);
        return CallOutcome::kFailed;
    }
    if (output && output->IsReplaced() && !output->Commit(*edit.output, options.sync)) return CallOutcome::kRefused;
    return CallOutcome::kSucceeded;
}

}  // namespace tintwell_cli
