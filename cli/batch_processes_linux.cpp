// Linux: each picture is edited in a forked child whose stdout and stderr
// go to memory files of its own; the child reports its outcome in memory
// shared with the parent.
//
// Stopping: while a batch runs, the parent blocks SIGTERM, SIGINT, SIGHUP
// and SIGCHLD and takes them with sigwaitinfo, so that a stop is never
// missed between two checks. It passes a stop on to every running child,
// which ends by it as a single edit would (removing its temporary), and
// starts no more. Each child also asks for SIGTERM when the parent dies, so
// that no picture is replaced after the parent has gone.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>

#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "batch_processes.h"
#include "host_messages.h"
#include "report.h"

namespace tintwell_cli {
namespace {

// What a child reports to the parent: its picture's outcome, and whether
// the edit returned at all (a library may end the process itself).
struct ChildReport {
    OutcomeKind outcome;
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


// The signals that stop a batch; one the caller ignores stays ignored.
sigset_t StopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) sigaddset(&signals, signal);
    }
    return signals;
}

// The signal a child gets when the parent dies: SIGTERM, which removes its
// temporary, or SIGKILL if it would ignore SIGTERM.
int ParentDeathSignal() {
    struct sigaction current {};
    ::sigaction(SIGTERM, nullptr, &current);
    return current.sa_handler == SIG_IGN ? SIGKILL : SIGTERM;
}

// What a child needs to know of its parent.
struct ParentState {
    pid_t process;
    sigset_t mask;  // the signal mask the parent had before the batch
};

// In the child: end with the parent, take signals as the parent did before
// the batch (a stop already passed on ends it here), edit one picture with
// stdout going to `messages_fd` and stderr to `lines_fd`, report the outcome
// and leave without running the parent's exit handlers.
[[noreturn]] void EditInChild(PictureJob job, TintwellEntry entry, const BatchPlan& plan,
                              const BatchPicture& picture, const RunningPicture& files, ChildReport& report,
                              const ParentState& parent) {
    // A parent that died before the request was made sends no signal.
    if (::prctl(PR_SET_PDEATHSIG, ParentDeathSignal()) != 0 || ::getppid() != parent.process) ::_exit(EXIT_FAILURE);
    ::sigprocmask(SIG_SETMASK, &parent.mask, nullptr);
    if (::dup2(files.messages_fd, STDOUT_FILENO) < 0 || ::dup2(files.lines_fd, STDERR_FILENO) < 0) {
        ::_exit(EXIT_FAILURE);
    }
    report.outcome = job(entry, plan, picture);
    report.returned = true;
    ::_exit(EXIT_SUCCESS);
}

void CloseFiles(const RunningPicture& picture) {
    for (const int fd : {picture.messages_fd, picture.lines_fd}) {
        if (fd >= 0) ::close(fd);
    }
}

std::optional<RunningPicture> StartPicture(PictureJob job, TintwellEntry entry, const BatchPlan& plan,
                                           std::size_t index, SharedReports& reports, const ParentState& parent,
                                           Message& problem) {
    RunningPicture started{0, index, ::memfd_create("tintwell-messages", MFD_CLOEXEC),
                           ::memfd_create("tintwell-lines", MFD_CLOEXEC)};
    if (started.messages_fd < 0 || started.lines_fd < 0) {
        problem = MessageOf(text::kNoCapture, std::strerror(errno));
        CloseFiles(started);
        return std::nullopt;
    }
    // Nothing buffered in the parent may be printed a second time by a child.
    FlushOutput();
    started.process = ::fork();
    if (started.process == 0) EditInChild(job, entry, plan, plan.pictures[index], started, reports[index], parent);
    if (started.process < 0) {
        problem = MessageOf(text::kNoProcess, std::strerror(errno));
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

PictureOutcome CollectPicture(const RunningPicture& picture, int wait_status, SharedReports& reports,
                              bool stopping) {
    const ChildReport& report = reports[picture.index];
    PictureOutcome outcome{report.outcome, ReadAll(picture.messages_fd), ReadAll(picture.lines_fd), {}};
    CloseFiles(picture);
    if (report.returned && !WIFSIGNALED(wait_status)) return outcome;
    outcome.kind = OutcomeKind::kFailed;
    outcome.stopped = stopping && WIFSIGNALED(wait_status);
    if (WIFSIGNALED(wait_status)) {
        const int signal = WTERMSIG(wait_status);
        outcome.problem = MessageOf(text::kKilledBySignal, signal, ::strsignal(signal));
    } else if (!report.returned) {
        outcome.problem = MessageOf(text::kEndedWithoutResult, WEXITSTATUS(wait_status));
    }
    return outcome;
}

}  // namespace

struct PictureProcesses::State {
    PictureJob job;
    TintwellEntry entry;
    const BatchPlan& plan;
    SharedReports reports;
    std::map<pid_t, RunningPicture> running;
    sigset_t stop_signals{};
    ParentState parent{};
    bool taking_signals = false;  // the signals below are blocked and taken by sigwait
    int stop_signal = 0;          // the first stop signal received; 0 while none

    // Takes note of a stop and passes it on to every running picture.
    void Stop(int signal) {
        if (stop_signal == 0) stop_signal = signal;
        for (const auto& [process, picture] : running) ::kill(process, signal);
    }

    // Takes a stop signal that is waiting, without waiting for one.
    void TakeWaitingStop() {
        const struct timespec now {};
        const int signal = ::sigtimedwait(&stop_signals, nullptr, &now);
        if (signal > 0) Stop(signal);
    }
};

PictureProcesses::PictureProcesses(const Module& module, const BatchPlan& plan, PictureJob job)
    : state_(new State{job, module.entry(), plan, SharedReports(plan.pictures.size()), {}}) {}

PictureProcesses::~PictureProcesses() {
    if (state_->taking_signals) ::sigprocmask(SIG_SETMASK, &state_->parent.mask, nullptr);
}

bool PictureProcesses::Ready(Message& problem) {
    if (!state_->reports.valid()) {
        problem = MessageOf(text::kNoSharedMemory, std::strerror(errno));
        return false;
    }
    // A SIGCHLD ignored by whoever started us would let children vanish
    // unwaited, with their results.
    std::signal(SIGCHLD, SIG_DFL);
    state_->stop_signals = StopSignals();
    sigset_t taken = state_->stop_signals;
    sigaddset(&taken, SIGCHLD);
    state_->parent.process = ::getpid();
    ::sigprocmask(SIG_BLOCK, &taken, &state_->parent.mask);
    state_->taking_signals = true;
    return true;
}

bool PictureProcesses::Start(std::size_t index, Message& problem) {
    const std::optional<RunningPicture> started = StartPicture(state_->job, state_->entry, state_->plan, index,
                                                               state_->reports, state_->parent, problem);
    if (!started) return false;
    state_->running.emplace(started->process, *started);
    return true;
}

std::size_t PictureProcesses::running() const { return state_->running.size(); }

std::pair<std::size_t, PictureOutcome> PictureProcesses::WaitForOne() {
    sigset_t waited = state_->stop_signals;
    sigaddset(&waited, SIGCHLD);
    for (;;) {
        int wait_status = 0;
        const pid_t finished = ::waitpid(-1, &wait_status, WNOHANG);
        if (finished <= 0) {
            // None has ended yet: wait for one to end, or for a stop.
            siginfo_t received{};
            const int signal = ::sigwaitinfo(&waited, &received);
            if (signal > 0 && signal != SIGCHLD) state_->Stop(signal);
            continue;
        }
        const auto picture = state_->running.find(finished);
        if (picture == state_->running.end()) continue;  // not one of ours
        // A stop that came with this end counts: the picture may have ended by it.
        state_->TakeWaitingStop();
        const std::size_t index = picture->second.index;
        PictureOutcome outcome =
            CollectPicture(picture->second, wait_status, state_->reports, state_->stop_signal != 0);
        state_->running.erase(picture);
        return {index, std::move(outcome)};
    }
}

bool PictureProcesses::StopRequested() {
    if (state_->stop_signal == 0) state_->TakeWaitingStop();
    return state_->stop_signal != 0;
}

Message PictureProcesses::StopCause() const {
    return MessageOf(text::kStopSignal, state_->stop_signal, ::strsignal(state_->stop_signal));
}

void PictureProcesses::EndAsStopped() {
    const int signal = state_->stop_signal;
    ::signal(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);  // not reached: the signal ends us
}

}  // namespace tintwell_cli
