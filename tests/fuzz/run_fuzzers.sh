#!/usr/bin/env bash
# Runs each fuzzer for a bounded time on freshly generated seeds and fails on
# any finding (a crash, a sanitizer report, a mismatch with the model, a
# timeout or running out of memory).
#
#   tests/fuzz/run_fuzzers.sh [SECONDS] [FUZZER...]
#
# SECONDS per fuzzer (default 60); FUZZER is whole_call_fuzzer,
# file_name_fuzzer and/or bmp_variant_fuzzer (default all three). The fuzzers come from the fuzz preset
# (build/fuzz/bin). Corpora grow in build/fuzz/corpus/NAME and persist
# between runs; findings land in build/fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${1:-60}
shift || true
fuzzers=("$@")
((${#fuzzers[@]})) || fuzzers=(whole_call_fuzzer file_name_fuzzer bmp_variant_fuzzer)

build=build/fuzz
seeds=$build/seeds
findings=$build/findings
mkdir -p "$findings"
rm -rf "$seeds"
# The BMP Suite's files are seeds too: where TINTWELL_BMPSUITE says (a folder
# that is not the suite is a mistake), else beside the source tree. Without
# it the run says so, or, under TINTWELL_REQUIRE_ALL=1 (as in CI), fails.
suite=${TINTWELL_BMPSUITE:-../shared/testdata/bmpsuite}
if [[ ! -d $suite/g ]]; then
    why="no BMP Suite at $suite (TINTWELL_BMPSUITE names its folder)"
    if [[ -n ${TINTWELL_BMPSUITE:-} || ${TINTWELL_REQUIRE_ALL:-0} == 1 ]]; then
        echo "$why" >&2
        exit 1
    fi
    echo "SKIP: $why: the seeds leave it out"
fi
python3 tests/fuzz/make_seeds.py "$seeds" --bmpsuite "$suite"

# Files live in memory where possible: closing a truncated file on a disk
# file system may wait for its blocks to be written out.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    export TMPDIR=/dev/shm
fi

status=0
for fuzzer in "${fuzzers[@]}"; do
    corpus_name=${fuzzer%_fuzzer}
    corpus=$build/corpus/$corpus_name
    mkdir -p "$corpus"
    options=()
    case $corpus_name in
    whole_call) options=(-max_len=16384 -dict=tests/fuzz/whole_call.dict) ;;
    file_name) options=(-max_len=2001) ;;  # one role byte and 1000 UTF-16 units
    bmp_variant) options=(-max_len=16384 -dict=tests/fuzz/whole_call.dict) ;;
    esac
    log=$build/$fuzzer.log
    echo "== $fuzzer: ${seconds}s"
    if ! "$build/bin/$fuzzer" -max_total_time="$seconds" "${options[@]}" -timeout=30 \
        -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$findings/$corpus_name-" \
        "$corpus" "$seeds/$corpus_name" >"$log" 2>&1; then
        status=1
        echo "!! $fuzzer found a problem; the last lines of $log:"
        tail -n 40 "$log"
    fi
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' "$log" || true
done
if ls "$findings"/* >/dev/null 2>&1; then
    echo "!! inputs that failed (keep each as a regression case once fixed):"
    ls -l "$findings"
    status=1
fi
exit $status
