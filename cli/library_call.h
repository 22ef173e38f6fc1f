// The one place where the host calls the library. Before the call it checks
// the input and opens it, and prepares the output. On Linux the library gets
// both as /proc/self/fd/N names of descriptors the host holds, so that
// neither file can change between the check and the call and no name is too
// long for it; on Windows it gets the input's name while the host holds the
// file open against writers. A regular output is written to a temporary
// beside it, which replaces it only when the library returned 999, so that
// no failure, kill or crash loses a picture. library_call.cpp is Linux's,
// library_call_windows.cpp Windows', library_call_common.cpp what they share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "korvane/tintwell.h"

namespace tintwell_cli {

struct CallOptions {
    bool check = true;   // false with --force: the picture check is skipped, nothing else
    bool sync = false;   // --sync: the edited copy and its directory reach the disk before we return
    bool quiet = false;  // -q: the library's messages on stdout are dropped
};

// One edit of one picture; names are valid UTF-8 (checked when parsing).
struct PictureEdit {
    std::int32_t function = 0;
    std::int32_t amount = 0;
    std::string input;
    std::optional<std::string> output;  // nothing for an edit that writes nothing
};

enum class CallOutcome {
    kSucceeded,  // the library returned 999 or 0, and the output is in place
    kRefused,    // the host did not call the library, or kept its output: nothing changed
    kFailed,     // the library returned another result code: nothing changed
};

// What a replaced output keeps of the file it replaces, for --help.
extern const char* const kReplacementKeeps;

// Checks, calls and replaces, printing one line on stderr that names the
// file and the reason whenever the outcome is not success.
CallOutcome EditPicture(TintwellEntry entry, const PictureEdit& edit, const CallOptions& options);

// The library exactly: the names as given, no check and no temporary.
CallOutcome CallWithNames(TintwellEntry entry, const PictureEdit& edit, const CallOptions& options);

// The host's exit status for one picture's outcome.
int ExitStatusOf(CallOutcome outcome);

}  // namespace tintwell_cli
