// An output that is a descriptor the host was given (stdout, stderr,
// /dev/fd/N): the library writes into a pipe, and the host copies what comes
// out of it into the descriptor as it stands, at its offset and appending
// where it was opened to append. The descriptor is never reopened,
// truncated or replaced. stream_output_linux.cpp does it with a thread.
// The same pipe hands the library's picture to the host itself, a piece at
// a time, when the host writes the picture in another kind.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "picture_check.h"

namespace tintwell_cli {

// Where bytes go, a piece at a time; false with the system's words.
using Appender = std::function<bool(std::span<const std::uint8_t>, std::string&)>;

class StreamOutput {
public:
    // Nothing, with the system's words in `error`, when the pipe cannot be made.
    static std::optional<StreamOutput> Open(int fd, std::string& error);
    // The library's picture handed to `deliver` instead of a descriptor:
    // on Linux as it is written, on Windows once the call is done.
    static std::optional<StreamOutput> OpenInto(Appender deliver, std::string& error);

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
        std::uint64_t bytes = 0;                 // that reached the descriptor (or `deliver`)
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
    // Makes the pipe (or the file) and what empties it into the state's `deliver`.
    static std::optional<StreamOutput> StartCopier(std::unique_ptr<State> state, std::string& error);
    std::unique_ptr<State> state_;
};

}  // namespace tintwell_cli
