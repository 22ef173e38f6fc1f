#!/usr/bin/env bash
# The batch form of the host against single runs of the same pictures:
#   batch_test.sh TINTWELL FAKE_MODULE
source "$(dirname "$0")/lib.sh"
tintwell=$(realpath "$1")
fake_module=$(realpath "$2")
cd "$scratch"

# 200 pictures of assorted odd sizes; the first is large, so it finishes
# after many others and the order of printing is really put to the test.
mkdir in
make_bmp in/p000.bmp 1501 1001
for i in $(seq 1 199); do
    make_bmp "$(printf 'in/p%03d.bmp' "$i")" $((1 + i * 7 % 97)) $((1 + i * 13 % 61))
done
pictures=(in/p*.bmp)

# Single runs, one process each; noise shows that every batch picture also
# starts from an unseeded rand().
single_stdout() { # EDIT AMOUNT OUTDIR FILE... : the concatenated stdout of single runs
    local edit=$1 amount=$2 out_dir=$3
    shift 3
    mkdir -p "$out_dir"
    for file in "$@"; do
        "$tintwell" "$edit" "$amount" "$file" "$out_dir/$(basename "$file")" || true
    done
}

echo "-- 200 pictures, -j 2, against 200 single runs"
single_stdout noise 77 single "${pictures[@]}" >single.out 2>/dev/null
run "$tintwell" noise 77 --out-dir batch -j 2 "${pictures[@]}"
expect_eq "exit status of a good batch" 0 "$status"
expect_same_file "stdout of the batch (in input order)" single.out out
expect_eq "summary" "tintwell: 200 pictures: 200 written, 0 failed" "$(cat err)"
differing=0
for file in "${pictures[@]}"; do
    cmp -s "single/${file#in/}" "batch/${file#in/}" || differing=$((differing + 1))
done
expect_eq "outputs that differ from single runs" 0 "$differing"
grep -q $'\r' err && fail "a progress line was drawn although stderr is no terminal"

echo "-- refusals do not stop the other pictures"
mkdir in/directory.bmp out-mixed single-mixed
mkdir out-mixed/p004.bmp single-mixed/p004.bmp # a directory where the output goes
mixed=(in/p001.bmp missing.bmp in/p002.bmp in/directory.bmp in/p003.bmp in/p004.bmp in/p005.bmp)
# A batch prints what single runs print, in the same order: each picture's
# messages, then its line on stderr naming the file.
for file in "${mixed[@]}"; do
    { "$tintwell" invert "$file" "single-mixed/$(basename "$file")" 2>&1 || true; } |
        sed "s|^tintwell: single-mixed/|tintwell: out-mixed/|" >>single-mixed.out
done
echo "tintwell: 7 pictures: 4 written, 3 failed (3 refused)" >>single-mixed.out
status=0
"$tintwell" invert --out-dir out-mixed -j 2 "${mixed[@]}" >batch-mixed.out 2>&1 || status=$?
expect_eq "exit status when pictures are refused and no call fails" 4 "$status"
expect_same_file "messages, refusal lines and summary of a mixed batch" single-mixed.out batch-mixed.out
run "$tintwell" invert --out-dir out-mixed -j 2 "${mixed[@]}"
expect_contains "line of a missing picture" err "tintwell: missing.bmp: no such file; nothing written"
expect_contains "line of a directory as input" err "tintwell: in/directory.bmp: a directory, not a picture; nothing written"
expect_contains "line of a directory as output" err "tintwell: out-mixed/p004.bmp: a directory; nothing written"
for file in p001.bmp p002.bmp p003.bmp p005.bmp; do
    expect_same_file "output of $file beside refusals" "single-mixed/$file" "out-mixed/$file"
done

echo "-- a picture whose process dies fails alone"
fake_pictures=(in/a-killed.bmp in/b-unknown.bmp in/c-loud.bmp in/d-good.bmp in/e-exits.bmp in/f-good.bmp)
for file in "${fake_pictures[@]}"; do make_bmp "$file" 1 1; done
run "$tintwell" --module "$fake_module" brighten 5 --out-dir out-fake -j 3 "${fake_pictures[@]}"
expect_eq "exit status with a killed picture" 2 "$status"
expect_eq "failure lines and summary" \
    "tintwell: in/a-killed.bmp: the edit was killed by signal 9 (Killed)
tintwell: in/b-unknown.bmp: result 77: unknown result code
tintwell: in/e-exits.bmp: the edit ended its process (exit status 0) without returning a result
tintwell: 6 pictures: 3 written, 3 failed" "$(cat err)"
expect_eq "lines of the loud picture, all of them, together" 20001 "$(grep -c 'fake: c-loud.bmp' out)"
expect_eq "pictures' messages in input order" \
    "c-loud.bmp d-good.bmp f-good.bmp" "$(grep 'amount 5 function 2' out | cut -d' ' -f2 | xargs)"

echo "-- --in-place"
mkdir in-place expected-in-place
cp in/p01*.bmp in-place/
for file in in-place/*.bmp; do
    "$tintwell" threshold 128 "$file" "expected-in-place/$(basename "$file")" >/dev/null
done
run "$tintwell" threshold 128 --in-place -j 2 in-place/*.bmp
expect_eq "exit status of an in-place batch" 0 "$status"
for file in in-place/*.bmp; do
    expect_same_file "in-place output" "expected-in-place/$(basename "$file")" "$file"
done

echo "-- --in-place over a mixed folder: every refused file stays byte for byte"
# set_field FILE OFFSET BYTE...: overwrites header bytes in place.
set_field() {
    local file=$1 offset=$2
    shift 2
    printf "$(printf '\\x%02x' "$@")" | dd of="$file" bs=1 seek="$offset" conv=notrunc status=none
}
mkdir mixed-in-place
make_bmp mixed-in-place/good.bmp 40 30
make_bmp mixed-in-place/rgb32.bmp 40 30 && set_field mixed-in-place/rgb32.bmp 28 32 0
make_bmp mixed-in-place/pal8.bmp 40 30 && set_field mixed-in-place/pal8.bmp 28 8 0
echo "a text file, not a picture" >mixed-in-place/notes.bmp
make_bmp cut.bmp 40 30 && head -c 1000 cut.bmp >mixed-in-place/cut.bmp
cp -r mixed-in-place mixed-before
"$tintwell" -q invert mixed-before/good.bmp good-inverted.bmp
run "$tintwell" -q invert --in-place -j 2 mixed-in-place/{cut,good,notes,pal8,rgb32}.bmp
expect_eq "exit status of a mixed in-place batch" 4 "$status"
refused_tail="; tintwell cannot edit it exactly; nothing written (convert IN BMP3:OUT or gm convert IN BMP3:OUT writes a BMP that tintwell edits)"
expect_eq "lines of a mixed in-place batch" \
    "tintwell: mixed-in-place/cut.bmp: the file ends after 1,000 of 3,654 bytes$refused_tail
tintwell: mixed-in-place/notes.bmp: not a BMP file$refused_tail
tintwell: mixed-in-place/pal8.bmp: pixels start at byte 54, inside its header or palette$refused_tail
tintwell: mixed-in-place/rgb32.bmp: the file ends after 3,654 of 4,854 bytes$refused_tail
tintwell: 5 pictures: 1 written, 4 failed (4 refused)" "$(cat err)"
for file in cut notes pal8 rgb32; do
    expect_same_file "refused $file.bmp" "mixed-before/$file.bmp" "mixed-in-place/$file.bmp"
done
expect_same_file "the picture edited beside refusals" good-inverted.bmp mixed-in-place/good.bmp
expect_eq "files in the mixed folder" 5 "$(find mixed-in-place -type f | wc -l)"

echo "-- read"
run "$tintwell" read -j 2 in/p001.bmp missing.bmp in/p002.bmp
expect_eq "exit status of read with a missing picture" 4 "$status"
expect_eq "summary of read" "tintwell: 3 pictures: 2 read, 1 failed (1 refused)" "$(tail -n 1 err)"
run "$tintwell" read in/p001.bmp in/p002.bmp
expect_eq "read of two pictures without -j" "1 tintwell: read needs INPUT alone, got 2 files" "$status $(head -n 1 err)"

echo "-- -- ends the options"
cp in/p001.bmp ./-dash.bmp
run "$tintwell" copy --out-dir out-dash -- -dash.bmp
expect_eq "a file name after --" 0 "$status"
expect_same_file "output of a file named -dash.bmp" ./-dash.bmp out-dash/-dash.bmp

echo "-- refused before anything is edited"
mkdir in2 && cp in/p001.bmp in2/p001.bmp && ln -s in link-to-in
cp in/p001.bmp same.bmp
# Each case: the arguments after tintwell, then the first line expected on stderr.
refusals=(
    "invert --out-dir never"$'\t'"tintwell: no FILE given"
    "invert -j 2 in/p001.bmp"$'\t'"tintwell: invert of several pictures needs --out-dir DIR or --in-place"
    "invert --out-dir never --in-place in/p001.bmp"$'\t'"tintwell: --out-dir and --in-place exclude each other"
    "invert --out-dir never -j 0 in/p001.bmp"$'\t'"tintwell: -j needs a whole number of pictures at a time, at least 1"
    "invert --out-dir never -j two in/p001.bmp"$'\t'"tintwell: -j needs a whole number of pictures at a time, at least 1"
    "invert in/p001.bmp --out-dir"$'\t'"tintwell: --out-dir needs a DIR"
    "invert --out-dir never --out-dir never2 in/p001.bmp"$'\t'"tintwell: --out-dir given twice"
    "invert --out-dir never --fast in/p001.bmp"$'\t'"tintwell: unknown option '--fast'"
    "read --out-dir never in/p001.bmp"$'\t'"tintwell: read writes nothing: it takes no --out-dir or --in-place"
    "brighten --out-dir never in/p001.bmp"$'\t'"tintwell: brighten needs an AMOUNT, an integer from -2147483648 to 2147483647"
    "invert --out-dir never in/p001.bmp in2/p001.bmp"$'\t'"tintwell: 'in/p001.bmp' and 'in2/p001.bmp' would both be written to 'never/p001.bmp'"
    "invert --out-dir in in/p002.bmp"$'\t'"tintwell: 'in/p002.bmp' would overwrite the input 'in/p002.bmp' (use --in-place to edit pictures in place)"
    "invert --out-dir link-to-in in/p002.bmp"$'\t'"tintwell: 'link-to-in/p002.bmp' would overwrite the input 'in/p002.bmp' (use --in-place to edit pictures in place)"
    "invert --out-dir . ./same.bmp"$'\t'"tintwell: './same.bmp' would overwrite the input './same.bmp' (use --in-place to edit pictures in place)"
    "invert --out-dir never in/.."$'\t'"tintwell: 'in/..' names no file to write into never"
    "invert --in-place same.bmp ./same.bmp"$'\t'"tintwell: 'same.bmp' and './same.bmp' are the same picture"
)
cp in/p002.bmp p002-before.bmp
for refusal in "${refusals[@]}"; do
    read -r -a words <<<"${refusal%%$'\t'*}"
    run "$tintwell" "${words[@]}"
    expect_eq "exit status of: ${words[*]}" 1 "$status"
    expect_eq "message for: ${words[*]}" "${refusal#*$'\t'}" "$(head -n 1 err)"
done
expect_eq "output directories of refused batches" "" "$(ls -d never* 2>/dev/null || true)"
expect_same_file "input of a refused batch" p002-before.bmp in/p002.bmp
run "$tintwell" invert --out-dir never $'\xff.bmp'
expect_eq "a file name that is not UTF-8" "1 tintwell: file name is not valid UTF-8: '"$'\xff'".bmp'" "$status $(head -n 1 err)"

echo "-- the library cannot be loaded; the output directory cannot be made"
run "$tintwell" --module "$scratch/no-such-library.so" invert --out-dir never in/p001.bmp
expect_eq "exit status without a library" 3 "$status"
[[ -e never ]] && fail "an output directory was made without a library"
run "$tintwell" invert --out-dir same.bmp/out in/p001.bmp
expect_eq "exit status when the output directory cannot be made" 1 "$status"
expect_contains "message when the output directory cannot be made" err "tintwell: cannot use the output directory same.bmp/out"

echo "-- a progress line when stderr is a terminal"
if command -v script >/dev/null; then
    script -qec "'$tintwell' copy --out-dir out-tty -j 2 in/p001.bmp in/p002.bmp in/p003.bmp 2>&1 >/dev/null" /dev/null >tty.out
    expect_contains "progress line" tty.out $'\rtintwell: 3/3 done, 0 failed'
    expect_contains "summary after the progress line" tty.out $'\r\e[Ktintwell: 3 pictures: 3 written, 0 failed'
else
    skip_part_unless_required "script(1) is missing: the progress line on a terminal is not checked"
fi

finish
