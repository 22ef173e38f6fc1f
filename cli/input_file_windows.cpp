// Windows: the input is held open against writers from the check to the
// call, and the library gets its name as given.
#include <windows.h>

#include <utility>

#include "input_file.h"
#include "text_windows.h"

namespace tintwell_cli {
namespace {

FileKind KindOf(HANDLE file) {
    if (IsFolder(file)) return FileKind::kDirectory;
    switch (::GetFileType(file)) {
    case FILE_TYPE_DISK: return FileKind::kRegular;
    case FILE_TYPE_PIPE: return FileKind::kPipe;
    case FILE_TYPE_CHAR: return FileKind::kCharacterDevice;
    default: return FileKind::kOther;
    }
}

}  // namespace

struct InputFile::State {
    Handle file;  // shared for reading only: no one writes it until the call is done
    FileKind kind = FileKind::kOther;
    std::uint64_t size = 0;
};

InputFile::InputFile(std::unique_ptr<State> state) : state_(std::move(state)) {}
InputFile::InputFile(InputFile&&) noexcept = default;
InputFile& InputFile::operator=(InputFile&&) noexcept = default;
InputFile::~InputFile() = default;

std::optional<InputFile> InputFile::Open(const std::string& name, OpenFailure& failure) {
    auto state = std::make_unique<State>();
    state->file = OpenExisting(name, GENERIC_READ, FILE_SHARE_READ);
    if (!state->file.valid()) {
        const DWORD error = ::GetLastError();
        failure = {error == ERROR_ACCESS_DENIED, SystemMessage(error)};
        return std::nullopt;
    }
    state->kind = KindOf(state->file.get());
    LARGE_INTEGER size{};
    if (state->kind == FileKind::kRegular && ::GetFileSizeEx(state->file.get(), &size)) {
        state->size = static_cast<std::uint64_t>(size.QuadPart);
    }
    return InputFile(std::move(state));
}

FileKind InputFile::kind() const { return state_->kind; }

std::uint64_t InputFile::size() const { return state_->size; }

std::optional<std::vector<std::uint8_t>> InputFile::ReadFirstBytes(std::size_t count, std::string& error) const {
    std::vector<std::uint8_t> bytes(count);
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        if (!::ReadFile(state_->file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &got,
                        nullptr)) {
            error = SystemMessage(::GetLastError());
            return std::nullopt;
        }
        if (got == 0) break;
        done += got;
    }
    bytes.resize(done);
    return bytes;
}

std::string InputFile::LibraryName(const std::string& given) const { return given; }

void InputFile::Close() { state_->file.Close(); }

}  // namespace tintwell_cli
