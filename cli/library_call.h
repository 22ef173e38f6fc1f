// The one place where the host calls the library: the names converted to
// UTF-16, the library's messages where they belong, and its result code back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "korvane/tintwell.h"

namespace tintwell_cli {

// Where the library's messages go: stdout as the library prints them,
// nowhere (-q), or stderr while the picture itself goes to stdout.
enum class LibraryMessages { kOnStdout, kDropped, kOnStderr };

std::int32_t CallLibrary(TintwellEntry entry, const std::string& input, const std::optional<std::string>& output,
                         std::int32_t amount, std::int32_t function, LibraryMessages messages);

// Sends what the library prints on stdout where `messages` says, for the
// life of the object. Each platform's library_stdout file defines it.
class LibraryStdout {
public:
    explicit LibraryStdout(LibraryMessages messages);
    LibraryStdout(const LibraryStdout&) = delete;
    LibraryStdout& operator=(const LibraryStdout&) = delete;
    ~LibraryStdout();

private:
    int saved_ = -1;  // stdout while it is sent elsewhere
};

}  // namespace tintwell_cli
