// The checks behind the fuzzers. Each takes one fuzzer input, runs it
// through the real library and compares everything observable with what
// must happen; it returns what went wrong, or an empty string. The fuzzers
// and the test suite's replay of kept inputs share them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tintwell_fuzz {

// Where the whole-call fuzzer sends the output.
enum class OutputKind : std::uint8_t {
    kNewFile,    // a file that does not exist before the call
    kDevNull,    // /dev/null
    kInPlace,    // the input's own name
    kNoName,     // a null output name: every save attempt fails
};

// A whole-call fuzzer input:
//   byte 0      the output kind, modulo 4
//   bytes 1-4   the function number, little-endian (missing bytes are 0)
//   bytes 5-8   the amount, little-endian
//   the rest    the bytes of the input file
inline constexpr std::size_t kWholeCallPrefix = 9;

// Pictures claiming more pixel bytes than this are only read (function 10):
// an edit, and the model, would touch every byte of a buffer of up to 2 GiB
// and slow the fuzzer down to a crawl. Larger buffers are still allocated,
// read and released; the tests edit large pictures.
inline constexpr std::int64_t kLargestEditedPicture = std::int64_t{1} << 16;

std::string CheckWholeCall(const std::uint8_t* data, std::size_t size);

// A file-name fuzzer input:
//   byte 0      which name is fuzzed, modulo 3: the input's (function 10),
//               the output's (function 5), or both (edited in place)
//   the rest    UTF-16 code units, little-endian, at most kMaxNameUnits; the
//               name ends at the first zero unit
// The units follow a directory of the fuzzer's own; '/' units become '_' so
// that no name leaves it.
inline constexpr std::size_t kMaxNameUnits = 1000;

std::string CheckFileName(const std::uint8_t* data, std::size_t size);

// A BMP-kinds fuzzer input: the bytes of a file, read as the host reads
// any picture that is not the library's own layout.
std::string CheckBmpVariant(const std::uint8_t* data, std::size_t size);

// For the fuzzers: prints the failure and aborts, so libFuzzer keeps the input.
void AbortOnFailure(const std::string& failure);

}  // namespace tintwell_fuzz
