// The one place where the host calls the library: the names converted to
// UTF-16, the library's messages on stdout (or dropped, when quiet), and
// its result code back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "korvane/tintwell.h"

namespace tintwell_cli {

std::int32_t CallLibrary(TintwellEntry entry, const std::string& input, const std::optional<std::string>& output,
                         std::int32_t amount, std::int32_t function, bool quiet);

// Drops what the library prints on stdout for the life of the object, when
// quiet. Each platform's quiet_stdout file defines it.
class QuietStdout {
public:
    explicit QuietStdout(bool quiet);
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;
    ~QuietStdout();

private:
    int saved_ = -1;  // stdout while it is dropped
};

}  // namespace tintwell_cli
