// The picture to edit, opened once and held open until the edit is done.
// Each platform opens and reads it (input_file_linux.cpp,
// input_file_windows.cpp) and says what went wrong in the system's words;
// what to make of it is edit_picture.cpp's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform.h"

namespace tintwell_cli {

enum class FileKind { kRegular, kDirectory, kPipe, kCharacterDevice, kBlockDevice, kSocket, kOther };

// Why a file could not be opened.
struct OpenFailure {
    bool permission_denied = false;
    std::string error;  // the system's words
};

class InputFile {
public:
    // Opens `name` for reading without waiting on a pipe; nothing when it
    // cannot be opened.
    static std::optional<InputFile> Open(const std::string& name, OpenFailure& failure);
    // Reads from descriptor `fd`, which the host was given open (stdin...).
    static std::optional<InputFile> OpenDescriptor(int fd, OpenFailure& failure);

    InputFile(InputFile&&) noexcept;
    InputFile& operator=(InputFile&&) noexcept;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();

    FileKind kind() const;
    bool IsTerminal() const;
    // Whether the library cannot read it where it stands: a stream, or (on
    // Windows) a descriptor that has no name the library could open.
    bool NeedsCopy() const;
    // The length of a regular file; 0 for anything else.
    std::uint64_t size() const;
    FileIdentity Identity() const;

    // The file's first `count` bytes (fewer when it is shorter); nothing,
    // with the system's words in `error`, when reading fails. A stream is
    // read on from where it stands, and what is read is kept for Capture.
    std::optional<std::vector<std::uint8_t>> ReadFirstBytes(std::size_t count, std::string& error);

    // `count` bytes of a regular file from `offset` (fewer where it ends).
    std::optional<std::vector<std::uint8_t>> ReadAt(std::uint64_t offset, std::size_t count, std::string& error) const;

    // A stream's bytes, those read so far and the rest up to `most_bytes` in
    // all, in a private regular file that no one else can open (under
    // $TMPDIR, else /tmp: `folder`). `longer` says that more followed.
    std::optional<InputFile> Capture(std::uint64_t most_bytes, bool& longer, std::string& folder,
                                     std::string& error);

    // An empty private file, as Capture makes one, that the host fills with
    // Append and the library reads or writes by LibraryName: the 24-bit
    // copies through which the host edits the other kinds of BMP file.
    static std::optional<InputFile> Scratch(std::string& folder, std::string& error);
    // Writes `bytes` at the end of a Scratch file; false with the system's words.
    bool Append(std::span<const std::uint8_t> bytes, std::string& error);

    // From now on, notes every write to the file, and its size and times,
    // so that ChangedSinceWatch can tell whether anyone changed it. The
    // answer is given once: the watch ends there.
    void Watch();
    bool ChangedSinceWatch();

    // The name under which the library reads this very file.
    std::string LibraryName(const std::string& given) const;

    // Lets go of the file: the replacement may then delete it, when the
    // output is this very file.
    void Close();

private:
    struct State;
    explicit InputFile(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace tintwell_cli
