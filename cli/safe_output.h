// Where the edited picture goes. A regular output is written to a temporary
// beside it, which replaces it only when the edit succeeded, so that no
// failure, kill or crash loses a picture; anything else (/dev/null, a pipe,
// the host's own stdout) is written where it stands. Each platform does the
// system calls (safe_output_linux.cpp, safe_output_windows.cpp) and says
// what went wrong as a message; nothing here prints.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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
    bool Append(const std::vector<std::uint8_t>& bytes, std::string& error);

    // Where the output's file system has less room than `bytes`, the
    // system's words for that; nothing otherwise.
    std::optional<std::string> ShortOfRoom(std::uint64_t bytes) const;

    // Puts the edited copy in the output's place, keeping the replaced
    // file's attributes. Nothing on success, with anything worth saying
    // about it in `remarks`; else the reason, and the output is as it was.
    std::optional<Message> Commit(bool sync, std::vector<Message>& remarks);

private:
    struct State;
    explicit SafeOutput(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// Six random letters and digits, for a temporary's name.
std::string RandomSuffix();

}  // namespace tintwell_cli
