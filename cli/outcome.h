// What became of one picture, as the host's policy decides it and before
// anyone words it: the reporter (report.h) turns it into lines, and other
// front ends may turn it into something else.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "exit_status.h"
#include "format.h"

namespace tintwell_cli {

// A message not yet printed: one of host_messages.h's formats and its
// arguments, in order.
struct Message {
    std::string_view format;
    std::vector<std::string> arguments;

    std::string Text() const { return FormatWith(format, arguments.data(), arguments.size()); }
};

template <typename... Arguments>
Message MessageOf(std::string_view format, const Arguments&... arguments) {
    return Message{format, {FormatArgument(arguments)...}};
}

enum class OutcomeKind {
    kSucceeded,  // the library returned 999 or 0, and the output is in place
    kRefused,    // the host did not call the library, or kept its output: nothing changed
    kFailed,     // the library returned another result code: nothing changed
    kInputChanged,  // the input changed while the library read it: the edit was discarded
};

// What the host's check found the input to be: its size in pixels and
// bytes, its bits per pixel, and whether the library edits it as it stands
// or through a 24-bit copy.
struct PictureFacts {
    std::int64_t width = 0;
    std::int64_t height = 0;  // rows, whichever way they run
    int bits_per_pixel = 0;
    std::uint64_t file_size = 0;
    bool through_copy = false;
};

struct Outcome {
    OutcomeKind kind = OutcomeKind::kSucceeded;
    std::string file;                // the file the reason is about
    std::optional<Message> reason;   // why it did not succeed
    bool nothing_written = false;    // an edit that writes was kept from writing
    std::string_view hint;           // what the user can do instead, if anything
    std::vector<Message> remarks;    // said about a file written all the same
    std::optional<Message> answer;   // what read found, for stdout
    std::string system_error;        // the system's own words, when a system call failed
    std::optional<std::int32_t> result;  // what the library returned, when it was called
    std::optional<PictureFacts> picture;  // the input, once the check found it editable

    int ExitStatus() const {
        switch (kind) {
        case OutcomeKind::kSucceeded: return kExitSuccess;
        case OutcomeKind::kRefused: return kExitRefused;
        case OutcomeKind::kFailed: return kExitEditFailed;
        case OutcomeKind::kInputChanged: return kExitInputChanged;
        }
        return kExitEditFailed;
    }
};

}  // namespace tintwell_cli
