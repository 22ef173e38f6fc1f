// The processes of a batch, one per picture: each edits its picture with
// its stdout and stderr captured, so that one picture's messages stay
// together. Each platform's file starts and waits for them: fork on Linux
// (batch_processes_linux.cpp), CreateProcessW on Windows
// (batch_processes_windows.cpp).
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "batch.h"

namespace tintwell_cli {

struct PictureOutcome {
    OutcomeKind kind = OutcomeKind::kFailed;
    std::string messages;
    std::string lines;               // what the picture's process said on stderr
    std::optional<Message> problem;  // the parent's own line, for a process that did not report
    bool stopped = false;            // ended by the batch's stop before it reported: nothing to print
};

// Edits one picture of a batch and reports it, in the picture's own process.
using PictureJob = OutcomeKind (*)(TintwellEntry entry, const BatchPlan& plan, const BatchPicture& picture);

class PictureProcesses {
public:
    // `job` is what a forked process runs; a platform that starts this
    // program again for each picture runs it there instead.
    PictureProcesses(const Module& module, const BatchPlan& plan, PictureJob job);
    PictureProcesses(const PictureProcesses&) = delete;
    PictureProcesses& operator=(const PictureProcesses&) = delete;
    ~PictureProcesses();

    // Whether pictures' processes can be started at all; says why not.
    bool Ready(Message& problem);

    // Starts the process for picture `index`; says why not.
    bool Start(std::size_t index, Message& problem);

    std::size_t running() const;

    // Waits until the process of one running picture ends: its index and outcome.
    std::pair<std::size_t, PictureOutcome> WaitForOne();

    // Whether the batch was told to stop: SIGTERM, SIGINT or SIGHUP on Linux
    // (unless ignored when the batch began), Ctrl+C or Ctrl+Break on
    // Windows. Every running picture's process has then been told too, and
    // ends without replacing its picture; no more may start.
    bool StopRequested();

    // What told the batch to stop, once it was.
    Message StopCause() const;

    // Ends this process as the stop asked, once no picture runs: by the same
    // signal on Linux (exit status 128 + N in a shell), with the status of a
    // program ended by Ctrl+C on Windows.
    [[noreturn]] void EndAsStopped();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace tintwell_cli
