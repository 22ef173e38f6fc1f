// Names that stand for a descriptor the host already holds, rather than a
// file to open: "-" (stdin as an input, stdout as an output), /dev/stdin,
// /dev/stdout, /dev/stderr, /dev/fd/N and /proc/self/fd/N. Opening such a
// name again would start at byte 0 and lose an append, so the host reads
// and writes the descriptor itself.
#pragma once

#include <optional>
#include <string>

namespace tintwell_cli {

inline constexpr char kStandardStreamName[] = "-";
inline constexpr int kStdoutDescriptor = 1;

// The descriptor `name` stands for; nothing for the name of a file.
std::optional<int> DescriptorNamed(const std::string& name, bool as_output);

// How a descriptor is named in a message: "stdin", "stdout", "stderr" or
// "descriptor N".
std::string DescriptorWords(int fd);

}  // namespace tintwell_cli
