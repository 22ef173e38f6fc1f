#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include "platform.h"
#include "text_windows.h"

namespace tintwell_cli {

std::optional<FileIdentity> IdentityOf(const std::string& name) {
    // Backup semantics: a folder opens too. No access is asked for, so a
    // file open elsewhere without sharing is still identified.
    const HANDLE file = ::CreateFileW(Wide(name).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION information{};
    const bool known = ::GetFileInformationByHandle(file, &information) != 0;
    ::CloseHandle(file);
    if (!known) return std::nullopt;
    return FileIdentity{information.dwVolumeSerialNumber,
                        (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
}

std::size_t ProcessorCount() {
    DWORD_PTR process_mask = 0, system_mask = 0;
    if (!::GetProcessAffinityMask(::GetCurrentProcess(), &process_mask, &system_mask)) return 0;
    std::size_t count = 0;
    for (; process_mask != 0; process_mask &= process_mask - 1) ++count;
    return count;
}

namespace {
bool g_closed_at_start[3] = {};
}  // namespace

void HoldStandardStreams() {
    for (int fd = 0; fd < 3; ++fd) {
        if (::_get_osfhandle(fd) != -1) continue;
        g_closed_at_start[fd] = true;
        const int null = ::_open("NUL", fd == 0 ? _O_RDONLY : _O_WRONLY);
        if (null >= 0 && null != fd) {
            ::_dup2(null, fd);
            ::_close(null);
        }
    }
}

bool WasClosedAtStart(int fd) { return fd >= 0 && fd < 3 && g_closed_at_start[fd]; }

bool IsOpenDescriptor(int fd) { return ::_get_osfhandle(fd) != -1; }

bool IsTerminalDescriptor(int fd) {
    DWORD mode = 0;
    return ::GetConsoleMode(reinterpret_cast<HANDLE>(::_get_osfhandle(fd)), &mode) != 0;
}

std::optional<FileIdentity> IdentityOfDescriptor(int fd) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(reinterpret_cast<HANDLE>(::_get_osfhandle(fd)), &information)) {
        return std::nullopt;
    }
    return FileIdentity{information.dwVolumeSerialNumber,
                        (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
}

// The library gets the names as given, and the C runtime's limit is far.
bool HeldFilesHaveNames() { return true; }
bool HasFreeDescriptors(int) { return true; }

bool StderrIsTerminal() {
    DWORD mode = 0;
    return ::GetConsoleMode(reinterpret_cast<HANDLE>(::_get_osfhandle(2)), &mode) != 0;
}

}  // namespace tintwell_cli
