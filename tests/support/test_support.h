// Shared helpers for the tests: temporary directories, files, calling the
// real library with stdout captured, and running the real host.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "korvane/tintwell.h"
#include "messages.h"

namespace tintwell_test {

// The library's own messages: the tests expect them byte for byte, and
// messages_test.cpp pins them to their literal bytes (literal_messages.h).
using namespace korvane::messages;

using Bytes = std::vector<std::uint8_t>;

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

void WriteBytes(const std::string& path, const Bytes& bytes);
std::optional<Bytes> ReadBytes(const std::string& path);

// UTF-8 -> UTF-16 for names made by the tests, by the host's own conversion
// (the names are well-formed UTF-8).
std::u16string Utf16(const std::string& utf8);

struct CallOutcome {
    std::int32_t result = 0;
    std::string stdout_bytes;
};

// Points fd 1 at a temporary file for the life of the object (or until
// Finish, which returns every byte written there).
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;
    std::string Finish();

private:
    void Restore();
    std::FILE* file_ = nullptr;
    int saved_ = -1;
};

// Calls Tintwell with the names as given (nullopt passes a null pointer) and
// captures exactly what it prints on stdout.
CallOutcome CallTintwell(const std::optional<std::u16string>& input, const std::optional<std::u16string>& output,
                         std::int32_t amount, std::int32_t function);

// The same with UTF-8 path names.
CallOutcome CallTintwell(const std::string& input, const std::string& output, std::int32_t amount,
                         std::int32_t function);

struct ProcessOutcome {
    int exit_status = -1;
    std::string stdout_bytes;
    std::string stderr_bytes;
};

// How the build machine starts a program built here (argv[0] its path):
// directly, or, in a cross build, under the emulator (qemu-user). qemu's own
// loader would take LD_PRELOAD for itself, so there the preload goes to the
// program through qemu's -E and leaves the environment.
struct Launch {
    std::vector<std::string> argv;
    std::vector<std::string> environment;  // NAME=VALUE
};
// This process's environment (NAME=VALUE).
std::vector<std::string> CurrentEnvironment();
Launch LaunchOf(const std::vector<std::string>& argv,
                const std::vector<std::string>& environment = CurrentEnvironment());

// True in a cross build whose programs run under the emulator.
bool Emulated();

// Pointers to the strings, ending in a null pointer, as exec wants them.
std::vector<char*> NullTerminated(std::vector<std::string>& words);

// The locale the host runs under: the environment's variables that choose a
// language are replaced by these (NAME=VALUE). English unless a test asks.
using LanguageSettings = std::vector<std::string>;
inline const LanguageSettings kEnglish = {"LC_ALL=C.UTF-8"};
inline const LanguageSettings kKorean = {"LANG=ko_KR.UTF-8"};

// Runs the built tintwell host with these arguments (no shell involved).
ProcessOutcome RunHost(const std::vector<std::string>& arguments, const std::string& working_directory = "",
                       const LanguageSettings& language = kEnglish);

// Path of the built host and library, set by the build.
std::string HostPath();
std::string LibraryPath();

// The number of descriptors this process has open.
std::size_t OpenDescriptorCount();

// Where the BMP Suite (real files nobody here made) was found: the folder
// that the environment variable TINTWELL_BMPSUITE names, else
// ../shared/testdata/bmpsuite beside the source tree. Without it,
// `directory` is empty and `why_missing` says where it was looked for.
// A TINTWELL_BMPSUITE naming no suite is a mistake, not a reason to skip:
// that throws.
struct BmpSuiteSearch {
    std::optional<std::filesystem::path> directory;
    std::string why_missing;
};
BmpSuiteSearch FindBmpSuite();

// Whether TINTWELL_REQUIRE_ALL=1 (as .ci/run sets): then what CI provides
// (the BMP Suite, Chromium, /usr/bin/time, an unprivileged user) must be
// there, and a test that would skip for its lack fails instead.
bool EverythingRequired();

// Skips the test with REASON, or fails it with REASON under TINTWELL_REQUIRE_ALL=1.
#define TINTWELL_SKIP_UNLESS_REQUIRED(reason)                                                 \
    do {                                                                                      \
        if (::tintwell_test::EverythingRequired()) {                                          \
            FAIL() << "TINTWELL_REQUIRE_ALL=1, but " << (reason);                             \
        }                                                                                     \
        GTEST_SKIP() << (reason);                                                             \
    } while (false)

}  // namespace tintwell_test
