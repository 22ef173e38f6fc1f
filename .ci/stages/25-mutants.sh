#!/usr/bin/env bash
# Planted faults: two of tests/mutants/patches, chosen by the commit under
# test, are planted one at a time and must each make the release suite fail.
# Every commit tries another pair; `make mutants` plants them all.
set -euo pipefail
cd "$(dirname "$0")/../.."

mapfile -t patches < <(ls tests/mutants/patches/*.patch)
count=${#patches[@]}
((count >= 2)) || { echo "fewer than two planted faults in tests/mutants/patches" >&2; exit 1; }
# Two different patches from the commit's hash: the first by its low bits,
# the second a nonzero step further on.
commit=$(git rev-parse HEAD)
number=$((16#${commit:0:12}))
first=$((number % count))
second=$(((first + 1 + (number / count) % (count - 1)) % count))
echo "commit $commit plants $(basename "${patches[first]}") and $(basename "${patches[second]}")"
start=$SECONDS
tests/mutants/run.sh "${patches[first]}" "${patches[second]}"
echo "-- the two planted faults took $((SECONDS - start)) s"
