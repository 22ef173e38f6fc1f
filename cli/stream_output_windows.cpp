// Windows: the library writes the picture into a temporary file of this
// program's, and the host copies it into the descriptor when the call is
// done, at the descriptor's position (or end, where it appends).
#include <windows.h>

#include <io.h>

#include <array>
#include <utility>

#include "safe_output.h"
#include "stream_output.h"
#include "text_windows.h"
#include "utf16.h"

namespace tintwell_cli {

struct StreamOutput::State {
    int fd = -1;
    std::string name;  // the temporary the library writes
    bool finished = false;
    ~State() {
        if (!name.empty()) ::DeleteFileW(Wide(name).c_str());
    }
};

StreamOutput::StreamOutput(std::unique_ptr<State> state) : state_(std::move(state)) {}
StreamOutput::StreamOutput(StreamOutput&&) noexcept = default;
StreamOutput& StreamOutput::operator=(StreamOutput&&) noexcept = default;
StreamOutput::~StreamOutput() = default;

std::optional<StreamOutput> StreamOutput::Open(int fd, std::string& error) {
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
    auto state = std::make_unique<State>();
    state->fd = fd;
    state->name = Utf8Of(PathOf(length == 0 ? "." : Narrow(std::wstring(folder, length))) /
                         (".tintwell-" + RandomSuffix() + ".tmp"));
    const Handle made(::CreateFileW(Wide(state->name).c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY, nullptr));
    if (!made.valid()) {
        error = SystemMessage(::GetLastError());
        state->name.clear();
        return std::nullopt;
    }
    return StreamOutput(std::move(state));
}

std::string StreamOutput::LibraryName() const { return state_->name; }

bool StreamOutput::Append(std::span<const std::uint8_t> bytes, std::string& error) {
    const Handle file(::CreateFileW(Wide(state_->name).c_str(), FILE_APPEND_DATA, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD wrote = 0;
    if (file.valid() && ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr) &&
        wrote == bytes.size()) {
        return true;
    }
    error = SystemMessage(::GetLastError());
    return false;
}

StreamOutput::Delivered StreamOutput::Finish() {
    Delivered delivered;
    state_->finished = true;
    const Handle file = OpenExisting(state_->name, GENERIC_READ, kShareAll);
    const auto target = reinterpret_cast<HANDLE>(::_get_osfhandle(state_->fd));
    std::array<std::uint8_t, 1 << 16> buffer;
    DWORD got = 0;
    while (file.valid() && ::ReadFile(file.get(), buffer.data(), buffer.size(), &got, nullptr) && got > 0) {
        delivered.NoteHeader(buffer.data(), got);
        DWORD wrote = 0;
        if (delivered.error) continue;
        if (::WriteFile(target, buffer.data(), got, &wrote, nullptr) && wrote == got) {
            delivered.bytes += got;
        } else {
            delivered.error = SystemMessage(::GetLastError());
        }
    }
    return delivered;
}

}  // namespace tintwell_cli
