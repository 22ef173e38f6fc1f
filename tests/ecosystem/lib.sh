# Helpers shared by the ecosystem tests (sourced, not run): a scratch
# directory removed on exit, checks that count failures and say what went
# wrong, and a maker of BMP files.
set -euo pipefail

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tintwell-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# expect_eq WHAT EXPECTED ACTUAL
expect_eq() {
    [[ "$2" == "$3" ]] || fail "$1: expected [$2], got [$3]"
}

# expect_same_file WHAT EXPECTED_FILE ACTUAL_FILE
expect_same_file() {
    cmp -s "$2" "$3" || fail "$1: $3 differs from $2"
}

# expect_contains WHAT FILE TEXT
expect_contains() {
    grep -qF -- "$3" "$2" || fail "$1: [$3] not in $2: $(head -c 600 "$2")"
}

# Ends the test: exit status 77 tells ctest it was skipped. Under
# TINTWELL_REQUIRE_ALL=1 (as .ci/run sets) what a test lacks is a tool CI
# installs, and the skip is a failure.
skip() {
    if [[ ${TINTWELL_REQUIRE_ALL:-0} == 1 ]]; then
        echo "FAIL: TINTWELL_REQUIRE_ALL=1, but $*" >&2
        exit 1
    fi
    echo "SKIP: $*"
    exit 77
}

# Says that part of the test cannot run here; the rest goes on, and the skip
# report names the test as skipped in part.
skip_part() {
    echo "SKIP: $*"
}

# The same for a part that needs what CI provides (a tool its package lists
# install, root): a failure under TINTWELL_REQUIRE_ALL=1.
skip_part_unless_required() {
    if [[ ${TINTWELL_REQUIRE_ALL:-0} == 1 ]]; then
        fail "TINTWELL_REQUIRE_ALL=1, but $*"
    else
        skip_part "$*"
    fi
}

# preload INTERPOSER: the NAME=VALUE for env(1) that preloads INTERPOSER
# into the host. A cross build's tests run the host under qemu-user through
# a wrapper (TINTWELL_TEST_EMULATED=1), which takes it as TINTWELL_PRELOAD
# and hands it to qemu's -E: qemu's own loader, and every program started on
# the way, would take LD_PRELOAD for themselves.
preload() {
    if [[ ${TINTWELL_TEST_EMULATED:-0} == 1 ]]; then
        echo "TINTWELL_PRELOAD=$1"
    else
        echo "LD_PRELOAD=$1"
    fi
}

finish() {
    if ((failures)); then
        echo "$failures check(s) failed" >&2
        exit 1
    fi
    echo "all checks passed"
}

# Runs a command with its stdout, stderr and exit status in $scratch/out,
# $scratch/err and $status.
run() {
    status=0
    "$@" >"$scratch/out" 2>"$scratch/err" || status=$?
}

# The live processes of process group $1, one "PID STATE" line each (a
# zombie's work is over; T is stopped).
group_processes() {
    local stat rest state group
    for stat in /proc/[0-9]*/stat; do
        read -r rest 2>/dev/null <"$stat" || continue
        read -r state _ group _ <<<"${rest##*) }"
        [[ $group == "$1" && $state != Z ]] && echo "${rest%% *} $state"
    done
    return 0
}

# The process group $1, a host's session, has a live process.
group_alive() { [[ -n $(group_processes "$1") ]]; }

# plain_man PAGE: the manual page as plain text lines, roff font changes and
# escapes removed.
plain_man() {
    sed -e 's/\\f[BIRP]//g' -e 's/\\-/-/g' -e 's/\\(aq/'"'"'/g' -e 's/\\(mu/x/g' -e 's/\\&//g' \
        -e 's/\\e/\\/g' "$1"
}

le16() { printf '\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)); }
le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255)); }

# make_bmp FILE WIDTH HEIGHT: a bottom-up 24-bit BMP of random pixels.
make_bmp() {
    local row=$((($2 * 3 + 3) / 4 * 4))
    local size=$((row * $3))
    {
        printf 'BM'
        printf "$(le32 $((54 + size)))$(le32 0)$(le32 54)$(le32 40)$(le32 "$2")$(le32 "$3")"
        printf "$(le16 1)$(le16 24)$(le32 0)$(le32 $size)$(le32 2835)$(le32 2835)$(le32 0)$(le32 0)"
        head -c "$size" /dev/urandom
    } >"$1"
}
