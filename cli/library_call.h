// The one place where the host calls the library: the names converted to
// UTF-16, the library's messages where they belong, and its result code back.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "korvane/tintwell.h"

namespace tintwell_cli {

// Where the library's messages go: stdout, nowhere (-q), or stderr while
// the picture itself goes to stdout.
enum class LibraryMessages { kOnStdout, kDropped, kOnStderr };

// How they are shown: in the user's language (English renderings, except
// under Korean), or as the library prints them (--library-text).
enum class LibraryWording { kUsersLanguage, kAsPrinted };

std::int32_t CallLibrary(TintwellEntry entry, const std::string& input, const std::optional<std::string>& output,
                         std::int32_t amount, std::int32_t function, LibraryMessages messages,
                         LibraryWording wording);

// Sends what the library prints on stdout where `messages` says, for the
// life of the object. To be rendered, the messages go through a pipe that a
// thread reads as the call runs, so each appears when it is printed; the
// object's end drains it. Each platform's library_stdout file defines it.
class LibraryStdout {
public:
    LibraryStdout(LibraryMessages messages, bool rendered);
    LibraryStdout(const LibraryStdout&) = delete;
    LibraryStdout& operator=(const LibraryStdout&) = delete;
    ~LibraryStdout();

    struct Renderer;

private:
    int saved_ = -1;  // stdout while it is sent elsewhere
    std::unique_ptr<Renderer> renderer_;
};

}  // namespace tintwell_cli
