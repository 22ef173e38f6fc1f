// The batch form of the host: one edit over many pictures,
//   tintwell EDIT [AMOUNT] (--out-dir DIR | --in-place) [-j N] [--] FILE...
//   tintwell read -j N [--] FILE...
// Each picture is edited in a process of its own, so the library's
// messages for one picture stay together; several run at a time. Each
// process checks its picture and puts its own output in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "edits.h"
#include "module_loader.h"
#include "outcome.h"
#include "picture_edit.h"

namespace tintwell_cli {

// One picture of a batch; names are valid UTF-8 (checked when planning).
struct BatchPicture {
    std::string input;
    std::string output;  // empty for an edit that writes nothing
};

struct BatchPlan {
    EditInfo edit{};
    std::int32_t amount = 0;
    CallOptions call;
    std::optional<std::string> out_dir;  // unset with --in-place and for read
    std::size_t jobs = 1;
    std::vector<BatchPicture> pictures;  // in input order
};

// Checks a batch command against the file system: every name converts to
// UTF-16, no two outputs lead to one file (compared by the file, through
// every link, not by name), and no output is an existing input unless
// --in-place asks for it. On failure says why in `problem` and
// returns nothing; nothing has been written then.
std::optional<BatchPlan> PlanBatch(const Command& command, Message& problem);

// The number of processors this process may run on (at least 1).
std::size_t DefaultJobCount();

// Creates the output directory, edits every picture, prints each picture's
// messages on stdout and its lines on stderr in input order, and a summary
// on stderr. Returns the host's exit status: 2 when any call failed, else 4
// when any picture was refused, else 0. A batch told to stop (see
// PictureProcesses::StopRequested) starts no more pictures, waits for the
// running ones to stop, says so in its summary and ends as it was told.
int RunBatch(const Module& module, const BatchPlan& plan);

}  // namespace tintwell_cli
