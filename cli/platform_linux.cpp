#include "platform.h"

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

}  // namespace tintwell_cli
