// The host's edit of one picture, the same on every platform: the checks in
// their order, the library call and what its result means. It returns an
// outcome and prints nothing but what the library itself prints; report.h
// words the outcome.
#pragma once

#include <vector>

#include "korvane/tintwell.h"
#include "outcome.h"
#include "picture_edit.h"

namespace tintwell_cli {

// Opens and checks the input, prepares the output, calls the library, and
// puts the edited copy in place only when the call succeeded.
Outcome EditPicture(TintwellEntry entry, const PictureEdit& edit, const CallOptions& options);

// The library exactly: the names as given, no check and no temporary.
Outcome CallWithNames(TintwellEntry entry, const PictureEdit& edit, const CallOptions& options);

// Warnings about names longer than the library takes, for CallWithNames.
std::vector<Message> NameWarnings(const PictureEdit& edit);

}  // namespace tintwell_cli
