// Running a batch: one process per picture, at most `jobs` at a time (see
// batch_processes.h); the pictures' messages are printed in input order as
// pictures finish.
#include <cstdio>
#include <filesystem>
#include <map>
#include <system_error>

#include "batch.h"
#include "batch_processes.h"
#include "edit_picture.h"
#include "exit_status.h"
#include "format.h"
#include "host_messages.h"
#include "platform.h"
#include "report.h"
#include "utf16.h"

namespace tintwell_cli {
namespace {

PictureEdit EditOf(const BatchPlan& plan, const BatchPicture& picture) {
    return PictureEdit{plan.edit.function, plan.amount, picture.input,
                       picture.output.empty() ? std::nullopt : std::optional(picture.output)};
}

// Prints the pictures' messages in input order, failures and the summary
// on stderr, and a progress line on stderr when it is a terminal.
class BatchReport {
public:
    explicit BatchReport(const BatchPlan& plan) : plan_(plan), show_progress_(StderrIsTerminal()) {}

    void Finish(std::size_t index, PictureOutcome outcome) {
        ++finished_;
        if (outcome.stopped) {
            ++stopped_;
        } else if (outcome.kind == OutcomeKind::kFailed) {
            ++failed_;
        } else if (outcome.kind == OutcomeKind::kRefused) {
            ++refused_;
        } else if (outcome.kind == OutcomeKind::kInputChanged) {
            ++changed_;
        }
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
        const std::size_t unfinished = failed_ + refused_ + changed_;
        const bool writes = plan_.edit.writes_output;
        const std::string_view summary = refused_ > 0 ? (writes ? text::kBatchWrittenRefused : text::kBatchReadRefused)
                                                      : (writes ? text::kBatchWritten : text::kBatchRead);
        Write(stderr, Format(summary, PictureCount(), count - unfinished, unfinished, refused_) + "\n");
        if (failed_ > 0) return kExitEditFailed;
        if (changed_ > 0) return kExitInputChanged;
        return refused_ > 0 ? kExitRefused : kExitSuccess;
    }

    // A stopped batch: what finished is printed, in input order, past the
    // pictures that did not finish; the summary says what stopped it.
    void CloseStopped(const Message& cause) {
        ClearProgress();
        for (const auto& [index, outcome] : waiting_) Print(plan_.pictures[index], outcome);
        waiting_.clear();
        const std::size_t done = finished_ - stopped_;
        const std::size_t unsuccessful = failed_ + refused_ + changed_;
        const std::string_view summary = plan_.edit.writes_output ? text::kBatchStoppedWritten : text::kBatchStoppedRead;
        Write(stderr, Format(summary, cause.Text(), PictureCount(), done - unsuccessful, unsuccessful,
                             plan_.pictures.size() - done) +
                          "\n");
        FlushOutput();
    }

private:
    std::string PictureCount() const {
        const std::size_t count = plan_.pictures.size();
        return count == 1 ? Format(text::kOnePicture) : Format(text::kPictures, count);
    }

    void Print(const BatchPicture& picture, const PictureOutcome& outcome) const {
        if (outcome.stopped) return;  // its edit was cut short on purpose: nothing it said is its result
        Write(stdout, outcome.messages);
        std::fflush(stdout);
        Write(stderr, outcome.lines);
        if (!outcome.problem) return;
        // Its process said nothing of its own: the parent reports it.
        Outcome died;
        died.kind = OutcomeKind::kFailed;
        died.file = picture.input;
        died.reason = *outcome.problem;
        ReportPicture(died, EditOf(plan_, picture), plan_.call);
    }

    void ShowProgress() {
        if (!show_progress_) return;
        Write(stderr, "\r");
        Write(stderr, Format(text::kBatchProgress, finished_, plan_.pictures.size(), failed_ + refused_ + changed_));
        std::fflush(stderr);
    }

    void ClearProgress() {
        if (!show_progress_) return;
        Write(stderr, "\r\033[K");
        std::fflush(stderr);
    }

    const BatchPlan& plan_;
    const bool show_progress_;
    std::size_t finished_ = 0;
    std::size_t failed_ = 0;   // the call failed, or its process died
    std::size_t refused_ = 0;  // refused by the host before or after the call
    std::size_t changed_ = 0;  // the input changed while it was read: nothing written
    std::size_t stopped_ = 0;  // its process ended by the batch's stop
    std::size_t printed_ = 0;
    std::map<std::size_t, PictureOutcome> waiting_;  // finished, not yet printed
};

bool CreateOutputDirectory(const std::string& directory) {
    std::error_code error;
    std::filesystem::create_directories(PathOf(directory), error);
    if (!error && std::filesystem::is_directory(PathOf(directory), error)) return true;
    ReportError(MessageOf(text::kOutputDirectoryUnusable, directory,
                          error ? error.message() : Format(text::kNotADirectory)));
    return false;
}

OutcomeKind EditAndReport(TintwellEntry entry, const BatchPlan& plan, const BatchPicture& picture) {
    const PictureEdit edit = EditOf(plan, picture);
    const Outcome outcome = EditPicture(entry, edit, plan.call);
    ReportPicture(outcome, edit, plan.call);
    FlushOutput();
    return outcome.kind;
}

}  // namespace

int RunBatch(const Module& module, const BatchPlan& plan) {
    if (plan.out_dir && !CreateOutputDirectory(*plan.out_dir)) return kExitUsage;
    PictureProcesses processes(module, plan, EditAndReport);
    Message problem;
    if (!processes.Ready(problem)) {
        ReportError(problem);
        return kExitEditFailed;
    }
    BatchReport report(plan);
    std::size_t next = 0;
    const auto more_to_start = [&] { return next < plan.pictures.size() && !processes.StopRequested(); };
    while (more_to_start() || processes.running() > 0) {
        while (processes.running() < plan.jobs && more_to_start()) {
            if (processes.Start(next, problem)) {
                ++next;
            } else if (processes.running() == 0) {
                report.Finish(next++, PictureOutcome{OutcomeKind::kFailed, {}, {}, problem});
            } else {
                break;  // out of processes for now: retry when one has finished
            }
        }
        if (processes.running() == 0) continue;
        auto [index, outcome] = processes.WaitForOne();
        report.Finish(index, std::move(outcome));
    }
    if (!processes.StopRequested()) return report.Close();
    report.CloseStopped(processes.StopCause());
    processes.EndAsStopped();
}

}  // namespace tintwell_cli
