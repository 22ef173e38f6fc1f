// Fuzzes the whole exported call: arbitrary file bytes, function number,
// amount and output, each run checked against the independent model.
#include <cstddef>
#include <cstdint>

#include "fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tintwell_fuzz::AbortOnFailure(tintwell_fuzz::CheckWholeCall(data, size));
    return 0;
}
