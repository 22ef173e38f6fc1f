#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "library_call.h"

namespace tintwell_cli {

QuietStdout::QuietStdout(bool quiet) {
    if (!quiet) return;
    std::fflush(stdout);
    saved_ = ::_dup(1);
    const int null = ::_open("NUL", _O_WRONLY | _O_BINARY | _O_NOINHERIT);
    if (null >= 0) {
        ::_dup2(null, 1);
        ::_close(null);
    }
}

QuietStdout::~QuietStdout() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    ::_dup2(saved_, 1);
    ::_close(saved_);
}

}  // namespace tintwell_cli
