#!/usr/bin/env bash
# The host broken on purpose: one row per way a picture could be lost,
# falsified or written where it should not be. Each row is a function that
# runs the exact command in a scratch folder of its own and checks what must
# hold afterwards: the bytes of every file, the exit status, the line on
# stderr. It runs against any tintwell, so the rows an older build fails can
# be counted:
#   host_safety_test.sh TINTWELL [INTERPOSER.so] [ROW...]
# Races are made deterministic by the fault interposer (preloaded with
# TINTWELL_FAULTS, see tests/hardening/fault_injection.h) where one is
# needed, never by timing; rows that need it fail without it.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tintwell=$(realpath "$1")
shift
interposer=
if [[ ${1:-} == *.so ]]; then
    interposer=$(realpath "$1")
    shift
fi
source "$here/lib.sh"
set +e
T=$tintwell

# ---- helpers for the rows ---------------------------------------------------

# 24-bit pictures: a.bmp (31 x 17, rows padded) and its inverse, made by the
# host itself so that the padding is zero as the library writes it.
pictures() {
    make_bmp random.bmp 31 17
    "$T" -q copy random.bmp a.bmp && "$T" -q invert a.bmp inverted-a.bmp
}

# check WHAT COMMAND...: a check inside a row, which fails when any of its
# checks fails.
check() {
    local what=$1
    shift
    "$@" && return 0
    echo "        not so: $what"
    touch "$failed_mark"
}
same() { cmp -s "$1" "$2"; }
status_is() { [[ $status == "$1" ]]; }
err_has() { grep -qF -- "$1" "$scratch/err"; }

# ---- the rows ---------------------------------------------------------------

# Rows are functions named row_NAME, run in the order they are defined.

# Closed stdout and -q: the input must not be taken for stdout.
row_closed_stdout_quiet_over_itself() {
    pictures && cp a.bmp c.bmp
    "$T" -q invert c.bmp c.bmp >&- 2>err
    status=$?
    check "exit status 0" status_is 0
    check "c.bmp holds the inverse" same inverted-a.bmp c.bmp
}

# ---- Batches: outputs that lead to one file, and a batch told to stop ------

# A batch whose two outputs lead to one file is refused before anything is
# written: exit status 1 and a usage line naming both pictures. Each row has
# a.bmp and b.bmp (another picture) as inputs and od as the output folder.
outputs_and_picture() { pictures && "$T" -q gray a.bmp b.bmp && mkdir od; }
no_temporary_in() { [[ -z $(find "$1" -name '.*.tintwell-??????') ]]; }
batch_into_od_refused() {
    "$T" -q invert --out-dir od -j 2 a.bmp b.bmp 2>"$scratch/err"
    status=$?
    check "exit status 1" status_is 1
    check "a usage line naming both pictures" \
        err_has "tintwell: 'a.bmp' and 'b.bmp' would both be written to one file: 'od/a.bmp' and 'od/b.bmp' lead to it"
    check "where help is" err_has "Try 'tintwell --help' for more information."
    check "no temporary left" no_temporary_in od
}

# od/b.bmp leads to the existing od/a.bmp through a link that LINK... makes.
linked_outputs_row() {
    outputs_and_picture
    cp a.bmp od/a.bmp
    "$@" od/b.bmp
    batch_into_od_refused
    check "od/a.bmp unchanged" same a.bmp od/a.bmp
}
row_out_dir_output_linked_to_another() { linked_outputs_row ln -s a.bmp; }
row_out_dir_outputs_hard_linked() { linked_outputs_row ln od/a.bmp; }

# od/a.bmp does not exist yet, and od/b.bmp is a link to it by another path,
# through a linked folder: once a.bmp is written, b.bmp would go there too.
row_out_dir_output_by_another_path() {
    outputs_and_picture
    ln -s od od-link
    ln -s ../od-link/./a.bmp od/b.bmp
    batch_into_od_refused
    check "nothing written into od" test ! -e od/a.bmp
}

# Stopping a batch, deterministically: an in-place batch of four pictures,
# two at a time, whose processes each hold themselves (SIGSTOP, from the
# fault interposer) at their first write of the edited copy. Once both are
# held, the test signals the parent alone, waits until the parent has passed
# the signal on (it is pending in both held processes) or has ended, and
# lets them go on. Every wait polls a state the run reaches; the bound only
# ends a stuck run.
eventually() {
    local tries
    for ((tries = 0; tries < 3000; tries++)); do
        "$@" && return 0
        sleep 0.01
    done
    return 1
}
held_in_group() { [[ $(group_processes "$1" | grep -c ' T$') == "$2" ]]; }
group_gone() { ! group_alive "$1"; }
# Every held process of group $1 has signal $2 pending, or the leader is over.
signal_passed_on() {
    local process state pending
    [[ $(group_processes "$1" | grep "^$1 ") ]] || return 0
    while read -r process state; do
        [[ $state == T ]] || continue
        pending=$(sed -n 's/^ShdPnd:\t//p' "/proc/$process/status")
        (((16#$pending >> ($2 - 1)) & 1)) || return 1
    done < <(group_processes "$1")
}

# start_held_batch: starts the batch in a session of its own, its leader in
# $leader, and waits until both pictures being edited are held.
start_held_batch() {
    pictures
    mkdir batch
    for i in 1 2 3 4; do cp a.bmp "batch/p$i.bmp"; done
    [[ -n $interposer ]] || return 1
    LD_PRELOAD=$interposer TINTWELL_FAULTS="op=write,path=/proc/self/fd/,nth=1,stop" \
        ASAN_OPTIONS="${ASAN_OPTIONS:-}:verify_asan_link_order=0" \
        setsid env --default-signal=HUP,INT,TERM "$T" -q invert --in-place -j 2 batch/*.bmp 2>"$scratch/err" &
    leader=$!
    eventually held_in_group "$leader" 2
}

# After the stop: no process of the batch left, no picture replaced (the two
# being edited were stopped, the two others never started), no temporary.
check_batch_stopped() {
    check "no process of the batch left" eventually group_gone "$leader"
    for file in batch/p*.bmp; do check "$file holds its old bytes" same a.bmp "$file"; done
    check "no temporary left" no_temporary_in batch
}

stop_parent_row() { # SIGNAL ITS-NAME
    local number
    number=$(kill -l "$1")
    check "both pictures held mid-edit (the interposer is needed)" start_held_batch
    kill -"$1" "$leader"
    eventually signal_passed_on "$leader" "$number"
    kill -CONT -- -"$leader"
    wait "$leader" 2>/dev/null
    status=$?
    check "exit status $((128 + number))" status_is $((128 + number))
    check "the closing line says the batch stopped" \
        err_has "tintwell: stopped by signal $number ($2); 4 pictures: 0 written, 0 failed, 4 not finished"
    check_batch_stopped
}

row_batch_stopped_by_sigterm() { stop_parent_row TERM Terminated; }
row_batch_stopped_by_sigint() { stop_parent_row INT Interrupt; }
row_batch_stopped_by_sighup() { stop_parent_row HUP Hangup; }

# SIGKILL to the parent alone: its children end with it.
row_batch_parent_killed() {
    check "both pictures held mid-edit (the interposer is needed)" start_held_batch
    kill -KILL "$leader"
    wait "$leader" 2>/dev/null
    kill -CONT -- -"$leader"
    check_batch_stopped
}

# ---- the runner -------------------------------------------------------------

# In the order they are defined, or those named on the command line.
mapfile -t rows < <(grep -oE '^row_[a-z0-9_]+\(\)' "$0" | tr -d '()')
(($#)) && rows=("${@/#/row_}")
passed=0
failed=0
for row in "${rows[@]}"; do
    dir="$scratch/rows/${row#row_}"
    failed_mark="$scratch/rows/${row#row_}.failed"
    mkdir -p "$dir"
    (cd "$dir" && "$row")
    if [[ ! -e $failed_mark ]]; then
        echo "ok      ${row#row_}"
        passed=$((passed + 1))
    else
        echo "FAILED  ${row#row_}"
        failed=$((failed + 1))
    fi
done
echo "$passed passed, $failed failed"
((failed == 0))
