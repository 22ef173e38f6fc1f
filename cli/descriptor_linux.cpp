#include "descriptor_linux.h"

#include <cctype>
#include <cerrno>
#include <cstring>

#include "host_messages.h"

namespace tintwell_cli {

bool WriteAll(int fd, const void* bytes, std::size_t count) {
    const auto* at = static_cast<const char*>(bytes);
    while (count > 0) {
        const ssize_t wrote = ::write(fd, at, count);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote < 0) return false;
        at += wrote;
        count -= static_cast<std::size_t>(wrote);
    }
    return true;
}

std::string DescriptorName(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

std::string ErrnoWords(int error) {
    switch (error) {
    case ENOENT: return std::string(text::kNoSuchFile);
    case EACCES:
    case EPERM: return std::string(text::kPermissionDenied);
    case EROFS: return std::string(text::kReadOnlyFileSystem);
    case ENOTDIR: return std::string(text::kNotADirectoryOnPath);
    case ENOSPC: return std::string(text::kNoSpaceOnDevice);
    default: {
        std::string words = std::strerror(error);
        if (!words.empty()) words[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(words[0])));
        return words;
    }
    }
}

}  // namespace tintwell_cli
