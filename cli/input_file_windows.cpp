// Windows: the input is held open against writers from the check to the
// call, and the library gets its name as given. A stream is copied into a
// temporary file of this program's, removed when the edit is done.
#include <windows.h>

#include <io.h>

#include <algorithm>
#include <filesystem>
#include <utility>

#include "input_file.h"
#include "safe_output.h"
#include "text_windows.h"
#include "utf16.h"

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

bool SameState(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.nFileSizeHigh == b.nFileSizeHigh && a.nFileSizeLow == b.nFileSizeLow &&
           a.ftLastWriteTime.dwLowDateTime == b.ftLastWriteTime.dwLowDateTime &&
           a.ftLastWriteTime.dwHighDateTime == b.ftLastWriteTime.dwHighDateTime &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace

struct InputFile::State {
    Handle file;  // shared for reading only: no one writes it until the call is done
    FileKind kind = FileKind::kOther;
    std::uint64_t size = 0;
    std::vector<std::uint8_t> read_so_far;  // a stream's bytes that ReadFirstBytes took
    std::string captured_name;              // a stream's copy, removed at the end
    bool nameless = false;                  // a descriptor, whose name the library cannot know
    BY_HANDLE_FILE_INFORMATION watched{};

    ~State() {
        file.Close();
        if (!captured_name.empty()) ::DeleteFileW(Wide(captured_name).c_str());
    }

    void Describe() {
        kind = KindOf(file.get());
        LARGE_INTEGER length{};
        if (kind == FileKind::kRegular && ::GetFileSizeEx(file.get(), &length)) {
            size = static_cast<std::uint64_t>(length.QuadPart);
        }
    }
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
    state->Describe();
    return InputFile(std::move(state));
}

std::optional<InputFile> InputFile::OpenDescriptor(int fd, OpenFailure& failure) {
    auto state = std::make_unique<State>();
    HANDLE copy = INVALID_HANDLE_VALUE;
    if (!::DuplicateHandle(::GetCurrentProcess(), reinterpret_cast<HANDLE>(::_get_osfhandle(fd)),
                           ::GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        failure = {false, SystemMessage(::GetLastError())};
        return std::nullopt;
    }
    state->file = Handle(copy);
    state->nameless = true;
    state->Describe();
    return InputFile(std::move(state));
}

FileKind InputFile::kind() const { return state_->kind; }

bool InputFile::IsTerminal() const {
    DWORD mode = 0;
    return ::GetConsoleMode(state_->file.get(), &mode) != 0;
}

bool InputFile::NeedsCopy() const { return kind() != FileKind::kRegular || state_->nameless; }

std::uint64_t InputFile::size() const { return state_->size; }

FileIdentity InputFile::Identity() const {
    BY_HANDLE_FILE_INFORMATION information{};
    ::GetFileInformationByHandle(state_->file.get(), &information);
    return FileIdentity{information.dwVolumeSerialNumber,
                        (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
}

std::optional<std::vector<std::uint8_t>> InputFile::ReadFirstBytes(std::size_t count, std::string& error) {
    if (!NeedsCopy()) return ReadAt(0, count, error);
    std::vector<std::uint8_t>& bytes = state_->read_so_far;
    while (bytes.size() < count) {
        std::uint8_t chunk[4096];
        DWORD got = 0;
        const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(sizeof chunk, count - bytes.size()));
        if (!::ReadFile(state_->file.get(), chunk, wanted, &got, nullptr)) {
            if (::GetLastError() == ERROR_BROKEN_PIPE) break;  // the writer is done
            error = SystemMessage(::GetLastError());
            return std::nullopt;
        }
        if (got == 0) break;
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    return std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(count, bytes.size())));
}

std::optional<std::vector<std::uint8_t>> InputFile::ReadAt(std::uint64_t offset, std::size_t count,
                                                           std::string& error) const {
    std::vector<std::uint8_t> bytes(count);
    std::size_t done = 0;
    while (done < bytes.size()) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset + done);
        at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
        DWORD got = 0;
        if (!::ReadFile(state_->file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &got, &at)) {
            if (::GetLastError() == ERROR_HANDLE_EOF) break;
            error = SystemMessage(::GetLastError());
            return std::nullopt;
        }
        if (got == 0) break;
        done += got;
    }
    bytes.resize(done);
    return bytes;
}

std::optional<InputFile> InputFile::Scratch(std::string& folder, std::string& error) {
    wchar_t temporary_folder[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temporary_folder);
    folder = length == 0 ? "." : Narrow(std::wstring(temporary_folder, length));
    auto state = std::make_unique<State>();
    state->captured_name = Utf8Of(PathOf(folder) / (".tintwell-" + RandomSuffix() + ".tmp"));
    // Shared for reading and writing: the library opens it by name to do either.
    state->file = Handle(::CreateFileW(Wide(state->captured_name).c_str(), GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_TEMPORARY, nullptr));
    if (!state->file.valid()) {
        error = SystemMessage(::GetLastError());
        state->captured_name.clear();
        return std::nullopt;
    }
    state->Describe();
    return InputFile(std::move(state));
}

bool InputFile::Append(std::span<const std::uint8_t> bytes, std::string& error) {
    for (std::size_t done = 0; done < bytes.size();) {
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, std::size_t{1} << 30));
        DWORD wrote = 0;
        // At the end of the file, wherever ReadAt left the file pointer.
        OVERLAPPED at_end{};
        at_end.Offset = 0xFFFFFFFF;
        at_end.OffsetHigh = 0xFFFFFFFF;
        if (!::WriteFile(state_->file.get(), bytes.data() + done, chunk, &wrote, &at_end) || wrote == 0) {
            error = SystemMessage(::GetLastError());
            return false;
        }
        done += wrote;
    }
    return true;
}

std::optional<InputFile> InputFile::Capture(std::uint64_t most_bytes, bool& longer, std::string& folder,
                                            std::string& error) {
    std::optional<InputFile> copy = Scratch(folder, error);
    if (!copy) return std::nullopt;
    State* state = copy->state_.get();
    std::vector<std::uint8_t> chunk = std::move(state_->read_so_far);
    std::uint64_t total = 0;
    longer = false;
    for (;;) {
        const auto keep = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), most_bytes - total));
        longer = keep < chunk.size();
        if (!copy->Append(std::span(chunk.data(), keep), error)) return std::nullopt;
        total += keep;
        if (longer) break;
        chunk.resize(static_cast<std::size_t>(std::min<std::uint64_t>(std::size_t{1} << 20, most_bytes - total + 1)));
        DWORD got = 0;
        if (!::ReadFile(state_->file.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) &&
            ::GetLastError() != ERROR_BROKEN_PIPE) {
            error = SystemMessage(::GetLastError());
            return std::nullopt;
        }
        if (got == 0) break;
        chunk.resize(got);
    }
    state->Describe();
    return copy;
}

void InputFile::Watch() { ::GetFileInformationByHandle(state_->file.get(), &state_->watched); }

bool InputFile::ChangedSinceWatch() {
    BY_HANDLE_FILE_INFORMATION now{};
    return !::GetFileInformationByHandle(state_->file.get(), &now) || !SameState(now, state_->watched);
}

std::string InputFile::LibraryName(const std::string& given) const {
    return state_->captured_name.empty() ? given : state_->captured_name;
}

void InputFile::Close() { state_->file.Close(); }

}  // namespace tintwell_cli
