#include "hardening_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#else
#define RUNNING_ON_VALGRIND 0
#endif

namespace tintwell_test {
namespace {

// Leaves a forked child without running the parent's exit handlers, except
// in coverage builds: there exit() writes the counters of the test program
// and of the library, which the child's calls would otherwise not count. A
// child that dropped its privileges could not update the counters' files.
[[noreturn]] void ExitChild(int status, [[maybe_unused]] const ChildLimits& limits) {
#ifdef TINTWELL_COVERAGE
    if (!limits.as_nobody) std::exit(status);
#endif
    ::_exit(status);
}

struct User {
    uid_t uid;
    gid_t gid;
};

std::optional<User> Nobody() {
    const passwd* entry = ::getpwnam("nobody");
    if (entry == nullptr) return std::nullopt;
    return User{entry->pw_uid, entry->pw_gid};
}

// Runs in the child between fork and the work: false when a limit could not
// be applied. Only async-signal-safe calls.
bool ApplyLimits(const ChildLimits& limits, const std::optional<User>& nobody) {
    if (limits.address_space) {
        const rlimit limit{*limits.address_space, *limits.address_space};
        if (::setrlimit(RLIMIT_AS, &limit) != 0) return false;
    }
    if (limits.as_nobody && ::geteuid() == 0) {
        if (!nobody || ::setgroups(0, nullptr) != 0 || ::setgid(nobody->gid) != 0 || ::setuid(nobody->uid) != 0) {
            return false;
        }
    }
    return true;
}

void RedirectTo(const std::string& path, int descriptor) {
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (file < 0 || ::dup2(file, descriptor) < 0) ::_exit(96);
    ::close(file);
}

std::string ReadWhole(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

constexpr int kLimitsFailed = 97;

int WaitForExit(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    const int exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (exit_status == kLimitsFailed) throw std::runtime_error("the child could not apply its limits");
    return exit_status;
}

}  // namespace

std::size_t MappingCount() {
    std::ifstream maps("/proc/self/maps");
    std::size_t count = 0;
    for (std::string line; std::getline(maps, line);) ++count;
    return count;
}

bool MappingsCanBeCounted() { return !kSanitized && !RUNNING_ON_VALGRIND; }

bool CanDropPrivileges() { return ::geteuid() == 0 && Nobody().has_value(); }

CallOutcome CallTintwellInChild(const ChildLimits& limits, const std::string& input, const std::string& output,
                                std::int32_t amount, std::int32_t function) {
    TempDir capture;
    const std::string stdout_path = capture.File("stdout");
    const std::u16string input16 = Utf16(input);
    const std::u16string output16 = Utf16(output);
    const std::optional<User> nobody = Nobody();
    int result_pipe[2];
    if (::pipe(result_pipe) != 0) throw std::runtime_error("pipe failed");
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(result_pipe[0]);
        if (limits.stdout_closed) {
            ::close(STDOUT_FILENO);
            std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
        } else {
            RedirectTo(stdout_path, STDOUT_FILENO);
        }
        if (!ApplyLimits(limits, nobody)) ::_exit(kLimitsFailed);
        const std::int32_t result = Tintwell(input16.c_str(), output16.c_str(), amount, function);
        std::fflush(stdout);
        const bool reported = ::write(result_pipe[1], &result, sizeof result) == sizeof result;
        ExitChild(reported ? 0 : 1, limits);
    }
    ::close(result_pipe[1]);
    CallOutcome outcome;
    const bool received = ::read(result_pipe[0], &outcome.result, sizeof outcome.result) == sizeof outcome.result;
    ::close(result_pipe[0]);
    if (WaitForExit(pid) != 0 || !received) throw std::runtime_error("the child did not report a result");
    outcome.stdout_bytes = ReadWhole(stdout_path);
    return outcome;
}

ProcessOutcome RunProgramInChild(const ChildLimits& limits, const std::vector<std::string>& argv,
                                 const std::string& working_directory) {
    TempDir capture;
    const std::string stdout_path = capture.File("stdout");
    const std::string stderr_path = capture.File("stderr");
    Launch launch = LaunchOf(argv);
    const std::vector<char*> pointers = NullTerminated(launch.argv);
    const std::vector<char*> environment = NullTerminated(launch.environment);
    const std::optional<User> nobody = Nobody();
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        RedirectTo("/dev/null", STDIN_FILENO);
        RedirectTo(stdout_path, STDOUT_FILENO);
        RedirectTo(stderr_path, STDERR_FILENO);
        if (::chdir(working_directory.c_str()) != 0 || !ApplyLimits(limits, nobody)) ::_exit(kLimitsFailed);
        ::execvpe(pointers[0], pointers.data(), environment.data());
        ::_exit(127);
    }
    ProcessOutcome outcome;
    outcome.exit_status = WaitForExit(pid);
    outcome.stdout_bytes = ReadWhole(stdout_path);
    outcome.stderr_bytes = ReadWhole(stderr_path);
    return outcome;
}

ScopedEnvironment::ScopedEnvironment(std::vector<std::pair<std::string, std::string>> values) {
    for (const auto& [name, value] : values) {
        const char* old = std::getenv(name.c_str());
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        ::setenv(name.c_str(), value.c_str(), 1);
    }
}

ScopedEnvironment::~ScopedEnvironment() {
    for (const auto& [name, value] : saved_) {
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }
}

void FeedSlowly(const std::string& fifo, const Bytes& bytes, std::size_t chunk) {
    const int descriptor = ::open(fifo.c_str(), O_WRONLY);
    if (descriptor < 0) return;
    for (std::size_t offset = 0; offset < bytes.size(); offset += chunk) {
        const std::size_t size = std::min(chunk, bytes.size() - offset);
        if (::write(descriptor, bytes.data() + offset, size) != static_cast<ssize_t>(size)) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ::close(descriptor);
}

int HostExitStatus(std::int32_t result) {
    return result == TINTWELL_RESULT_WRITTEN || result == TINTWELL_RESULT_EXITED ? 0 : 2;
}

std::vector<std::string> RawArguments(std::int32_t function, std::int32_t amount, const std::string& input,
                                      const std::string& output) {
    return {"raw", std::to_string(function), std::to_string(amount), input, output};
}

}  // namespace tintwell_test
