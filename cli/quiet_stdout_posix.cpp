#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

#include "library_call.h"

namespace tintwell_cli {

QuietStdout::QuietStdout(bool quiet) {
    if (!quiet) return;
    std::fflush(stdout);
    saved_ = ::dup(STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, STDOUT_FILENO);
        ::close(null);
    }
}

QuietStdout::~QuietStdout() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
}

}  // namespace tintwell_cli
