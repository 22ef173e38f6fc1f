// What the platforms' library_call files share: the call itself, and the
// lines the host prints about a picture.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "library_call.h"

namespace tintwell_cli {

// One line on stderr: the host will not go on with this file, and why.
void Refuse(const std::string& file, const std::string& reason, bool writes, std::string_view force_note = {});

// The line for a result code other than success, naming the file it is about.
void ReportResult(const PictureEdit& edit, std::int32_t result);

// Converts the names to UTF-16 and calls the library: the only call in the host.
std::int32_t CallLibrary(TintwellEntry entry, const std::string& input, const std::optional<std::string>& output,
                         const PictureEdit& edit, bool quiet);

// Six random letters and digits, for a temporary's name.
std::string RandomSuffix();

// Drops what the library prints on stdout for the life of the object, when
// quiet. Each platform's library_call file defines it.
class StdoutForLibrary {
public:
    explicit StdoutForLibrary(bool quiet);
    StdoutForLibrary(const StdoutForLibrary&) = delete;
    StdoutForLibrary& operator=(const StdoutForLibrary&) = delete;
    ~StdoutForLibrary();

private:
    int saved_ = -1;  // stdout while it is dropped
};

}  // namespace tintwell_cli
