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
# Sanitizer builds: the interposer comes before the sanitizer's runtime.
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:verify_asan_link_order=0"

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
err_has() { grep -qF -- "$1" err; }
missing() { [[ ! -e $1 ]]; }
only_files() { [[ "$(ls -A | sort | tr '\n' ' ')" == "$* " ]]; }

# A picture of 400 x 300 (rows of 1200 bytes, no padding): big enough for
# the library to read it in more than one call.
big_picture() {
    make_bmp random-big.bmp 400 300
    "$T" -q copy random-big.bmp big.bmp
}

# run_stopped RULES MEANWHILE COMMAND...: runs COMMAND with the fault
# interposer, which stops it at the call RULES choose; runs the function
# MEANWHILE while it stands still, then lets it go on. The exit status is in
# $status, stderr in ./err.
run_stopped() {
    local rules=$1 meanwhile=$2 pid tries
    shift 2
    env "$(preload "$interposer")" TINTWELL_FAULTS=$rules "$@" 2>err &
    pid=$!
    # Waits for the stop itself, however long the machine takes to get there.
    for ((tries = 0; tries < 6000; ++tries)); do
        [[ $(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null) == T ]] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.01
    done
    "$meanwhile"
    kill -CONT "$pid" 2>/dev/null
    wait "$pid"
    status=$?
}

# Bytes of a picture's header at OFFSET replaced, in place.
poke() { printf "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }

# ---- helpers for the rows about attributes, the demo and signals -------------

# Runs a command as root (as we are) or as another user: nobody when we are
# root, else ourselves. Files it must reach are given to that user first.
by() {
    local who=$1
    shift
    if [[ $who == other ]] && ((EUID == 0)); then
        setpriv --reuid=65534 --regid=65534 --clear-groups "$@"
    else
        "$@"
    fi
}
own_by() { if [[ $1 == other ]] && ((EUID == 0)); then chown -R 65534:65534 "${@:2}"; fi; }
# The users the attribute rows run as: root and another one, when we are root.
users() { if ((EUID == 0)); then echo root other; else echo other; fi; }

# The tools of Debian's acl and attr packages; a row that needs them fails
# without them.
have_attribute_tools() {
    local tool
    for tool in setfacl getfacl setfattr getfattr; do
        command -v "$tool" >/dev/null || {
            echo "        not so: $tool is installed (Debian packages acl and attr)"
            touch "$failed_mark"
            return 1
        }
    done
}
# What a file's owner, mode, ACL and extended attributes are, all of them.
attributes_of() {
    stat -c 'owner %u, group %g, mode %a' "$1"
    getfacl -cp "$1" 2>&1
    getfattr -d -m - -e hex "$1" 2>&1 | grep -v '^# file:'
    return 0
}
same_attributes() { # FILE EXPECTED_DUMP
    diff <(attributes_of "$1") "$2" >"$scratch/attributes.diff" && return 0
    sed 's/^/          /' "$scratch/attributes.diff"
    return 1
}
same_attributes_as() { same_attributes "$1" <(attributes_of "$2"); }

have_interposer() {
    [[ -n $interposer ]] && return 0
    echo "        not so: the fault interposer is given"
    touch "$failed_mark"
    return 1
}
# The names in a directory, hidden ones included, on one line.
names_in() { ls -A "$1" | tr '\n' ' ' | sed 's/ $//'; }

# sent_at SIGNAL POINT [MORE RULES]: runs an in-place edit of s/k.bmp with
# SIGNAL sent to it at POINT (a fault interposer rule); $status is its exit
# status. Writes of the edited copy move 64 KiB at most, so that a picture
# takes many of them to choose from.
sent_at() {
    local rules="$2,signal=$1;op=write,path=/proc/self/fd/,limit=65536${3:+;$3}"
    env "$(preload "$interposer")" TINTWELL_FAULTS=$rules setsid env --default-signal "$T" -q invert s/k.bmp s/k.bmp 2>/dev/null &
    status=0
    wait $! 2>/dev/null || status=$?
}

# A terminating signal delivered during the edit, at a write of the edited
# copy and at its rename, with the unnamed temporary (O_TMPFILE) and with
# the named one the host keeps where O_TMPFILE is refused: the host ends by
# that signal, the picture is as it was and nothing else is left.
signal_leaves_nothing() {
    local signal=$1 number point temporary
    have_interposer || return
    number=$(kill -l "$signal")
    make_bmp big.bmp 600 400
    for temporary in unnamed named; do
        for point in "op=write,path=/proc/self/fd/,nth=5" "op=rename,path=k.bmp"; do
            rm -rf s && mkdir s && cp big.bmp s/k.bmp
            sent_at "$signal" "$point" "$([[ $temporary == named ]] && echo "op=tmpfile,fail=EOPNOTSUPP")"
            check "SIG$signal at ${point%%,*} ($temporary temporary) ends the host: status $((128 + number)), got $status" \
                status_is $((128 + number))
            check "SIG$signal at ${point%%,*} ($temporary temporary) leaves k.bmp alone: got [$(names_in s)]" \
                [ "$(names_in s)" = k.bmp ]
            check "SIG$signal at ${point%%,*} ($temporary temporary): k.bmp as it was" same big.bmp s/k.bmp
        done
    done
}

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

# ---- Streams, descriptors, captured inputs, changed inputs, bytes after the
# pixels, and messages that say what happened ---------------------------------

# Closed stdout and -q: a new output gets the picture, not 54 zero bytes.
row_closed_stdout_quiet_new_output() {
    pictures
    "$T" -q invert a.bmp out.bmp >&- 2>err
    status=$?
    check "exit status 0" status_is 0
    check "out.bmp holds the inverse" same inverted-a.bmp out.bmp
}

# /dev/stdout opened to append: the log before it stays.
row_dev_stdout_appends() {
    pictures && printf 'LOG\n' >log.txt && { printf 'LOG\n' && cat inverted-a.bmp; } >expected
    "$T" -q invert a.bmp /dev/stdout >>log.txt 2>err
    status=$?
    check "exit status 0" status_is 0
    check "log.txt holds LOG and then the picture" same expected log.txt
}

# /dev/stdout at its offset: what was written before stays.
row_dev_stdout_after_header() {
    pictures && { echo header && cat inverted-a.bmp; } >expected
    { echo header && "$T" -q invert a.bmp /dev/stdout; } >g.out 2>err
    check "g.out holds the header line and then the picture" same expected g.out
}

# /dev/stderr opened to append.
row_dev_stderr_appends() {
    pictures && printf 'LOG\n' >log.txt && { printf 'LOG\n' && cat inverted-a.bmp; } >expected
    "$T" -q invert a.bmp /dev/stderr 2>>log.txt
    status=$?
    check "exit status 0" status_is 0
    check "log.txt holds LOG and then the picture" same expected log.txt
}

# Without -q, the library's messages stay out of a picture sent to stdout.
row_messages_stay_out_of_stdout_picture() {
    pictures
    "$T" invert a.bmp /dev/stdout >x.bmp 2>err
    status=$?
    check "exit status 0" status_is 0
    check "x.bmp is only the picture" same inverted-a.bmp x.bmp
    check "the messages went to stderr" test -s err
}

# "-" is stdin and stdout, through pipes, with no --force.
row_dash_through_pipes() {
    pictures
    cat a.bmp | "$T" invert - - 2>err | cat >p.bmp
    check "p.bmp is the inverse" same inverted-a.bmp p.bmp
    check "no file named -" missing -
}

row_dash_output_is_stdout() {
    pictures
    "$T" invert a.bmp - >o.bmp 2>err
    status=$?
    check "exit status 0" status_is 0
    check "o.bmp is the inverse" same inverted-a.bmp o.bmp
    check "no file named -" missing -
}

row_dash_input_is_stdin() {
    pictures
    "$T" -q invert - out.bmp <a.bmp 2>err
    status=$?
    check "exit status 0" status_is 0
    check "out.bmp is the inverse" same inverted-a.bmp out.bmp
}

# A FIFO is read once into a private copy, then checked and edited. Its
# writer comes only after tintwell has opened it: an open FIFO without a
# writer is not an empty file.
row_fifo_input_captured() {
    pictures && mkfifo fifo
    "$T" -q invert fifo out.bmp 2>err &
    local host=$!
    until ls -l "/proc/$host/fd" 2>/dev/null | grep -qF -- "$PWD/fifo" || ! kill -0 "$host" 2>/dev/null; do
        sleep 0.01
    done
    if kill -0 "$host" 2>/dev/null; then cat a.bmp >fifo; fi
    wait "$host"
    status=$?
    check "exit status 0" status_is 0
    check "out.bmp is the inverse" same inverted-a.bmp out.bmp
}

# A stream that is not a picture is refused from its header, nothing written.
row_stream_refused_from_header() {
    pictures
    head -c 1000 /dev/zero | "$T" -q invert - out.bmp 2>err
    status=${PIPESTATUS[1]}
    check "exit status 4" status_is 4
    check "nothing written" missing out.bmp
    check "the reason" err_has "tintwell: -: not a BMP file"
}

# A picture meant for a stdout that was closed at start is refused.
row_closed_stdout_picture_refused() {
    pictures && cp a.bmp c.bmp
    "$T" invert c.bmp /dev/stdout >&- 2>err
    status=$?
    check "exit status 4" status_is 4
    check "c.bmp unchanged" same a.bmp c.bmp
    check "the reason" err_has "tintwell: /dev/stdout: stdout was closed when tintwell started; nothing written"
}

# A descriptor that is not open is refused: the input must not take its number.
row_closed_descriptor_refused() {
    pictures && cp a.bmp c.bmp
    T=$T sh -c 'exec 3>&-; exec "$T" -q invert c.bmp /dev/fd/3' 2>err
    status=$?
    check "exit status 4" status_is 4
    check "c.bmp unchanged" same a.bmp c.bmp
    check "the reason" err_has "tintwell: /dev/fd/3: descriptor 3 is not open; nothing written"
}

# A descriptor that leads to the input itself is refused.
row_descriptor_leading_to_input_refused() {
    pictures && cp a.bmp c.bmp
    "$T" -q invert c.bmp - >>c.bmp 2>err
    status=$?
    check "exit status 4" status_is 4
    check "c.bmp unchanged" same a.bmp c.bmp
    check "the reason" err_has "which it would overwrite as it is read; nothing written"
}

# Cut to half while the library's first pass reads it: never a full-length
# picture with a white half.
row_input_shrinks_while_read() {
    big_picture && cp big.bmp c.bmp
    cut_in_half() { truncate -s $(($(stat -c %s c.bmp) / 2)) c.bmp; }
    run_stopped "op=read,path=/proc/self/fd,nth=2,stop" cut_in_half "$T" -q invert c.bmp out.bmp
    check "exit status 5" status_is 5
    check "nothing written" missing out.bmp
    check "the reason" err_has "tintwell: c.bmp: changed while it was being edited; nothing written"
}

# The header rewritten (24 bits per pixel to 32) between the check and the
# library's read: the edit of a picture that was never checked is discarded.
row_header_rewritten_before_read() {
    big_picture && cp big.bmp c.bmp && cp big.bmp old-out.bmp && cp big.bmp out.bmp
    to_32_bits() { poke c.bmp 28 '\x20'; }
    run_stopped "op=read,path=/proc/self/fd,nth=1,stop" to_32_bits "$T" -q invert c.bmp out.bmp
    check "exit status 5" status_is 5
    check "out.bmp as it was" same old-out.bmp out.bmp
    check "no temporary left" only_files big.bmp c.bmp err old-out.bmp out.bmp random-big.bmp
}

# Bytes after the pixels (counted in bfSize) are kept, in place and through
# streams, and the header is copied as it was.
with_trailing_bytes() {
    pictures
    python3 - a.bmp inverted-a.bmp <<'PY'
import struct, sys
tail = bytes(range(256)) * 3 + b"after the pixels" * 9
for name, out in ((sys.argv[1], "t.bmp"), (sys.argv[2], "expected-t.bmp")):
    data = bytearray(open(name, "rb").read() + tail)
    struct.pack_into("<I", data, 2, len(data))
    open(out, "wb").write(data)
PY
}
row_bytes_after_pixels_kept_in_place() {
    with_trailing_bytes
    "$T" -q invert --in-place t.bmp 2>err
    status=$?
    check "exit status 0" status_is 0
    check "t.bmp is the inverse with its 908 bytes after" same expected-t.bmp t.bmp
}

row_bytes_after_pixels_kept_through_streams() {
    with_trailing_bytes
    cat t.bmp | "$T" -q invert - - >s.bmp 2>err
    check "s.bmp is the inverse with its 908 bytes after" same expected-t.bmp s.bmp
}

# Without /proc the reason is named, not "cannot load the library".
row_no_proc_named() {
    pictures
    unshare -m sh -c 'umount -l /proc && exec "$0" -q invert a.bmp out.bmp' "$T" 2>err
    status=$?
    # A sanitizer's runtime reads its options from /proc, and its leak check
    # at exit fails without it: there the exit status is the runtime's.
    # (Not `ldd | grep -q`: under pipefail, grep leaving early fails ldd.)
    [[ $(ldd "$T") == *libasan* ]] || check "exit status 4" status_is 4
    check "nothing written" missing out.bmp
    check "the reason" err_has "/proc is not mounted"
}

# Out of descriptors: said, not result 123 or 124. The host starts with
# stdin, stdout and stderr alone, so that 7 and 8 leave it 4 and 5 more.
only_standard_streams() {
    local fd
    for fd in /proc/$BASHPID/fd/*; do
        fd=${fd##*/}
        ((fd > 2)) && eval "exec $fd>&-"
    done
    return 0
}
row_descriptor_limit_named() {
    pictures
    local limit
    for limit in 7 8; do
        (only_standard_streams && ulimit -n "$limit" && exec "$T" -q invert a.bmp out.bmp) >/dev/null 2>err
        status=$?
        check "ulimit -n $limit: exit status 4" status_is 4
        check "ulimit -n $limit: too many open files" err_has "too many open files"
        check "ulimit -n $limit: nothing written" missing out.bmp
    done
}

# A disk that fills while the library writes: the line says so. The small
# file system is mounted in a mount namespace of the row's own.
row_full_disk_named() {
    big_picture
    TINTWELL_INSIDE=full_disk unshare -m bash "$here/host_safety_test.sh" "$T" "$interposer" 2>err
    status=$?
    check "exit status 2" status_is 2
    check "the reason" err_has "no space left on the device"
}
inside_full_disk() {
    mkdir small && mount -t tmpfs -o size=720k tmpfs small || return 9
    fill_the_disk() { head -c 10M /dev/zero >small/filler 2>/dev/null; }
    run_stopped "op=write,path=/proc/self/fd,nth=2,stop" fill_the_disk "$T" -q invert big.bmp small/out.bmp
    cat err >&2
    [[ $(ls -A small) == filler ]] || echo "tintwell: left in the directory: $(ls -A small)" >&2
    return "$status"
}

# --sync where the directory cannot be synced is not a success.
row_sync_failure_exits_nonzero() {
    pictures
    mkdir d && cp a.bmp d/a.bmp && chmod 0300 d
    if ((EUID == 0)); then
        chown -R 65534:65534 d && chmod 0755 "$scratch" "$scratch/rows" .
        setpriv --reuid=65534 --regid=65534 --clear-groups "$T" -q --sync invert d/a.bmp d/out.bmp 2>err
    else
        "$T" -q --sync invert d/a.bmp d/out.bmp 2>err
    fi
    status=$?
    chmod 0700 d
    check "exit status not 0" test "$status" != 0
    check "the reason" err_has "did not reach the disk"
}

# A file name holding a newline or an escape code cannot forge a line or
# reach the terminal.
row_names_escaped() {
    pictures
    "$T" -q invert $'missing\ntintwell: all good' out.bmp 2>err
    check "no forged line" sh -c '! grep -qx "tintwell: all good.*" err'
    check "the newline shown escaped" err_has "'missing'\$'\\012''tintwell: all good'"
    "$T" -q invert $'\e[31mred' out.bmp 2>err
    check "no escape code on stderr" sh -c '! grep -q "$(printf "\\033")" err'
}

# ---- Batches: outputs that lead to one file, and a batch told to stop ------

# A batch whose two outputs lead to one file is refused before anything is
# written: exit status 1 and a usage line naming both pictures. Each row has
# a.bmp and b.bmp (another picture) as inputs and od as the output folder.
outputs_and_picture() { pictures && "$T" -q gray a.bmp b.bmp && mkdir od; }
no_temporary_in() { [[ -z $(find "$1" -name '.*.tintwell-??????') ]]; }
batch_into_od_refused() {
    "$T" -q invert --out-dir od -j 2 a.bmp b.bmp 2>err
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
    env "$(preload "$interposer")" TINTWELL_FAULTS="op=write,path=/proc/self/fd/,nth=1,stop" \
        ASAN_OPTIONS="${ASAN_OPTIONS:-}:verify_asan_link_order=0" \
        setsid env --default-signal=HUP,INT,TERM "$T" -q invert --in-place -j 2 batch/*.bmp 2>err &
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

# The directory's default ACL is not added to a replaced picture: after
# `setfacl -d -m u:1234:rw DIR`, a picture with no ACL at mode 0660 has none
# after an in-place edit, and one with an ACL of its own keeps exactly that
# one. getfacl says the same before and after, as root and as another user.
row_default_acl_not_added_to_a_replaced_picture() {
    have_attribute_tools || return
    pictures && "$T" -q brighten 10 a.bmp brightened-a.bmp
    local who
    for who in $(users); do
        mkdir "$who" && cp a.bmp "$who/q.bmp" && cp a.bmp "$who/own.bmp"
        chmod 0660 "$who/q.bmp" && setfacl -m u:4321:r "$who/own.bmp"
        own_by "$who" "$who"
        setfacl -d -m u:1234:rw "$who"
        attributes_of "$who/q.bmp" >"$who.q.before" && attributes_of "$who/own.bmp" >"$who.own.before"
        by "$who" "$T" -q brighten 10 --in-place "$who/q.bmp" "$who/own.bmp" 2>err
        status=$?
        check "$who: exit status 0, got $status" status_is 0
        check "$who: q.bmp brightened" same brightened-a.bmp "$who/q.bmp"
        check "$who: q.bmp has its own attributes, no ACL added" same_attributes "$who/q.bmp" "$who.q.before"
        check "$who: own.bmp keeps exactly its own ACL" same_attributes "$who/own.bmp" "$who.own.before"
    done
}

# A new output gets what open(O_CREAT, 0666) would give it in its directory:
# the same as a file made there by touch under the same umask, in a
# directory with a default ACL and in one without.
row_new_output_made_as_open_makes_a_file() {
    have_attribute_tools || return
    pictures
    local who dir
    for who in $(users); do
        for dir in "$who-plain" "$who-default-acl"; do
            mkdir "$dir" && own_by "$who" "$dir"
            [[ $dir == *-default-acl ]] && setfacl -d -m u:1234:rw,g::r "$dir"
            (umask 027 && by "$who" touch "$dir/touched" && by "$who" "$T" -q invert a.bmp "$dir/new.bmp")
            check "$dir: new.bmp written" same inverted-a.bmp "$dir/new.bmp"
            check "$dir: new.bmp has what touch gives" same_attributes_as "$dir/new.bmp" "$dir/touched"
        done
    done
}

# A replaced file keeps exactly its extended attributes: a user.* attribute
# of its own is kept, and nothing is added (not the access ACL that the
# directory's default ACL gives a new file, nor the directory's own
# attributes). getfattr -d -m - says the same before and after.
row_extended_attributes_kept_and_none_added() {
    have_attribute_tools || return
    pictures
    local who
    for who in $(users); do
        mkdir "$who" && cp a.bmp "$who/p.bmp"
        setfattr -n user.tintwell.note -v kept "$who/p.bmp" && setfattr -n user.directory.note -v mine "$who"
        own_by "$who" "$who"
        setfacl -d -m u:1234:rw "$who"
        attributes_of "$who/p.bmp" >"$who.before"
        by "$who" "$T" -q invert "$who/p.bmp" "$who/p.bmp" 2>err
        status=$?
        check "$who: exit status 0, got $status" status_is 0
        check "$who: p.bmp inverted" same inverted-a.bmp "$who/p.bmp"
        check "$who: p.bmp has exactly its own extended attributes" same_attributes "$who/p.bmp" "$who.before"
    done
}

# `demo DIR` with an index.html of the user's own: refused with the reason,
# nothing written, index.html kept byte for byte.
row_demo_keeps_an_existing_index_html() {
    mkdir site && printf '<p>my own page</p>\n' >site/index.html && cp site/index.html mine.html
    "$T" demo site >/dev/null 2>err
    status=$?
    check "exit status 1, got $status" status_is 1
    check "the reason: $(cat err)" err_has "tintwell: demo: cannot use directory site: not empty (demo writes only into a new or empty directory)"
    check "index.html kept byte for byte" same mine.html site/index.html
    check "nothing else written: [$(names_in site)]" [ "$(names_in site)" = index.html ]
}

# `demo DIR` where original.bmp is a link to a file elsewhere, and
# index.html a link to a file not made yet: refused, nothing written
# through either link.
row_demo_writes_through_no_link() {
    mkdir site elsewhere && printf 'not a picture\n' >elsewhere/kept.txt && cp elsewhere/kept.txt kept.copy
    ln -s ../elsewhere/kept.txt site/original.bmp
    ln -s ../elsewhere/made.html site/index.html
    "$T" demo site >/dev/null 2>err
    status=$?
    check "exit status 1, got $status" status_is 1
    check "the reason: $(cat err)" err_has "tintwell: demo: cannot use directory site: not empty"
    check "the linked file unchanged" same kept.copy elsewhere/kept.txt
    check "nothing made through the dangling link: [$(names_in elsewhere)]" [ "$(names_in elsewhere)" = kept.txt ]
    check "the links still links" [ -L site/original.bmp -a -L site/index.html ]
    check "nothing else in the directory: [$(names_in site)]" [ "$(names_in site)" = "index.html original.bmp" ]
}

# The demo's files, each a new one: what touch makes in the same directory.
demo_files_made_as_new() {
    local file
    (umask 022 && touch "$1/touched")
    for file in original.bmp 1-copy.bmp 5-invert.bmp 9-tint-down.bmp index.html; do
        check "$1/$file has what touch gives" same_attributes_as "$1/$file" "$1/touched"
    done
}

# `demo DIR` into an existing empty directory (with a default ACL): it is
# accepted, the ten pictures and the page are written, and each file gets
# what a new file gets there.
row_demo_fills_an_empty_directory() {
    have_attribute_tools || return
    mkdir empty && setfacl -d -m u:1234:rw empty
    (umask 022 && "$T" demo empty >/dev/null 2>err)
    status=$?
    check "exit status 0, got $status" status_is 0
    check "the closing line: $(cat err)" err_has "tintwell: demo: wrote the original, 9 edits and index.html"
    check "ten pictures: $(ls empty/*.bmp | wc -l)" [ "$(ls empty/*.bmp | wc -l)" = 10 ]
    demo_files_made_as_new empty
}

# `demo DIR` where DIR does not exist (its parent has a default ACL): made,
# and filled as an empty one is.
row_demo_makes_a_new_directory() {
    have_attribute_tools || return
    mkdir parent && setfacl -d -m u:1234:rw parent
    (umask 022 && "$T" demo parent/new >/dev/null 2>err)
    status=$?
    check "exit status 0, got $status" status_is 0
    check "ten pictures: $(ls parent/new/*.bmp 2>/dev/null | wc -l)" [ "$(ls parent/new/*.bmp 2>/dev/null | wc -l)" = 10 ]
    check "the page" [ -f parent/new/index.html ]
    demo_files_made_as_new parent/new
}

# Terminating signals beyond the usual twelve, each delivered during an
# in-place edit (see signal_leaves_nothing).
row_signal_usr1_leaves_nothing() { signal_leaves_nothing USR1; }
row_signal_usr2_leaves_nothing() { signal_leaves_nothing USR2; }
row_signal_alrm_leaves_nothing() { signal_leaves_nothing ALRM; }
row_signal_prof_leaves_nothing() { signal_leaves_nothing PROF; }
row_signal_vtalrm_leaves_nothing() { signal_leaves_nothing VTALRM; }
row_signal_io_leaves_nothing() { signal_leaves_nothing IO; }
row_signal_pwr_leaves_nothing() { signal_leaves_nothing PWR; }
row_signal_rtmin_leaves_nothing() { signal_leaves_nothing RTMIN; }

# SIGKILL while the library writes the edited copy, over an existing picture
# and as a new output: nothing at all is left in the directory, no named file.
row_sigkill_during_the_writing_leaves_nothing() {
    have_interposer || return
    local nth
    make_bmp big.bmp 600 400
    for nth in 1 5 10; do
        rm -rf s && mkdir s && cp big.bmp s/k.bmp
        sent_at KILL "op=write,path=/proc/self/fd/,nth=$nth"
        check "SIGKILL at write $nth ended the host: status $status" status_is 137
        check "SIGKILL at write $nth over k.bmp: [$(names_in s)]" [ "$(names_in s)" = k.bmp ]
        check "SIGKILL at write $nth: k.bmp as it was" same big.bmp s/k.bmp
        rm -rf s && mkdir s
        env "$(preload "$interposer")" TINTWELL_FAULTS="op=write,path=/proc/self/fd/,nth=$nth,signal=KILL;op=write,path=/proc/self/fd/,limit=65536" \
            setsid "$T" -q invert big.bmp s/new.bmp 2>/dev/null &
        wait $! 2>/dev/null
        check "SIGKILL at write $nth of a new output: [$(names_in s)]" [ "$(names_in s)" = "" ]
    done
}

# ---- the runner -------------------------------------------------------------

# A row that runs part of itself in a namespace of its own calls this
# script again, which then runs just that part (inside_NAME) and exits with
# its status.
if [[ -n ${TINTWELL_INSIDE:-} ]]; then
    "inside_$TINTWELL_INSIDE"
    exit $?
fi

# In the order they are defined, or those named on the command line.
mapfile -t rows < <(grep -oE '^row_[a-z0-9_]+\(\)' "$0" | tr -d '()')
(($#)) && rows=("${@/#/row_}")
passed=0
failed=0
# The rows that run as another user reach their folders.
mkdir -p "$scratch/rows" && chmod 0755 "$scratch" "$scratch/rows"
for row in "${rows[@]}"; do
    dir="$scratch/rows/${row#row_}"
    failed_mark="$scratch/rows/${row#row_}.failed"
    mkdir -p "$dir" && chmod 0755 "$dir"
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
