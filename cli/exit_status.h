// The host's exit statuses, shared by every form of the command line.
#pragma once

namespace tintwell_cli {

// The edit (or every edit of a batch) did what was asked.
inline constexpr int kExitSuccess = 0;
// The command line could not be carried out as written; nothing was edited.
inline constexpr int kExitUsage = 1;
// The library returned a result code other than 999 or 0 (in a batch: for
// at least one picture).
inline constexpr int kExitEditFailed = 2;
// The library could not be loaded or has no Tintwell.
inline constexpr int kExitModuleFailed = 3;
// The host refused a file before the call (not a picture the library edits
// correctly, missing, unreadable, an output it cannot replace safely), or
// kept the library's output from replacing a file; nothing was written. In
// a batch: no call failed and at least one picture was refused.
inline constexpr int kExitRefused = 4;
// The input changed while the library read it (another program wrote it):
// the edit was discarded and nothing was written. In a batch: no call failed
// and at least one input changed.
inline constexpr int kExitInputChanged = 5;

}  // namespace tintwell_cli
