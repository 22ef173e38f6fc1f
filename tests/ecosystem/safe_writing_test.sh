#!/usr/bin/env bash
# The host never loses a picture: kills at random moments, pictures it may
# not write, read-only directories, links and the attributes of a replaced
# file, each with the outcome the README states.
#   safe_writing_test.sh TINTWELL
source "$(dirname "$0")/lib.sh"
tintwell=$(realpath "$1")
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

# kill_at_random_moments SIGNAL KILLS SECONDS COMMAND...: runs COMMAND in a
# process group of its own again and again, sends SIGNAL to the whole group
# at a random moment of its run, and calls check_pictures after each kill.
# Stops after KILLS kills or SECONDS seconds; SECONDS is generous because
# a machine busy with other builds can make every run several times slower.
kill_at_random_moments() {
    local signal=$1 wanted=$2 seconds=$3
    shift 3
    local started=$(date +%s%N)
    "$@" 2>/dev/null || true
    local run_ms=$((($(date +%s%N) - started) / 1000000 + 1))
    local deadline=$((SECONDS + seconds))
    kills=0
    while ((kills < wanted && SECONDS < deadline)); do
        setsid "$@" 2>/dev/null &
        local leader=$!
        local delay_ms=$((RANDOM % run_ms))
        sleep "$((delay_ms / 1000)).$(printf '%03d' $((delay_ms % 1000)))"
        if kill "-$signal" -- "-$leader" 2>/dev/null; then
            kills=$((kills + 1))
        fi
        wait "$leader" 2>/dev/null || true
        # A killed child may still finish the system call it was in (a
        # rename): give the group a moment to be gone before looking.
        for _ in $(seq 50); do kill -0 -- "-$leader" 2>/dev/null || break; sleep 0.1; done
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

echo "-- SIGKILL to the process group at random moments of an in-place batch"
mkdir batch originals edited
for i in $(seq 1 16); do make_bmp "originals/p$i.bmp" 300 200; done
cp originals/*.bmp batch/
"$tintwell" -q invert --out-dir edited originals/*.bmp 2>/dev/null
# invert twice is the original: a picture edited again is still one of the two.
check_pictures() {
    for file in originals/*.bmp; do check_picture "batch/${file#originals/}" "$file" "edited/${file#originals/}"; done
    remove_leftovers batch
}
kill_at_random_moments KILL 60 300 "$tintwell" -q invert --in-place -j 2 batch/*.bmp
echo "$kills kills of the batch, $third_states pictures in a third state, $left_behind temporaries left behind"
((kills >= 50)) || fail "only $kills kills landed while the batch ran"
expect_eq "files in the batch's folder" 16 "$(find batch -type f | wc -l)"

echo "-- SIGKILL at random moments of a single edit over an existing output"
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
kill_at_random_moments KILL 50 300 "$tintwell" -q invert big.bmp single/out.bmp
echo "$kills kills of the single edit, $third_states outputs in a third state, $left_behind temporaries left behind"
((kills >= 50)) || fail "only $kills kills landed while the edit ran"

echo "-- SIGTERM and SIGINT: the host lives to remove its temporary"
for signal in TERM INT; do
    third_states=0
    left_behind=0
    kill_at_random_moments "$signal" 20 60 "$tintwell" -q invert big.bmp single/out.bmp
    expect_eq "temporaries left behind by SIG$signal ($kills signals)" 0 "$left_behind"
done

finish
