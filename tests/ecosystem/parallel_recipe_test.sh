#!/usr/bin/env bash
# The manual's GNU parallel recipe, as the page prints it, run on this
# machine (--sshlogin :) in runs of 50 files: every output must be what one
# tintwell batch writes, report.jsonl must hold one object per picture, and
# the job log one successful line per run.
#   parallel_recipe_test.sh TINTWELL MAN_PAGE
source "$(dirname "$0")/lib.sh"
tintwell=$1
man_page=$2
pictures=120
runs=3  # 120 files in runs of 50

command -v parallel >/dev/null || skip "GNU parallel is missing (Debian's parallel)"

recipe=$(plain_man "$man_page" | grep -B1 -A1 '^    parallel -0')
[[ $recipe == *"--sshlogin node1,node2,node3"* ]] || fail "no parallel recipe in the manual: [$recipe]"
recipe=${recipe//node1,node2,node3/:}
recipe=${recipe//-N 500/-N 50}
recipe=${recipe//\/shared\//}
recipe=${recipe//tintwell -q/\"\$tintwell\" -q}

cd "$scratch"
mkdir photos
for ((i = 0; i < pictures; i++)); do make_bmp "photos/p$i.bmp" $((1 + i % 9)) $((1 + i % 4)); done
# parallel's notice about citing it goes to stderr; it asks nothing.
export HOME=$scratch
echo "-- $recipe"
eval "$recipe"

"$tintwell" -q invert --out-dir expected -j 2 -- photos/*.bmp
for picture in photos/*.bmp; do
    expect_same_file "output of $picture" "expected/${picture#photos/}" "inverted/${picture#photos/}"
done
expect_eq "objects in report.jsonl" "$pictures" "$(grep -c '"kind":"succeeded","result":999,"exit_status":0' report.jsonl)"
expect_eq "lines of report.jsonl" "$pictures" "$(wc -l <report.jsonl)"
expect_eq "runs in the job log, all with exit status 0" "$runs" \
    "$(awk -F'\t' 'NR > 1 && $7 == 0' batch.log | wc -l)"
expect_eq "temporaries left" "" "$(find . -name '.*.tintwell-*')"
finish
