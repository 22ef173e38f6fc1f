#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

#include "library_call.h"

namespace tintwell_cli {

LibraryStdout::LibraryStdout(LibraryMessages messages) {
    if (messages == LibraryMessages::kOnStdout) return;
    std::fflush(stdout);
    saved_ = ::dup(STDOUT_FILENO);
    const int elsewhere = messages == LibraryMessages::kOnStderr ? ::dup(STDERR_FILENO) : ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (elsewhere >= 0) {
        ::dup2(elsewhere, STDOUT_FILENO);
        ::close(elsewhere);
    }
}

LibraryStdout::~LibraryStdout() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
}

}  // namespace tintwell_cli
