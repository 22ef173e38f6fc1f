#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "library_call.h"
#include "library_messages.h"

namespace tintwell_cli {
namespace {

constexpr unsigned kPipeSize = 64 * 1024;

void WriteAll(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const int wrote = ::_write(fd, text.data() + done, static_cast<unsigned>(text.size() - done));
        if (wrote <= 0) return;  // where the messages went is gone: they are dropped
        done += static_cast<std::size_t>(wrote);
    }
}

}  // namespace

// Reads the pipe that stands in for stdout and writes each message, in the
// user's language, where the messages go.
struct LibraryStdout::Renderer {
    int pipe_end = -1;  // the reading end
    int shown_on = -1;  // where the rendered messages go
    HANDLE reader = nullptr;

    static DWORD WINAPI Read(void* self) {
        const auto* renderer_state = static_cast<const Renderer*>(self);
        LibraryMessageRenderer renderer;
        char buffer[4096];
        for (;;) {
            const int got = ::_read(renderer_state->pipe_end, buffer, sizeof buffer);
            if (got <= 0) break;
            WriteAll(renderer_state->shown_on, renderer.Take(std::string_view(buffer, static_cast<std::size_t>(got))));
        }
        WriteAll(renderer_state->shown_on, renderer.Finish());
        return 0;
    }
};

LibraryStdout::LibraryStdout(LibraryMessages messages, bool rendered) {
    if (messages == LibraryMessages::kOnStdout && !rendered) return;
    std::fflush(stdout);
    saved_ = ::_dup(1);
    int elsewhere = -1;
    if (messages == LibraryMessages::kDropped) {
        elsewhere = ::_open("NUL", _O_WRONLY | _O_BINARY | _O_NOINHERIT);
    } else {
        elsewhere = ::_dup(messages == LibraryMessages::kOnStderr ? 2 : 1);
    }
    int pipe_ends[2] = {-1, -1};
    if (rendered && elsewhere >= 0 && ::_pipe(pipe_ends, kPipeSize, _O_BINARY | _O_NOINHERIT) == 0) {
        renderer_ = std::make_unique<Renderer>();
        renderer_->pipe_end = pipe_ends[0];
        renderer_->shown_on = elsewhere;
        renderer_->reader = ::CreateThread(nullptr, 0, &Renderer::Read, renderer_.get(), 0, nullptr);
        if (renderer_->reader == nullptr) {
            // No thread to read the pipe: the messages go out as printed.
            ::_close(pipe_ends[0]);
            ::_close(pipe_ends[1]);
            renderer_.reset();
        } else {
            elsewhere = pipe_ends[1];
        }
    }
    if (elsewhere >= 0) {
        ::_dup2(elsewhere, 1);
        ::_close(elsewhere);
    }
}

LibraryStdout::~LibraryStdout() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    // Putting stdout back closes the pipe's last writing end: the reader
    // shows what is left and ends, before the host prints its own lines.
    ::_dup2(saved_, 1);
    ::_close(saved_);
    if (renderer_) {
        ::WaitForSingleObject(renderer_->reader, INFINITE);
        ::CloseHandle(renderer_->reader);
        ::_close(renderer_->pipe_end);
        ::_close(renderer_->shown_on);
    }
}

}  // namespace tintwell_cli
