// What the Windows files share: UTF-8 names to the API's UTF-16, the
// system's error texts and this program's path back, and owned handles.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

namespace tintwell_cli {

// A UTF-8 name as the API takes it; names were checked to be valid UTF-8
// when the command line was read.
std::wstring Wide(const std::string& utf8);

// UTF-16 from the API as UTF-8 (a lone surrogate becomes U+FFFD).
std::string Narrow(const std::wstring& wide);

// The system's text for an error code, in the words a user expects for the
// common ones, then "(error N)".
std::string SystemMessage(DWORD error);

// The whole path of this program's own file; empty when the system cannot say.
std::wstring ThisProgramPath();

class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE handle) : handle_(handle) {}
    Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
    Handle& operator=(Handle&& other) noexcept {
        std::swap(handle_, other.handle_);
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { Close(); }

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    void Close() {
        if (valid()) ::CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE));
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens a file or folder as it is (backup semantics open folders too).
Handle OpenExisting(const std::string& name, DWORD access, DWORD share);

bool IsFolder(HANDLE file);

}  // namespace tintwell_cli
