// Windows: the library writes the picture into a temporary file of this
// program's, and the host copies it into the descriptor (or hands it to
// `deliver`) when the call is done, at the descriptor's position (or end,
// where it appends).
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
    Appender deliver;  // where each piece of the temporary goes
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
    const auto target = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    return OpenInto(
        [target](std::span<const std::uint8_t> bytes, std::string& why) {
            DWORD wrote = 0;
            const auto count = static_cast<DWORD>(bytes.size());
            if (::WriteFile(target, bytes.data(), count, &wrote, nullptr) && wrote == count) return true;
            why = SystemMessage(::GetLastError());
            return false;
        },
        error);
}

std::optional<StreamOutput> StreamOutput::OpenInto(Appender deliver, std::string& error) {
    auto state = std::make_unique<State>();
    state->deliver = std::move(deliver);
    return StartCopier(std::move(state), error);
}

std::optional<StreamOutput> StreamOutput::StartCopier(std::unique_ptr<State> state, std::string& error) {
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
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
    std::array<std::uint8_t, 1 << 16> buffer;
    DWORD got = 0;
    while (file.valid() && ::ReadFile(file.get(), buffer.data(), buffer.size(), &got, nullptr) && got > 0) {
        delivered.NoteHeader(buffer.data(), got);
        if (delivered.error) continue;
        std::string error;
        if (state_->deliver(std::span(buffer.data(), got), error)) {
            delivered.bytes += got;
        } else {
            delivered.error = std::move(error);
        }
    }
    return delivered;
}

}  // namespace tintwell_cli
