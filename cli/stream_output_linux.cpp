#include <cerrno>
#include <csignal>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include "descriptor_linux.h"
#include "stream_output.h"

namespace tintwell_cli {
namespace {

// What the pipe holds and the copier reads at a time: the library's window.
constexpr std::size_t kPipeBytes = std::size_t{1} << 20;

}  // namespace

struct StreamOutput::State {
    Descriptor target;   // a copy of the descriptor the picture goes to, if one
    Appender deliver;    // where each piece read from the pipe goes
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
        std::vector<std::uint8_t> buffer(kPipeBytes);
        for (;;) {
            const ssize_t got = ::read(reading.get(), buffer.data(), buffer.size());
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            const auto count = static_cast<std::size_t>(got);
            delivered.NoteHeader(buffer.data(), count);
            if (delivered.error) continue;
            std::string error;
            if (deliver(std::span(buffer.data(), count), error)) {
                delivered.bytes += count;
            } else {
                delivered.error = std::move(error);
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
    state->target = Descriptor(::fcntl(fd, F_DUPFD_CLOEXEC, 3));
    if (!state->target.valid()) {
        error = ErrnoWords(errno);
        return std::nullopt;
    }
    state->deliver = [target = state->target.get()](std::span<const std::uint8_t> bytes, std::string& why) {
        if (WriteAll(target, bytes.data(), bytes.size())) return true;
        why = ErrnoWords(errno);
        return false;
    };
    return StartCopier(std::move(state), error);
}

std::optional<StreamOutput> StreamOutput::OpenInto(Appender deliver, std::string& error) {
    auto state = std::make_unique<State>();
    state->deliver = std::move(deliver);
    return StartCopier(std::move(state), error);
}

std::optional<StreamOutput> StreamOutput::StartCopier(std::unique_ptr<State> state, std::string& error) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        error = ErrnoWords(errno);
        return std::nullopt;
    }
    state->reading = Descriptor(ends[0]);
    state->writing = Descriptor(ends[1]);
    // A larger pipe takes the library's writes in fewer turns of the
    // threads; where the system refuses, the pipe keeps its default size.
    ::fcntl(state->writing.get(), F_SETPIPE_SZ, static_cast<int>(kPipeBytes));
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
