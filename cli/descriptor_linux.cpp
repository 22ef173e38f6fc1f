#include "descriptor_linux.h"

#include <cctype>
#include <cerrno>
#include <cstring>

#include "format.h"
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
    case ENOENT: return Format(text::kNoSuchFile);
    case EACCES:
    case EPERM: return Format(text::kPermissionDenied);
    case EROFS: return Format(text::kReadOnlyFileSystem);
    case ENOTDIR: return Format(text::kNotADirectoryOnPath);
    case ENOSPC: return Format(text::kNoSpaceOnDevice);
    default: {
        std::string words = std::strerror(error);
        if (!words.empty()) words[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(words[0])));
        return words;
    }
    }
}

}  // namespace tintwell_cli
