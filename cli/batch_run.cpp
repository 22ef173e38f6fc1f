// Running a batch: one process per picture, at most `jobs` at a time (see
// batch_processes.h); the pictures' messages are printed in input order as
// pictures finish.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <system_error>

#include "batch.h"
#include "batch_processes.h"
#include "exit_status.h"
#include "platform.h"
#include "utf16.h"

namespace tintwell_cli {
namespace {

// Prints the pictures' messages in input order, failures and the summary
// on stderr, and a progress line on stderr when it is a terminal.
class BatchReport {
public:
    explicit BatchReport(const BatchPlan& plan) : plan_(plan), show_progress_(StderrIsTerminal()) {}

    void Finish(std::size_t index, PictureOutcome outcome) {
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
    static void Print(const BatchPicture& picture, const PictureOutcome& outcome) {
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
    std::map<std::size_t, PictureOutcome> waiting_;  // finished, not yet printed
};

bool CreateOutputDirectory(const std::string& directory) {
    std::error_code error;
    std::filesystem::create_directories(PathOf(directory), error);
    if (!error && std::filesystem::is_directory(PathOf(directory), error)) return true;
    std::cerr << "tintwell: cannot use the output directory " << directory << ": "
              << (error ? error.message() : "not a directory") << "\n";
    return false;
}

}  // namespace

int RunBatch(const Module& module, const BatchPlan& plan) {
    if (plan.out_dir && !CreateOutputDirectory(*plan.out_dir)) return kExitUsage;
    PictureProcesses processes(module, plan);
    std::string problem;
    if (!processes.Ready(problem)) {
        std::cerr << "tintwell: " << problem << "\n";
        return kExitEditFailed;
    }
    BatchReport report(plan);
    std::size_t next = 0;
    while (next < plan.pictures.size() || processes.running() > 0) {
        while (processes.running() < plan.jobs && next < plan.pictures.size()) {
            if (processes.Start(next, problem)) {
                ++next;
            } else if (processes.running() == 0) {
                report.Finish(next++, PictureOutcome{CallOutcome::kFailed, {}, {}, problem});
            } else {
                break;  // out of processes for now: retry when one has finished
            }
        }
        if (processes.running() == 0) continue;
        auto [index, outcome] = processes.WaitForOne();
        report.Finish(index, std::move(outcome));
    }
    return report.Close();
}

}  // namespace tintwell_cli
