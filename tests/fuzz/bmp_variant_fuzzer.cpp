// Fuzzes the host's reading of every BMP kind: headers, masks, palettes and
// RLE streams from arbitrary bytes, each run checked by CheckBmpVariant.
#include <cstddef>
#include <cstdint>

#include "fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tintwell_fuzz::AbortOnFailure(tintwell_fuzz::CheckBmpVariant(data, size));
    return 0;
}
