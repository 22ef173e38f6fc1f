// The picture to edit, opened once and held open until the edit is done.
// Each platform opens and reads it (input_file_linux.cpp,
// input_file_windows.cpp) and says what went wrong in the system's words;
// what to make of it is edit_picture.cpp's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

    InputFile(InputFile&&) noexcept;
    InputFile& operator=(InputFile&&) noexcept;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();

    FileKind kind() const;
    // The length of a regular file; 0 for anything else.
    std::uint64_t size() const;

    // The file's first `count` bytes (fewer when it is shorter); nothing,
    // with the system's words in `error`, when reading fails.
    std::optional<std::vector<std::uint8_t>> ReadFirstBytes(std::size_t count, std::string& error) const;

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
