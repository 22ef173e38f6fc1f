// The processes of a batch, one per picture: each edits its picture with
// its stdout and stderr captured, so that one picture's messages stay
// together. Each platform's file starts and waits for them: fork on Linux
// (batch_processes.cpp), CreateProcessW on Windows
// (batch_processes_windows.cpp).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>

#include "batch.h"

namespace tintwell_cli {

struct PictureOutcome {
    CallOutcome kind = CallOutcome::kFailed;
    std::string messages;
    std::string lines;    // what the picture's process said on stderr
    std::string problem;  // the parent's own line, for a process that did not report
};

class PictureProcesses {
public:
    PictureProcesses(const Module& module, const BatchPlan& plan);
    PictureProcesses(const PictureProcesses&) = delete;
    PictureProcesses& operator=(const PictureProcesses&) = delete;
    ~PictureProcesses();

    // Whether pictures' processes can be started at all; says why not.
    bool Ready(std::string& problem);

    // Starts the process for picture `index`; says why not.
    bool Start(std::size_t index, std::string& problem);

    std::size_t running() const;

    // Waits until the process of one running picture ends: its index and outcome.
    std::pair<std::size_t, PictureOutcome> WaitForOne();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace tintwell_cli
