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

}  // namespace tintwell_cli
