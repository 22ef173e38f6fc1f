// Helpers of the hardening tests: running the
// library or the host in a child process under dropped privileges or a
// memory limit, and running the host with changed environment variables.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "test_support.h"

namespace tintwell_test {

// The sanitizers reserve terabytes of address space and keep their own
// allocator, so address-space limits and heap counts only work without them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

// The number of mappings in this process's address space.
std::size_t MappingCount();

// False where the mappings are not the program's own to count: under the
// sanitizers and under valgrind.
bool MappingsCanBeCounted();

// What a child process runs under.
struct ChildLimits {
    bool as_nobody = false;                 // drop root's privileges first (no-op when not root)
    std::optional<rlim_t> address_space;    // RLIMIT_AS in bytes
    bool stdout_closed = false;             // fd 1 closed, stdout line-buffered
};

// True when this process can drop to the unprivileged user (it runs as root).
bool CanDropPrivileges();

// Calls Tintwell in a forked child under the limits; stdout captured unless
// it is closed.
CallOutcome CallTintwellInChild(const ChildLimits& limits, const std::string& input, const std::string& output,
                                std::int32_t amount, std::int32_t function);

// Runs a program (argv[0] is its path) in a forked child under the limits.
ProcessOutcome RunProgramInChild(const ChildLimits& limits, const std::vector<std::string>& argv,
                                 const std::string& working_directory);

// Sets environment variables for the life of the object (the host inherits
// them; this process has read its own long before).
class ScopedEnvironment {
public:
    ScopedEnvironment(std::vector<std::pair<std::string, std::string>> values);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Opens the FIFO for writing and feeds it the bytes `chunk` at a time, with a
// short pause after each, then closes it: a slow writer on the other end.
void FeedSlowly(const std::string& fifo, const Bytes& bytes, std::size_t chunk);

// The host's exit status for a result code.
int HostExitStatus(std::int32_t result);

// The host's `raw` form of one call.
std::vector<std::string> RawArguments(std::int32_t function, std::int32_t amount, const std::string& input,
                                      const std::string& output);

}  // namespace tintwell_test
