// The one reporter: turns outcomes and the host's messages into the lines a
// user sees. Every line the host prints about a picture, a command or a
// batch goes through here, on stderr; only --version, --module-info and
// --help print on stdout.
#pragma once

#include <string>

#include "outcome.h"

namespace tintwell_cli {

// The lines of one picture's outcome: its remarks, and why it did not
// succeed. Nothing for a plain success.
std::string LinesOf(const Outcome& outcome);
// Those lines on stderr, after what read found on stdout.
void Report(const Outcome& outcome);

// "tintwell: MESSAGE" (kErrorLine), "tintwell: warning: MESSAGE".
void ReportError(const Message& message);
void ReportWarning(const Message& message);
// "tintwell: FILE: MESSAGE".
void ReportAboutFile(const std::string& file, const Message& message);

// A command line that cannot be carried out: the problem and where help is.
// Returns the exit status for it.
int ReportUsageError(const Message& problem);

// A line on stdout (--version).
void Say(const Message& message);

// Writes out what stdout and stderr hold, before a fork or a child's end.
void FlushOutput();

}  // namespace tintwell_cli
