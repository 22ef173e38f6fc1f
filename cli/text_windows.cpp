#include "text_windows.h"

#include "format.h"
#include "host_messages.h"
#include "utf16.h"

namespace tintwell_cli {

std::wstring Wide(const std::string& utf8) {
    const std::u16string wide = Utf8ToUtf16(utf8).value_or(u"");
    return std::wstring(wide.begin(), wide.end());
}

std::string Narrow(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size, nullptr,
                          nullptr);
    return text;
}

std::string SystemMessage(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND: return Format(text::kNoSuchFile);
    case ERROR_PATH_NOT_FOUND: return Format(text::kPathMissing);
    case ERROR_ACCESS_DENIED: return Format(text::kPermissionDenied);
    case ERROR_SHARING_VIOLATION: return Format(text::kInUse);
    case ERROR_WRITE_PROTECT: return Format(text::kWriteProtected);
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return Format(text::kNoSpaceOnDisk);
    default: break;
    }
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
        0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message(text == nullptr ? L"" : text, length);
    ::LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ' ||
                                message.back() == L'.')) {
        message.pop_back();
    }
    return Format(text::kWindowsError, message.empty() ? Format(text::kUnknownSystemError) : Narrow(message),
                  error);
}

Handle OpenExisting(const std::string& name, DWORD access, DWORD share) {
    return Handle(::CreateFileW(Wide(name).c_str(), access, share, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

bool IsFolder(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information{};
    return ::GetFileInformationByHandle(file, &information) &&
           (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring ThisProgramPath() {
    // Long paths: grow the buffer until the whole name fits.
    std::wstring program(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size()));
        if (length == 0) return {};
        if (length < program.size()) return program.substr(0, length);
        program.resize(program.size() * 2);
    }
}

}  // namespace tintwell_cli
