// Where the edited picture goes. A regular output is written to a temporary
// beside it, which replaces it only when the edit succeeded, so that no
// failure, kill or crash loses a picture; anything else (/dev/null, a pipe,
// the host's own stdout) is written where it stands. Each platform does the
// system calls (safe_output_linux.cpp, safe_output_windows.cpp) and says
// what went wrong as a message; nothing here prints.
//
// Also here: the new files of `tintwell demo`, which never replace anything
// (NewFilesDirectory, OnlyNewOutputs).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "outcome.h"

namespace tintwell_cli {

// What a replaced output keeps of the file it replaces, for --help.
extern const std::string_view kReplacementKeeps;

class SafeOutput {
public:
    // Nothing, with the reason in `problem`, when the output cannot be
    // written safely. `needed_bytes` is the room the edited copy takes.
    static std::optional<SafeOutput> Prepare(const std::string& output, std::uint64_t needed_bytes,
                                             Message& problem);

    SafeOutput(SafeOutput&&) noexcept;
    SafeOutput& operator=(SafeOutput&&) noexcept;
    SafeOutput(const SafeOutput&) = delete;
    SafeOutput& operator=(const SafeOutput&) = delete;
    ~SafeOutput();  // removes a temporary that was not committed

    // The name the library writes to.
    std::string LibraryName() const;
    bool IsReplaced() const;

    // The first bytes the library wrote, where they can be read back (not
    // from a device); nothing otherwise.
    std::optional<std::vector<std::uint8_t>> ReadFirstBytes(std::size_t count) const;

    // Bytes after what the library wrote; false with the system's words.
    bool Append(std::span<const std::uint8_t> bytes, std::string& error);

    // Where the output's file system has less room than `bytes`, the
    // system's words for that; nothing otherwise.
    std::optional<std::string> ShortOfRoom(std::uint64_t bytes) const;

    struct Committed {
        std::optional<Message> failure;  // why not: the output is as it was
        std::vector<Message> remarks;    // said about an output put in place all the same
        bool durable = true;             // false: put in place, but --sync could not be done

        static Committed Not(Message why) { return Committed{std::move(why), {}, true}; }
    };
    // Puts the edited copy in the output's place, keeping exactly the
    // replaced file's attributes (a new output keeps what it was made
    // with). One call, so that the policy's checks all come before it.
    Committed Commit(bool sync);

private:
    struct State;
    explicit SafeOutput(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// While one of these lives, every output is a new file: Prepare refuses an
// output that exists (a link to anything included), and Commit puts the
// edited copy under its name only if the name is still free, never
// replacing a file made meanwhile. `tintwell demo` edits this way. One at a
// time, on the host's one thread.
class OnlyNewOutputs {
public:
    OnlyNewOutputs();
    OnlyNewOutputs(const OnlyNewOutputs&) = delete;
    OnlyNewOutputs& operator=(const OnlyNewOutputs&) = delete;
    ~OnlyNewOutputs();
};

// A directory that only gets new files: one made here, or one that exists
// and is empty (DIR may be a link to it). It becomes the current directory.
class NewFilesDirectory {
public:
    // Nothing, with the reason in `problem`, when `path` cannot be made
    // and is not an empty directory.
    static std::optional<NewFilesDirectory> Enter(const std::string& path, Message& problem);

    NewFilesDirectory(NewFilesDirectory&&) noexcept;
    NewFilesDirectory& operator=(NewFilesDirectory&&) noexcept;
    NewFilesDirectory(const NewFilesDirectory&) = delete;
    NewFilesDirectory& operator=(const NewFilesDirectory&) = delete;
    ~NewFilesDirectory();

    // Writes `bytes` to a new file `name` (a plain name) in the directory,
    // made exclusively and never through a link; why, in words, when it
    // cannot.
    std::optional<std::string> Write(const std::string& name, std::string_view bytes) const;

private:
    struct State;
    explicit NewFilesDirectory(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// Six random letters and digits, for a temporary's name.
std::string RandomSuffix();

// Whether OnlyNewOutputs is in force (safe_output.cpp).
bool OnlyNewOutputsInForce();

}  // namespace tintwell_cli
