// An output that is a descriptor the host was given (stdout, stderr,
// /dev/fd/N): the library writes into a pipe, and the host copies what comes
// out of it into the descriptor as it stands, at its offset and appending
// where it was opened to append. The descriptor is never reopened,
// truncated or replaced. stream_output_linux.cpp does it with a thread.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "picture_check.h"

namespace tintwell_cli {

class StreamOutput {
public:
    // Nothing, with the system's words in `error`, when the pipe cannot be made.
    static std::optional<StreamOutput> Open(int fd, std::string& error);

    StreamOutput(StreamOutput&&) noexcept;
    StreamOutput& operator=(StreamOutput&&) noexcept;
    StreamOutput(const StreamOutput&) = delete;
    StreamOutput& operator=(const StreamOutput&) = delete;
    ~StreamOutput();

    // The name the library writes to: the pipe's writing end.
    std::string LibraryName() const;

    // Bytes after what the library wrote; false with the system's words.
    bool Append(std::span<const std::uint8_t> bytes, std::string& error);

    struct Delivered {
        std::uint64_t bytes = 0;                 // that reached the descriptor
        std::vector<std::uint8_t> first_bytes;   // the picture's header, as the library wrote it
        std::optional<std::string> error;        // why the rest did not reach it

        // Keeps what `bytes` holds of the header, as they pass.
        void NoteHeader(const std::uint8_t* passing, std::size_t count) {
            const std::size_t wanted = kPictureHeaderSize - std::min(kPictureHeaderSize, first_bytes.size());
            first_bytes.insert(first_bytes.end(), passing, passing + std::min(count, wanted));
        }
    };
    // Closes the pipe and waits until all that was written reached the
    // descriptor, or could not.
    Delivered Finish();

private:
    struct State;
    explicit StreamOutput(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace tintwell_cli
