#include <cerrno>
#include <cstdio>
#include <string>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include "library_call.h"
#include "library_messages.h"

namespace tintwell_cli {
namespace {

void WriteAll(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return;  // where the messages went is gone: they are dropped, as a closed stdout drops them
        done += static_cast<std::size_t>(wrote);
    }
}

}  // namespace

// Reads the pipe that stands in for stdout and writes each message, in the
// user's language, where the messages go.
struct LibraryStdout::Renderer {
    int pipe_end = -1;  // the reading end
    int shown_on = -1;  // where the rendered messages go
    std::thread reader;

    void Read() {
        LibraryMessageRenderer renderer;
        char buffer[4096];
        for (;;) {
            const ssize_t got = ::read(pipe_end, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            WriteAll(shown_on, renderer.Take(std::string_view(buffer, static_cast<std::size_t>(got))));
        }
        WriteAll(shown_on, renderer.Finish());
    }
};

LibraryStdout::LibraryStdout(LibraryMessages messages, bool rendered) {
    if (messages == LibraryMessages::kOnStdout && !rendered) return;
    std::fflush(stdout);
    saved_ = ::dup(STDOUT_FILENO);
    int elsewhere = -1;
    if (messages == LibraryMessages::kDropped) {
        elsewhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    } else {
        elsewhere = ::fcntl(messages == LibraryMessages::kOnStderr ? STDERR_FILENO : STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    }
    int pipe_ends[2] = {-1, -1};
    if (rendered && elsewhere >= 0 && ::pipe2(pipe_ends, O_CLOEXEC) == 0) {
        renderer_ = std::make_unique<Renderer>();
        renderer_->pipe_end = pipe_ends[0];
        renderer_->shown_on = elsewhere;
        try {
            renderer_->reader = std::thread(&Renderer::Read, renderer_.get());
            elsewhere = pipe_ends[1];
        } catch (const std::system_error&) {
            // No thread to read the pipe: the messages go out as printed.
            ::close(pipe_ends[0]);
            ::close(pipe_ends[1]);
            renderer_.reset();
        }
    }
    if (elsewhere >= 0) {
        ::dup2(elsewhere, STDOUT_FILENO);
        ::close(elsewhere);
    }
}

LibraryStdout::~LibraryStdout() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    // Putting stdout back closes the pipe's last writing end: the reader
    // shows what is left and ends, before the host prints its own lines.
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
    if (renderer_) {
        renderer_->reader.join();
        ::close(renderer_->pipe_end);
        ::close(renderer_->shown_on);
    }
}

}  // namespace tintwell_cli
