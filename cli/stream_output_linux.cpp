#include <array>
#include <cerrno>
#include <csignal>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include "descriptor_linux.h"
#include "stream_output.h"

namespace tintwell_cli {

struct StreamOutput::State {
    Descriptor target;   // a copy of the descriptor the picture goes to
    Descriptor reading;  // the pipe's ends
    Descriptor writing;
    std::thread copier;
    Delivered delivered;
    bool finished = false;

    // Runs on its own thread until the pipe is closed; after a failed
    // write it reads on without writing, so that the library never blocks.
    void Copy() {
        sigset_t pipe_signal;
        sigemptyset(&pipe_signal);
        sigaddset(&pipe_signal, SIGPIPE);
        // A reader that went away fails the write (EPIPE) instead of ending the host.
        ::pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
        std::array<std::uint8_t, 1 << 16> buffer;
        for (;;) {
            const ssize_t got = ::read(reading.get(), buffer.data(), buffer.size());
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            const auto count = static_cast<std::size_t>(got);
            delivered.NoteHeader(buffer.data(), count);
            if (delivered.error) continue;
            if (WriteAll(target.get(), buffer.data(), count)) {
                delivered.bytes += count;
            } else {
                delivered.error = ErrnoWords(errno);
            }
        }
    }
};

StreamOutput::StreamOutput(std::unique_ptr<State> state) : state_(std::move(state)) {}
StreamOutput::StreamOutput(StreamOutput&&) noexcept = default;
StreamOutput& StreamOutput::operator=(StreamOutput&&) noexcept = default;

StreamOutput::~StreamOutput() {
    if (state_ && !state_->finished) Finish();
}

std::optional<StreamOutput> StreamOutput::Open(int fd, std::string& error) {
    auto state = std::make_unique<State>();
    int ends[2];
    state->target = Descriptor(::fcntl(fd, F_DUPFD_CLOEXEC, 3));
    if (!state->target.valid() || ::pipe2(ends, O_CLOEXEC) != 0) {
        error = ErrnoWords(errno);
        return std::nullopt;
    }
    state->reading = Descriptor(ends[0]);
    state->writing = Descriptor(ends[1]);
    state->copier = std::thread(&State::Copy, state.get());
    return StreamOutput(std::move(state));
}

std::string StreamOutput::LibraryName() const { return DescriptorName(state_->writing.get()); }

bool StreamOutput::Append(std::span<const std::uint8_t> bytes, std::string& error) {
    if (WriteAll(state_->writing.get(), bytes.data(), bytes.size())) return true;
    error = ErrnoWords(errno);
    return false;
}

StreamOutput::Delivered StreamOutput::Finish() {
    state_->finished = true;
    state_->writing.Close();
    if (state_->copier.joinable()) state_->copier.join();
    return state_->delivered;
}

}  // namespace tintwell_cli
