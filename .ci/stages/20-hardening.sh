#!/usr/bin/env bash
# Hardening: each fuzzer for about a minute (any finding fails), the whole
# suite under ThreadSanitizer, the fault and return-path tests under valgrind,
# and the library's line coverage, which must reach its gate.
set -euo pipefail
cd "$(dirname "$0")/../.."

make fuzz FUZZ_SECONDS="${FUZZ_SECONDS:-60}"
make tsan
make memcheck

make coverage COVERAGE_LINES=95
