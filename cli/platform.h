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

// Opens the null device on each of stdin, stdout and stderr that is closed,
// before anything else is opened, so that no file the host opens later
// takes a standard stream's number and receives what is meant for it.
void HoldStandardStreams();

// Whether standard stream `fd` (0 to 2) was closed when the host started.
bool WasClosedAtStart(int fd);

// About a descriptor the host was given: whether it is open, whether it is
// a terminal, and the file it leads to.
bool IsOpenDescriptor(int fd);
bool IsTerminalDescriptor(int fd);
std::optional<FileIdentity> IdentityOfDescriptor(int fd);

// Whether the library can open what the host hands it by name: the held
// files' names exist (/proc is mounted), and `count` more descriptors fit
// under the limit.
bool HeldFilesHaveNames();
bool HasFreeDescriptors(int count);

}  // namespace tintwell_cli
