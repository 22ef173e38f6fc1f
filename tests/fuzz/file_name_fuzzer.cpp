// Fuzzes the conversion of UTF-16 file names through the exported call:
// any unit sequence, lone surrogates included, from 0 to 1000 units.
#include <cstddef>
#include <cstdint>

#include "fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tintwell_fuzz::AbortOnFailure(tintwell_fuzz::CheckFileName(data, size));
    return 0;
}
