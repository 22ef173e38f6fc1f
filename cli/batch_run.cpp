// Running a batch: one child process per picture, at most `jobs` at a time.
// A child's stdout and stderr go to memory files of its own, so the
// library's messages and the host's lines for one picture stay together;
// the parent prints them in input order as pictures finish.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <system_error>

#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "batch.h"
#include "exit_status.h"
#include "utf16.h"

namespace tintwell_cli {
namespace {

// What a child reports to the parent: its picture's outcome, and whether
// the edit returned at all (a library may end the process itself).
struct ChildReport {
    CallOutcome outcome;
    bool returned;
};

// One report per picture, in memory shared with the children, which start
// out zeroed: nothing returned yet.
class SharedReports {
public:
    explicit SharedReports(std::size_t count)
        : size_(std::max<std::size_t>(count, 1) * sizeof(ChildReport)),
          reports_(static_cast<ChildReport*>(
              ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0))) {}
    SharedReports(const SharedReports&) = delete;
    SharedReports& operator=(const SharedReports&) = delete;
    ~SharedReports() {
        if (valid()) ::munmap(reports_, size_);
    }

    bool valid() const { return reports_ != MAP_FAILED; }
    ChildReport& operator[](std::size_t index) { return reports_[index]; }

private:
    std::size_t size_;
    ChildReport* reports_;
};

struct RunningPicture {
    pid_t process;
    std::size_t index;
    int messages_fd;  // the child's stdout
    int lines_fd;     // the child's stderr
};

struct Outcome {
    CallOutcome kind = CallOutcome::kFailed;
    std::string messages;
    std::string lines;    // what the child said on stderr
    std::string problem;  // the parent's own line, for a child that did not report
};

std::string SystemError(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// In the child: edit one picture with stdout going to `messages_fd` and
// stderr to `lines_fd`, report the outcome and leave without running the
// parent's exit handlers.
[[noreturn]] void EditInChild(TintwellEntry entry, const BatchPlan& plan, const BatchPicture& picture,
                              const RunningPicture& files, ChildReport& report) {
    if (::dup2(files.messages_fd, STDOUT_FILENO) < 0 || ::dup2(files.lines_fd, STDERR_FILENO) < 0) {
        ::_exit(EXIT_FAILURE);
    }
    const PictureEdit edit{plan.edit.function, plan.amount, picture.input,
                           picture.output.empty() ? std::nullopt : std::optional(picture.output)};
    report.outcome = EditPicture(entry, edit, plan.call);
    report.returned = true;
    std::fflush(stdout);
    std::cerr.flush();
    ::_exit(EXIT_SUCCESS);
}

void CloseFiles(const RunningPicture& picture) {
    for (const int fd : {picture.messages_fd, picture.lines_fd}) {
        if (fd >= 0) ::close(fd);
    }
}

std::optional<RunningPicture> StartPicture(TintwellEntry entry, const BatchPlan& plan, std::size_t index,
                                           SharedReports& reports, std::string& problem) {
    RunningPicture started{0, index, ::memfd_create("tintwell-messages", MFD_CLOEXEC),
                           ::memfd_create("tintwell-lines", MFD_CLOEXEC)};
    if (started.messages_fd < 0 || started.lines_fd < 0) {
        problem = SystemError("cannot capture the picture's messages");
        CloseFiles(started);
        return std::nullopt;
    }
    // Nothing buffered in the parent may be printed a second time by a child.
    std::fflush(stdout);
    std::cerr.flush();
    started.process = ::fork();
    if (started.process == 0) EditInChild(entry, plan, plan.pictures[index], started, reports[index]);
    if (started.process < 0) {
        problem = SystemError("cannot start a process");
        CloseFiles(started);
        return std::nullopt;
    }
    return started;
}

std::string ReadAll(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) return {};
    std::string text(static_cast<std::size_t>(status.st_size), '\0');
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t got = ::pread(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    text.resize(done);
    return text;
}

Outcome CollectPicture(const RunningPicture& picture, int wait_status, SharedReports& reports) {
    const ChildReport& report = reports[picture.index];
    Outcome outcome{report.outcome, ReadAll(picture.messages_fd), ReadAll(picture.lines_fd), {}};
    CloseFiles(picture);
    if (report.returned && !WIFSIGNALED(wait_status)) return outcome;
    outcome.kind = CallOutcome::kFailed;
    if (WIFSIGNALED(wait_status)) {
        const int signal = WTERMSIG(wait_status);
        outcome.problem = "the edit was killed by signal " + std::to_string(signal) + " (" + ::strsignal(signal) + ")";
    } else if (!report.returned) {
        outcome.problem = "the edit ended its process (exit status " + std::to_string(WEXITSTATUS(wait_status)) +
                          ") without returning a result";
    }
    return outcome;
}

// Prints the pictures' messages in input order, failures and the summary
// on stderr, and a progress line on stderr when it is a terminal.
class BatchReport {
public:
    explicit BatchReport(const BatchPlan& plan) : plan_(plan), show_progress_(::isatty(STDERR_FILENO) == 1) {}

    void Finish(std::size_t index, Outcome outcome) {
        ++finished_;
        if (outcome.kind == CallOutcome::kFailed) ++failed_;
        if (outcome.kind == CallOutcome::kRefused) ++refused_;
        waiting_.emplace(index, std::move(outcome));
        ClearProgress();
        for (auto next = waiting_.begin(); next != waiting_.end() && next->first == printed_;
             next = waiting_.erase(next), ++printed_) {
            Print(plan_.pictures[next->first], next->second);
        }
        ShowProgress();
    }

    int Close() {
        ClearProgress();
        const std::size_t count = plan_.pictures.size();
        const std::size_t unfinished = failed_ + refused_;
        std::cerr << "tintwell: " << count << (count == 1 ? " picture: " : " pictures: ") << count - unfinished
                  << (plan_.edit.writes_output ? " written, " : " read, ") << unfinished << " failed";
        if (refused_ > 0) std::cerr << " (" << refused_ << " refused)";
        std::cerr << "\n";
        if (failed_ > 0) return kExitEditFailed;
        return refused_ > 0 ? kExitRefused : kExitSuccess;
    }

private:
    static void Print(const BatchPicture& picture, const Outcome& outcome) {
        std::fwrite(outcome.messages.data(), 1, outcome.messages.size(), stdout);
        std::fflush(stdout);
        std::cerr << outcome.lines;
        if (!outcome.problem.empty()) std::cerr << "tintwell: " << picture.input << ": " << outcome.problem << "\n";
    }

    void ShowProgress() {
        if (!show_progress_) return;
        std::cerr << "\rtintwell: " << finished_ << "/" << plan_.pictures.size() << " done, "
                  << failed_ + refused_ << " failed" << std::flush;
    }

    void ClearProgress() {
        if (show_progress_) std::cerr << "\r\033[K" << std::flush;
    }

    const BatchPlan& plan_;
    const bool show_progress_;
    std::size_t finished_ = 0;
    std::size_t failed_ = 0;   // the call failed, or its process died
    std::size_t refused_ = 0;  // refused by the host before or after the call
    std::size_t printed_ = 0;
    std::map<std::size_t, Outcome> waiting_;  // finished, not yet printed
};

bool CreateOutputDirectory(const std::string& directory) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (!error && std::filesystem::is_directory(directory, error)) return true;
    std::cerr << "tintwell: cannot use the output directory " << directory << ": "
              << (error ? error.message() : "not a directory") << "\n";
    return false;
}

}  // namespace

int RunBatch(TintwellEntry entry, const BatchPlan& plan) {
    if (plan.out_dir && !CreateOutputDirectory(*plan.out_dir)) return kExitUsage;
    SharedReports reports(plan.pictures.size());
    if (!reports.valid()) {
        std::cerr << "tintwell: " << SystemError("cannot share memory with the editing processes") << "\n";
        return kExitEditFailed;
    }
    // A SIGCHLD ignored by whoever started us would let children vanish
    // unwaited, with their results.
    std::signal(SIGCHLD, SIG_DFL);
    BatchReport report(plan);
    std::map<pid_t, RunningPicture> running;
    std::size_t next = 0;
    while (next < plan.pictures.size() || !running.empty()) {
        while (running.size() < plan.jobs && next < plan.pictures.size()) {
            std::string problem;
            const std::optional<RunningPicture> started = StartPicture(entry, plan, next, reports, problem);
            if (started) {
                running.emplace(started->process, *started);
                ++next;
            } else if (running.empty()) {
                report.Finish(next++, Outcome{CallOutcome::kFailed, {}, {}, problem});
            } else {
                break;  // out of processes for now: retry when one has finished
            }
        }
        if (running.empty()) continue;
        int wait_status = 0;
        const pid_t finished = ::waitpid(-1, &wait_status, 0);
        const auto picture = running.find(finished);
        if (picture == running.end()) continue;  // interrupted, or not one of ours
        report.Finish(picture->second.index, CollectPicture(picture->second, wait_status, reports));
        running.erase(picture);
    }
    return report.Close();
}

}  // namespace tintwell_cli
