#!/usr/bin/env bash
# The host never loses a picture: kills at chosen calls, pictures it may
# not write, read-only directories, links and the attributes of a replaced
# file, each with the outcome the README states; and the ways of making the
# temporary (an unnamed O_TMPFILE, linked in through /proc where the kernel
# wants that, a named one where O_TMPFILE is refused).
#   safe_writing_test.sh TINTWELL [FAULT_INTERPOSER]
# Without the fault interposer (a ThreadSanitizer build cannot preload it)
# the kills are left out.
source "$(dirname "$0")/lib.sh"
tintwell=$(realpath "$1")
interposer=${2:+$(realpath "$2")}
cd "$scratch"

# The temporaries a kill may leave, found as the README says.
leftovers() { find "$@" -name '.*.tintwell-??????' | sort; }

# Runs a command as a user without root's right to write anything: as
# nobody when we are root, else as ourselves. Files it must reach are given
# to that user first (own_by_other_user).
other_uid=$(id -u)
if ((EUID == 0)); then
    other_uid=65534
    chmod 0755 "$scratch"
fi
as_other_user() {
    if ((EUID == 0)); then
        setpriv --reuid=65534 --regid=65534 --clear-groups "$@"
    else
        "$@"
    fi
}
# The host's stderr without the lines a coverage build's runtime adds when
# the other user cannot write its counters.
host_lines() { grep -v '^profiling:' "$1" || true; }
own_by_other_user() { if ((EUID == 0)); then chown -R 65534:65534 "$@"; fi; }

# Rows of 31 pixels carry padding, which the library writes as zeros: a copy
# makes a picture that inverting twice gives back byte for byte.
make_bmp random.bmp 31 17
"$tintwell" -q copy random.bmp a.bmp
"$tintwell" -q invert a.bmp inverted-a.bmp

echo "-- mode: a replaced output keeps its own, a new one gets the umask's"
cp a.bmp keep.bmp && chmod 0640 keep.bmp
"$tintwell" -q invert a.bmp keep.bmp
expect_eq "mode of a replaced output" 640 "$(stat -c %a keep.bmp)"
(umask 027 && "$tintwell" -q invert a.bmp new.bmp)
expect_eq "mode of a new output" 640 "$(stat -c %a new.bmp)"
expect_same_file "a new output" inverted-a.bmp new.bmp

echo "-- a symlinked output: its target is replaced, the link stays"
cp a.bmp target.bmp && ln -s target.bmp link.bmp
"$tintwell" -q invert a.bmp link.bmp
[[ -L link.bmp ]] || fail "the link itself was replaced"
expect_same_file "target of a symlinked output" inverted-a.bmp target.bmp

echo "-- a symlinked input, edited in place and over itself"
mkdir real && cp a.bmp real/picture.bmp && ln -s real/picture.bmp via-link.bmp
"$tintwell" -q invert --in-place via-link.bmp 2>/dev/null
[[ -L via-link.bmp ]] || fail "the link of an in-place input was replaced"
expect_same_file "target of a symlinked in-place input" inverted-a.bmp real/picture.bmp
"$tintwell" -q invert via-link.bmp via-link.bmp
expect_same_file "target edited over itself through its link" a.bmp real/picture.bmp
expect_eq "temporaries left beside the target" "" "$(leftovers real .)"

echo "-- a hard-linked output: the name gets a new file, the other link keeps the old picture"
cp a.bmp hard-1.bmp && ln hard-1.bmp hard-2.bmp
"$tintwell" -q invert hard-1.bmp hard-1.bmp
expect_same_file "the replaced name" inverted-a.bmp hard-1.bmp
expect_same_file "the other link" a.bmp hard-2.bmp
expect_eq "links of the new file" 1 "$(stat -c %h hard-1.bmp)"

echo "-- extended attributes of a replaced output are kept"
cp a.bmp labelled.bmp
attribute=""
for name in user.tintwell.note trusted.tintwell.note; do
    if python3 -c "import os, sys; os.setxattr('labelled.bmp', sys.argv[1], b'kept')" "$name" 2>/dev/null; then
        attribute=$name
        break
    fi
done
if [[ -n "$attribute" ]]; then
    "$tintwell" -q invert labelled.bmp labelled.bmp
    expect_same_file "edited picture with an attribute" inverted-a.bmp labelled.bmp
    expect_eq "attribute $attribute after the edit" kept \
        "$(python3 -c "import os, sys; print(os.getxattr('labelled.bmp', sys.argv[1]).decode())" "$attribute")"
else
    skip_part "this file system keeps no extended attributes: their keeping is not checked"
fi

echo "-- a 0444 picture and a read-only directory are refused, untouched"
mkdir shared && cp a.bmp shared/locked.bmp && chmod 0444 shared/locked.bmp
mkdir shared/sealed && cp a.bmp shared/sealed/open.bmp
own_by_other_user shared
chmod 0555 shared/sealed
status=0
as_other_user "$tintwell" -q invert --in-place shared/locked.bmp 2>err || status=$?
expect_eq "exit status for a 0444 picture" 4 "$status"
expect_eq "line for a 0444 picture" "tintwell: shared/locked.bmp: not writable (permission denied); nothing written" "$(head -n 1 err)"
expect_same_file "a refused 0444 picture" a.bmp shared/locked.bmp
status=0
as_other_user "$tintwell" -q invert shared/sealed/open.bmp shared/sealed/open.bmp 2>err || status=$?
expect_eq "exit status in a read-only directory" 4 "$status"
expect_eq "line for a read-only directory" \
    "tintwell: shared/sealed/open.bmp: cannot make the edited copy beside it in '$scratch/shared/sealed': permission denied; nothing written" \
    "$(host_lines err)"
expect_same_file "a picture in a read-only directory" a.bmp shared/sealed/open.bmp
chmod 0755 shared/sealed
if ((EUID == 0)); then
    # A file the caller may write but whose owner it could not keep.
    cp a.bmp shared/roots.bmp && chmod 0666 shared/roots.bmp
    status=0
    as_other_user "$tintwell" -q invert --in-place shared/roots.bmp 2>err || status=$?
    expect_eq "exit status for another user's picture" 4 "$status"
    expect_eq "line for another user's picture" \
        "tintwell: shared/roots.bmp: owned by another user (uid 0), whom its edited copy could not keep as owner; nothing written" \
        "$(head -n 1 err)"
    expect_same_file "another user's picture" a.bmp shared/roots.bmp
    # Root may write a 0444 picture, as any edit would: it keeps its mode.
    cp a.bmp root-locked.bmp && chmod 0444 root-locked.bmp
    "$tintwell" -q invert --in-place root-locked.bmp 2>/dev/null
    expect_same_file "a 0444 picture edited by root" inverted-a.bmp root-locked.bmp
    expect_eq "mode of a 0444 picture edited by root" 444 "$(stat -c %a root-locked.bmp)"
fi
expect_eq "temporaries left by refusals" "" "$(leftovers shared)"

echo "-- no room for a second copy, and a bind-mounted file, in a mount namespace of our own"
if unshare -m true 2>/dev/null; then
    mkdir small bound-dir && make_bmp small-picture.bmp 120 110 && cp a.bmp bound-source.bmp && touch bound-dir/bound.bmp
    # shellcheck disable=SC2016
    unshare -m bash -c '
        mount -t tmpfs -o size=64k tmpfs small && cp small-picture.bmp small/picture.bmp
        "$1" -q invert --in-place small/picture.bmp 2>small.err
        echo $? >small.status
        cmp -s small-picture.bmp small/picture.bmp && echo same >small.same
        ls -A small >small.files
        mount --bind bound-source.bmp bound-dir/bound.bmp
        "$1" -q invert bound-dir/bound.bmp bound-dir/bound.bmp 2>bound.err
        echo $? >bound.status' bash "$tintwell"
    expect_eq "exit status without room for a second copy" 4 "$(cat small.status)"
    expect_eq "line without room for a second copy" \
        "tintwell: small/picture.bmp: no room for the edited copy beside it in '$scratch/small' (39654 bytes needed); nothing written" \
        "$(head -n 1 small.err)"
    expect_eq "a picture without room for a second copy" same "$(cat small.same 2>/dev/null)"
    expect_eq "files beside it" picture.bmp "$(cat small.files)"
    expect_eq "exit status for a bind-mounted file" 4 "$(cat bound.status)"
    expect_eq "line for a bind-mounted file" \
        "tintwell: bound-dir/bound.bmp: cannot be replaced by its edited copy: device or resource busy; nothing written" \
        "$(host_lines bound.err)"
    expect_same_file "a bind-mounted picture" a.bmp bound-source.bmp
    expect_eq "temporaries left beside a bind-mounted file" "" "$(leftovers bound-dir)"
else
    skip_part "no mount namespace here: a full disk and a bind-mounted output are not checked"
fi

echo "-- outputs that are not regular files are written where they stand"
mkfifo pipe.bmp
"$tintwell" -q invert a.bmp pipe.bmp &
writer=$!
cat pipe.bmp >from-pipe.bmp
wait "$writer"
expect_same_file "picture written into a FIFO" inverted-a.bmp from-pipe.bmp
run "$tintwell" -q invert a.bmp /dev/null
expect_eq "exit status with /dev/null as output" 0 "$status"
run "$tintwell" -q --sync invert a.bmp synced.bmp
expect_same_file "a picture written with --sync" inverted-a.bmp synced.bmp

# Kills at chosen calls: the fault interposer, preloaded, sends a signal to
# the host's process group at the Nth call of one kind (a read of the
# picture, a read at an offset, a write of the edited copy, the rename).
# Reads and writes move at most 64 KiB a call, so that a picture takes many
# calls to choose from. What happens is the same on any machine, however
# slow or busy: no kill depends on a clock.
slow_calls="op=read,path=/proc/self/fd/,limit=65536;op=pread,path=/proc/self/fd/,limit=65536"
slow_calls+=";op=write,path=/proc/self/fd/,limit=65536"

# choose_kill_points COUNT COMMAND...: runs COMMAND once unkilled, counting
# its calls of each kind, and sets kill_points to COUNT calls ("OP N") spread
# evenly over them, the first and the last (the rename) included.
choose_kill_points() {
    local count=$1 op calls n sequence=()
    shift
    rm -f tally
    env "$(preload "$interposer")" TINTWELL_FAULTS="$slow_calls;op=rename" TINTWELL_FAULTS_TALLY=$PWD/tally "$@" 2>/dev/null
    for op in read pread write rename; do
        calls=$(sed -n "s/^$op //p" tally)
        for ((n = 1; n <= calls; n++)); do sequence+=("$op $n"); done
    done
    ((${#sequence[@]} > 1)) || fail "the run made no calls to kill at: $(paste -sd' ' tally)"
    kill_points=()
    for ((n = 0; n < count; n++)); do
        kill_points+=("${sequence[n * (${#sequence[@]} - 1) / (count - 1)]}")
    done
}

# kill_at_chosen_calls SIGNAL COMMAND...: runs COMMAND in a session of its
# own once for each of kill_points, with SIGNAL sent to its process group at
# that call, and calls check_pictures once every process of it is gone.
# Counts in $landed the runs that SIGNAL ended (exit status 128+N): a run
# that ended otherwise is a failure, for then the signal tested nothing.
kill_at_chosen_calls() {
    local signal=$1 point op n path leader status number
    shift
    number=$(kill -l "$signal")
    landed=0
    for point in "${kill_points[@]}"; do
        read -r op n <<<"$point"
        path=/proc/self/fd/  # how the library names the picture and its copy
        [[ $op == rename ]] && path=.bmp
        # SIGINT is left to its default, which bash would have background
        # commands ignore.
        env "$(preload "$interposer")" TINTWELL_FAULTS="op=$op,path=$path,nth=$n,signal=$signal;$slow_calls" \
            setsid env --default-signal=INT "$@" 2>/dev/null &
        leader=$!
        status=0
        wait "$leader" 2>/dev/null || status=$?
        while group_alive "$leader"; do sleep 0.01; done
        if ((status == 128 + number)); then
            landed=$((landed + 1))
        else
            fail "SIG$signal at $point: the host ended with exit status $status, not by the signal"
        fi
        check_pictures
    done
}

# Each picture must hold its original bytes or its edited bytes.
third_states=0
left_behind=0
check_picture() { # FILE ORIGINAL EDITED
    # One snapshot compared twice: a rename between two reads of the name
    # would otherwise look like a third state.
    cp "$1" snapshot.bmp
    if ! cmp -s snapshot.bmp "$2" && ! cmp -s snapshot.bmp "$3"; then
        third_states=$((third_states + 1))
        fail "$1 is neither its original nor its edited picture"
    fi
}
remove_leftovers() { # DIR: as the README says
    local found
    found=$(leftovers "$1" | wc -l)
    left_behind=$((left_behind + found))
    find "$1" -name '.*.tintwell-??????' -delete
}

if [[ -z $interposer ]]; then
    skip_part "the fault interposer cannot be preloaded into this build's host: kills are not checked"
    finish
    exit 0
fi
# Sanitizer builds: the interposer comes before the sanitizer's runtime.
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:verify_asan_link_order=0"

echo "-- SIGKILL to the process group of an in-place batch, at 50 chosen calls"
mkdir batch originals edited
for i in $(seq 1 16); do make_bmp "originals/p$i.bmp" 300 200; done
cp originals/*.bmp batch/
"$tintwell" -q invert --out-dir edited originals/*.bmp 2>/dev/null
# invert twice is the original: a picture edited again is still one of the two.
check_pictures() {
    for file in originals/*.bmp; do check_picture "batch/${file#originals/}" "$file" "edited/${file#originals/}"; done
    remove_leftovers batch
}
# Each picture is edited in a process of its own, whose calls are one
# picture's: the first process to reach the chosen call kills them all.
choose_kill_points 50 "$tintwell" -q invert originals/p1.bmp calibration.bmp
kill_at_chosen_calls KILL "$tintwell" -q invert --in-place -j 2 batch/*.bmp
echo "$landed kills of the batch, $third_states pictures in a third state, $left_behind temporaries left behind"
expect_eq "kills of the batch that landed" 50 "$landed"
expect_eq "files in the batch's folder" 16 "$(find batch -type f | wc -l)"

echo "-- SIGKILL at 50 chosen calls of a single edit over an existing output"
make_bmp big.bmp 1200 900
make_bmp previous.bmp 5 5
"$tintwell" -q invert big.bmp inverted-big.bmp
mkdir single && cp previous.bmp single/out.bmp
third_states=0
left_behind=0
check_pictures() {
    check_picture single/out.bmp previous.bmp inverted-big.bmp
    remove_leftovers single
    cp previous.bmp single/out.bmp
}
choose_kill_points 50 "$tintwell" -q invert big.bmp single/out.bmp
cp previous.bmp single/out.bmp
kill_at_chosen_calls KILL "$tintwell" -q invert big.bmp single/out.bmp
echo "$landed kills of the single edit, $third_states outputs in a third state, $left_behind temporaries left behind"
expect_eq "kills of the single edit that landed" 50 "$landed"

echo "-- SIGTERM and SIGINT at 10 chosen calls each: the host lives to remove its temporary"
choose_kill_points 10 "$tintwell" -q invert big.bmp single/out.bmp
cp previous.bmp single/out.bmp
for signal in TERM INT; do
    third_states=0
    left_behind=0
    kill_at_chosen_calls "$signal" "$tintwell" -q invert big.bmp single/out.bmp
    expect_eq "SIG$signal signals that ended the host" 10 "$landed"
    expect_eq "outputs left in a third state by SIG$signal" 0 "$third_states"
    expect_eq "temporaries left behind by SIG$signal" 0 "$left_behind"
done

echo "-- a signal the caller ignores stays ignored: the edit goes on and replaces the picture"
cp a.bmp ignoring.bmp
status=0
env "$(preload "$interposer")" TINTWELL_FAULTS="op=rename,path=ignoring.bmp,signal=USR1" \
    setsid env --ignore-signal=USR1 "$tintwell" -q invert ignoring.bmp ignoring.bmp 2>/dev/null || status=$?
expect_eq "exit status with SIGUSR1 ignored" 0 "$status"
expect_same_file "a picture edited with SIGUSR1 ignored" inverted-a.bmp ignoring.bmp

echo "-- linkat with AT_EMPTY_PATH refused (older kernels, without CAP_DAC_READ_SEARCH): linked through /proc"
mkdir through-proc && cp a.bmp through-proc/p.bmp && chmod 0640 through-proc/p.bmp
rm -f tally
env "$(preload "$interposer")" TINTWELL_FAULTS="op=link,path=.tintwell-,nth=1,fail=ENOENT" TINTWELL_FAULTS_TALLY=$PWD/tally \
    "$tintwell" -q invert through-proc/p.bmp through-proc/p.bmp
expect_eq "links tried" 2 "$(sed -n 's/^link //p' tally)"
expect_same_file "a picture linked in through /proc" inverted-a.bmp through-proc/p.bmp
expect_eq "its mode" 640 "$(stat -c %a through-proc/p.bmp)"
expect_eq "files beside it" p.bmp "$(ls -A through-proc)"

echo "-- O_TMPFILE refused (FAT, NFS...): the named temporary, which SIGKILL leaves and find finds"
mkdir named && cp a.bmp named/p.bmp && chmod 0640 named/p.bmp
env "$(preload "$interposer")" TINTWELL_FAULTS="op=tmpfile,fail=EOPNOTSUPP" "$tintwell" -q invert named/p.bmp named/p.bmp
expect_same_file "a picture edited through a named temporary" inverted-a.bmp named/p.bmp
expect_eq "its mode" 640 "$(stat -c %a named/p.bmp)"
(umask 027 && env "$(preload "$interposer")" TINTWELL_FAULTS="op=tmpfile,fail=EOPNOTSUPP" "$tintwell" -q invert a.bmp named/new.bmp)
expect_eq "mode of a new output through a named temporary" 640 "$(stat -c %a named/new.bmp)"
status=0
{ env "$(preload "$interposer")" TINTWELL_FAULTS="op=tmpfile,fail=EOPNOTSUPP;op=write,path=/proc/self/fd/,nth=1,signal=KILL" \
    setsid "$tintwell" -q invert named/p.bmp named/p.bmp 2>/dev/null; } 2>/dev/null || status=$?
expect_eq "exit status of a killed edit" 137 "$status"
expect_eq "the named temporary SIGKILL left" 1 "$(leftovers named | wc -l)"
expect_same_file "the picture beside it" inverted-a.bmp named/p.bmp
status=0
{ env "$(preload "$interposer")" TINTWELL_FAULTS="op=write,path=/proc/self/fd/,nth=1,signal=KILL" \
    setsid "$tintwell" -q invert named/p.bmp named/p.bmp 2>/dev/null; } 2>/dev/null || status=$?
expect_eq "exit status of a killed edit with O_TMPFILE" 137 "$status"
expect_eq "what SIGKILL left with O_TMPFILE, besides the earlier one" 1 "$(leftovers named | wc -l)"

finish
