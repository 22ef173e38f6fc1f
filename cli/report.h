// The one reporter: turns outcomes and the host's messages into the lines a
// user sees. Every line the host prints about a picture, a command or a
// batch goes through here, on stderr; only --version, --module-info and
// --help print on stdout.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "outcome.h"
#include "picture_edit.h"

namespace tintwell_cli {

// The lines of one picture's outcome: its remarks, and why it did not
// succeed. Nothing for a plain success.
std::string LinesOf(const Outcome& outcome);
// Those lines on stderr, after what read found on `answer_stream`.
void Report(const Outcome& outcome, std::FILE* answer_stream);

// One picture's outcome as one line of JSON (--report=json): its input and
// output, the file the outcome is about, the kind, the library's result code
// (null when it was not called), the exit status a single edit would have
// and the lines above in English (null when there are none), why it did not
// succeed on its own, and what the check found the input to be.
std::string JsonOf(const Outcome& outcome, const PictureEdit& edit);
// Reports one picture: its lines on stderr, and its JSON object on stdout
// with --report=json.
void ReportPicture(const Outcome& outcome, const PictureEdit& edit, const CallOptions& options);

// "tintwell: MESSAGE" (kErrorLine), "tintwell: warning: MESSAGE".
void ReportError(const Message& message);
void ReportWarning(const Message& message);

// A command line that cannot be carried out: the problem and where help is.
// Returns the exit status for it.
int ReportUsageError(const Message& problem);

// A line on stdout (--version).
void Say(const Message& message);

// Text as it is on stdout or stderr. The host prints through C stdio alone,
// so no run pays for setting up the C++ standard streams and their locale.
void Write(std::FILE* stream, std::string_view text);

// Writes out what stdout and stderr hold, before a fork or a child's end.
void FlushOutput();

}  // namespace tintwell_cli
