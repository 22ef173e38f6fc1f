#!/usr/bin/env bash
# Plants each fault of tests/mutants/patches in a scratch copy of the tree,
# builds it and runs the release test suite against it: a fault is caught
# when some test fails. Prints a table, and fails unless every fault was
# caught. The unplanted copy must pass first, or a failure would prove
# nothing.
#
# The whole suite runs (ctest stops at the first failing test): a fault one
# layer misses may be the one another layer catches, which is what this
# measures. Left out: the browser check, which needs the WebAssembly build,
# and the Python wheel and Dask cluster tests, which take minutes to build a
# whole second tree or start a cluster around the same program that the
# other Python tests run.
#
#   tests/mutants/run.sh [PATCH...]   default: every patch, in name order
set -uo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
work=$source_dir/build/mutants
copy=$work/src
build=$copy/build/release
log=$work/logs
jobs=${MUTANT_JOBS:-2}
# The copy lives under build/, so the BMP Suite beside the source tree is not
# beside the copy: its tests are told where it is.
if [[ -z ${TINTWELL_BMPSUITE:-} && -d $source_dir/../shared/testdata/bmpsuite ]]; then
    export TINTWELL_BMPSUITE=$(cd "$source_dir/../shared/testdata/bmpsuite" && pwd)
fi

patches=("$@")
((${#patches[@]})) || patches=("$source_dir"/tests/mutants/patches/*.patch)

# A fresh copy of the tree as it stands, uncommitted changes included;
# the build directory survives between runs so only what a fault touches
# is rebuilt.
mkdir -p "$copy" "$log"
# A file gone from the tree goes from the copy too: CMake gathers the host's
# sources by their names.
(cd "$copy" && find . -path ./build -prune -o -type f -print) | while IFS= read -r file; do
    [ -e "$source_dir/$file" ] || rm -f "$copy/$file"
done
# A file is copied only when it differs, so make sees what changed.
(cd "$source_dir" && git ls-files -z --cached --others --exclude-standard -- . ':!build') |
    while IFS= read -r -d '' file; do
        [ -f "$source_dir/$file" ] || continue
        cmp -s "$source_dir/$file" "$copy/$file" && continue
        mkdir -p "$copy/$(dirname "$file")"
        cp -p "$source_dir/$file" "$copy/$file" && touch "$copy/$file"
    done

build_and_test() {  # name: builds the copy, runs the suite; 0 when every test passed
    cmake --build "$build" -j "$jobs" >"$log/$1.build" 2>&1 || return 2
    ctest --test-dir "$build" -j "$jobs" --stop-on-failure -E '^(web\.|python\.(wheel|cluster)$)' \
        --output-on-failure >"$log/$1.test" 2>&1
}

# Configured as `make build` does, which also takes over a build directory
# that another generator made.
make -C "$copy" --no-print-directory build >"$log/configure" 2>&1 || { echo "the copy does not build: $log/configure"; exit 2; }
if ! build_and_test unplanted; then
    echo "the unplanted copy does not pass: $log/unplanted.test"
    exit 2
fi

missed=0
printf '%-28s %-8s %s\n' fault result "first failing test"
for patch in "${patches[@]}"; do
    name=$(basename "$patch" .patch)
    if ! patch -d "$copy" -p1 --quiet --forward <"$patch"; then
        echo "$name: the patch does not apply"
        exit 2
    fi
    build_and_test "$name"
    status=$?
    patch -d "$copy" -p1 --quiet --reverse <"$patch"
    case $status in
    0) result=MISSED; first=-; missed=$((missed + 1)) ;;
    2) result="NO BUILD"; first="(proves nothing: fix the patch)"; missed=$((missed + 1)) ;;
    *) result=caught
       first=$(grep -m1 -E '\*\*\*(Failed|Exception|Timeout)' "$log/$name.test" |
           sed -E 's/.*Test +#[0-9]+: ([^ ]+).*/\1/') ;;
    esac
    printf '%-28s %-8s %s\n' "$name" "$result" "${first:-?}"
done
echo "$missed of ${#patches[@]} faults missed or not built"
((missed == 0))
