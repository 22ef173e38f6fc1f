#include "platform.h"

#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tintwell_cli {

std::optional<FileIdentity> IdentityOf(const std::string& name) {
    struct stat status {};
    if (::stat(name.c_str(), &status) != 0) return std::nullopt;
    return FileIdentity{status.st_dev, status.st_ino};
}

std::size_t ProcessorCount() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0) return 0;
    return static_cast<std::size_t>(CPU_COUNT(&allowed));
}

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

namespace {
bool g_closed_at_start[3] = {};
}  // namespace

void HoldStandardStreams() {
    for (int fd = 0; fd < 3; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        g_closed_at_start[fd] = true;
        // The lowest free descriptor: this very one, since the lower ones are open.
        ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    }
}

bool WasClosedAtStart(int fd) { return fd >= 0 && fd < 3 && g_closed_at_start[fd]; }

bool IsOpenDescriptor(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

bool IsTerminalDescriptor(int fd) { return ::isatty(fd) == 1; }

std::optional<FileIdentity> IdentityOfDescriptor(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) return std::nullopt;
    return FileIdentity{status.st_dev, status.st_ino};
}

bool HeldFilesHaveNames() { return ::access("/proc/self/fd", X_OK) == 0; }

bool HasFreeDescriptors(int count) {
    std::vector<int> opened;
    for (int i = 0; i < count; ++i) {
        const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (fd < 0) break;
        opened.push_back(fd);
    }
    for (const int fd : opened) ::close(fd);
    return static_cast<int>(opened.size()) == count;
}

}  // namespace tintwell_cli
