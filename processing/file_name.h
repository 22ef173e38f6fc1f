// Conversion of the caller's UTF-16 file names to the 8-bit names the file
// system takes.
#pragma once

#include <array>
#include <cstddef>

#include "korvane/tintwell.h"

namespace korvane {

// A converted name: at most 199 bytes and its terminating NUL.
inline constexpr std::size_t kFileNameCapacity = 200;
using FileName = std::array<char, kFileNameCapacity>;

// Converts a NUL-terminated UTF-16 name to UTF-8. A null pointer, ill-formed
// UTF-16 (a lone surrogate) or a result of 200 bytes or more gives the empty
// name, which never opens: a name is refused rather than cut short.
FileName ConvertFileName(const TintwellChar16* name);

}  // namespace korvane
