#include "stream_names.h"

#include <charconv>
#include <string_view>

#include "format.h"
#include "host_messages.h"

namespace tintwell_cli {
namespace {

// N in PREFIX + "N", where N is a descriptor number.
std::optional<int> NumberAfter(std::string_view name, std::string_view prefix) {
    if (!name.starts_with(prefix) || name.size() == prefix.size()) return std::nullopt;
    name.remove_prefix(prefix.size());
    int fd = -1;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), fd);
    if (error != std::errc() || end != name.data() + name.size() || fd < 0) return std::nullopt;
    return fd;
}

}  // namespace

std::optional<int> DescriptorNamed(const std::string& name, bool as_output) {
    if (name == kStandardStreamName) return as_output ? 1 : 0;
    if (name == "/dev/stdin") return 0;
    if (name == "/dev/stdout") return 1;
    if (name == "/dev/stderr") return 2;
    for (const std::string_view prefix : {"/dev/fd/", "/proc/self/fd/", "/proc/thread-self/fd/"}) {
        if (const std::optional<int> fd = NumberAfter(name, prefix)) return fd;
    }
    return std::nullopt;
}

std::string DescriptorWords(int fd) {
    switch (fd) {
    case 0: return Format(text::kStreamStdin);
    case 1: return Format(text::kStreamStdout);
    case 2: return Format(text::kStreamStderr);
    default: return Format(text::kStreamDescriptor, fd);
    }
}

}  // namespace tintwell_cli
