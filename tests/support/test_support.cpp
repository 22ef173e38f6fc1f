#include "test_support.h"

#include "utf16.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tintwell_test {
namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "tintwell-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code error;
    // Some tests take write permission away; give it back so removal works.
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
    for (const auto& entry : fs::recursive_directory_iterator(path_, error)) {
        if (entry.is_directory(error)) fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
    fs::remove_all(path_, error);
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file) throw std::runtime_error("cannot write " + path);
}

std::optional<Bytes> ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::u16string Utf16(const std::string& utf8) { return tintwell_cli::Utf8ToUtf16(utf8).value(); }

StdoutCapture::StdoutCapture() {
    std::fflush(stdout);
    file_ = std::tmpfile();
    saved_ = ::dup(STDOUT_FILENO);
    ::dup2(::fileno(file_), STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture() {
    Restore();
    if (file_ != nullptr) std::fclose(file_);
}

std::string StdoutCapture::Finish() {
    Restore();
    std::string text;
    std::rewind(file_);
    for (int c; (c = std::fgetc(file_)) != EOF;) text.push_back(static_cast<char>(c));
    std::fclose(file_);
    file_ = nullptr;
    return text;
}

void StdoutCapture::Restore() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
    saved_ = -1;
}

namespace {

const TintwellChar16* Pointer(const std::optional<std::u16string>& name) {
    return name ? reinterpret_cast<const TintwellChar16*>(name->c_str()) : nullptr;
}

std::string ReadWhole(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace

CallOutcome CallTintwell(const std::optional<std::u16string>& input, const std::optional<std::u16string>& output,
                         std::int32_t amount, std::int32_t function) {
    StdoutCapture capture;
    CallOutcome outcome;
    outcome.result = Tintwell(Pointer(input), Pointer(output), amount, function);
    outcome.stdout_bytes = capture.Finish();
    return outcome;
}

CallOutcome CallTintwell(const std::string& input, const std::string& output, std::int32_t amount,
                         std::int32_t function) {
    return CallTintwell(Utf16(input), Utf16(output), amount, function);
}

namespace {

// The emulator's command words, empty in a native build.
std::vector<std::string> EmulatorWords() {
    std::vector<std::string> words;
    const std::string command = TINTWELL_TEST_EMULATOR;
    for (std::size_t start = 0; start < command.size();) {
        const std::size_t end = std::min(command.find(' ', start), command.size());
        if (end > start) words.push_back(command.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

// This process's environment without the variables that choose a language,
// and `language` instead.
std::vector<std::string> EnvironmentWith(const LanguageSettings& language) {
    std::vector<std::string> variables;
    for (const std::string& entry : CurrentEnvironment()) {
        const std::string_view name = std::string_view(entry).substr(0, entry.find('='));
        if (name == "LANGUAGE" || name == "LANG" || name.starts_with("LC_")) continue;
        variables.push_back(entry);
    }
    variables.insert(variables.end(), language.begin(), language.end());
    return variables;
}

}  // namespace

bool Emulated() { return !EmulatorWords().empty(); }

std::vector<std::string> CurrentEnvironment() {
    std::vector<std::string> variables;
    for (char** variable = environ; *variable != nullptr; ++variable) variables.emplace_back(*variable);
    return variables;
}

Launch LaunchOf(const std::vector<std::string>& argv, const std::vector<std::string>& environment) {
    Launch launch{EmulatorWords(), {}};
    const bool emulated = !launch.argv.empty();
    const std::string preload_prefix = "LD_PRELOAD=";
    for (const std::string& entry : environment) {
        if (emulated && entry.starts_with(preload_prefix)) {
            launch.argv.insert(launch.argv.end(), {"-E", entry});
        } else {
            launch.environment.push_back(entry);
        }
    }
    launch.argv.insert(launch.argv.end(), argv.begin(), argv.end());
    return launch;
}

std::vector<char*> NullTerminated(std::vector<std::string>& words) {
    std::vector<char*> pointers;
    for (std::string& word : words) pointers.push_back(word.data());
    pointers.push_back(nullptr);
    return pointers;
}

ProcessOutcome RunHost(const std::vector<std::string>& arguments, const std::string& working_directory,
                       const LanguageSettings& language) {
    TempDir capture_dir;
    const std::string out_path = capture_dir.File("stdout");
    const std::string err_path = capture_dir.File("stderr");
    std::vector<std::string> words;
    words.push_back(HostPath());
    words.insert(words.end(), arguments.begin(), arguments.end());
    Launch launch = LaunchOf(words, EnvironmentWith(language));
    const std::vector<char*> argv = NullTerminated(launch.argv);
    const std::vector<char*> environment = NullTerminated(launch.environment);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!working_directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, working_directory.c_str());
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environment.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start " + launch.argv[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);

    ProcessOutcome outcome;
    outcome.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    outcome.stdout_bytes = ReadWhole(out_path);
    outcome.stderr_bytes = ReadWhole(err_path);
    return outcome;
}

std::string HostPath() { return TINTWELL_TEST_HOST; }
std::string LibraryPath() { return TINTWELL_TEST_LIBRARY; }

std::size_t OpenDescriptorCount() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

namespace {

// The suite's own layout: good files in g/, questionable in q/, bad in b/.
bool IsBmpSuite(const fs::path& directory) {
    std::error_code error;
    return fs::is_directory(directory / "g", error);
}

}  // namespace

BmpSuiteSearch FindBmpSuite() {
    if (const char* named = std::getenv("TINTWELL_BMPSUITE"); named != nullptr && *named != '\0') {
        if (!IsBmpSuite(named)) {
            throw std::runtime_error(std::string("TINTWELL_BMPSUITE=") + named +
                                     " is not the BMP Suite's folder (it has no g/ folder)");
        }
        return {fs::path(named), ""};
    }
    const fs::path beside = (fs::path(TINTWELL_TEST_SOURCE_DIR) / ".." / "shared" / "testdata" / "bmpsuite")
                                .lexically_normal();
    if (IsBmpSuite(beside)) return {beside, ""};
    return {std::nullopt, "no BMP Suite at " + beside.string() +
                              "; set TINTWELL_BMPSUITE to its folder to run this test"};
}

bool EverythingRequired() {
    const char* required = std::getenv("TINTWELL_REQUIRE_ALL");
    return required != nullptr && std::string(required) == "1";
}

}  // namespace tintwell_test
