// Small questions the host asks the system, answered by each platform's
// file (platform_linux.cpp, platform_windows.cpp).
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tintwell_cli {

// A file as the system knows it, whatever name or link leads to it.
struct FileIdentity {
    std::uint64_t device;
    std::uint64_t index;
    auto operator<=>(const FileIdentity&) const = default;
};

// The identity of the file that a UTF-8 name leads to; nothing when the
// name leads to no file.
std::optional<FileIdentity> IdentityOf(const std::string& name);

// The number of processors this process may run on (0 when unknown).
std::size_t ProcessorCount();

// Whether stderr is a terminal (a console), where a progress line belongs.
bool StderrIsTerminal();

}  // namespace tintwell_cli
