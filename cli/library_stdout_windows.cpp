#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "library_call.h"

namespace tintwell_cli {

LibraryStdout::LibraryStdout(LibraryMessages messages) {
    if (messages == LibraryMessages::kOnStdout) return;
    std::fflush(stdout);
    saved_ = ::_dup(1);
    const int elsewhere = messages == LibraryMessages::kOnStderr ? ::_dup(2) : ::_open("NUL", _O_WRONLY | _O_BINARY | _O_NOINHERIT);
    if (elsewhere >= 0) {
        ::_dup2(elsewhere, 1);
        ::_close(elsewhere);
    }
}

LibraryStdout::~LibraryStdout() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    ::_dup2(saved_, 1);
    ::_close(saved_);
}

}  // namespace tintwell_cli
