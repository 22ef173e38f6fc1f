#!/usr/bin/env bash
# Tests of the Windows DLL, one per subcommand, run by ctest (see
# CMakeLists.txt, which passes the paths in TINTWELL_* variables). Wine runs
# headless in its own prefix, WINEPREFIX under the build tree, made by
# `setup` and removed, with its wineserver stopped, by `cleanup`.
set -euo pipefail

export WINEDEBUG=-all
# No .NET or HTML engine installers when the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Wine maps drive Z: to the Unix root.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

wine_host() { "$TINTWELL_WINE" "$TINTWELL_WINE_HOST" "$@"; }

setup() {
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    "$TINTWELL_WINE" wineboot --init >/dev/null 2>&1
    "$TINTWELL_WINESERVER" --wait
    [ -f "$WINEPREFIX/system.reg" ] || fail "wineboot made no prefix in $WINEPREFIX"
}

cleanup() {
    # With WINEPREFIX set, this stops that prefix's wineserver alone.
    "$TINTWELL_WINESERVER" --kill 2>/dev/null || true
    rm -rf "$WINEPREFIX"
}

export_directory() {
    local dump exports imports
    dump=$("$TINTWELL_OBJDUMP" -p "$TINTWELL_DLL")
    grep -Eq '^Name[[:space:]]+[0-9a-f]+ KORVANETINTWELL\.dll$' <<<"$dump" || fail "module name is not KORVANETINTWELL.dll"
    grep -Eq '^Ordinal Base[[:space:]]+1$' <<<"$dump" || fail "ordinal base is not 1"
    grep -Eq '^[[:space:]]+Export Address Table[[:space:]]+00000001$' <<<"$dump" || fail "not exactly one export"
    exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | grep -F '[' | grep -vF 'Table')
    [ "$exports" = $'\t[   0] Tintwell' ] || fail "exports are: $exports"
    # Only system DLLs: the GCC runtime and C++ library are linked in.
    imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | sort | tr '\n' ' ')
    [ "$imports" = "KERNEL32.dll msvcrt.dll " ] || fail "imports: $imports"
}

# Prints the resource directory as "type", "  name" and "    language" lines.
resource_tree() {
    "$TINTWELL_OBJDUMP" -p "$TINTWELL_DLL" | awk '
        /^The \.rsrc Resource Directory section/ { on = 1; next }
        on && /Entry:/ {
            match($0, /^[0-9a-f]+ +/)
            level = (RLENGTH - 4) / 2 - 1
            if (match($0, /ID: 0x[0-9a-f]+/)) id = substr($0, RSTART + 4, RLENGTH - 4)
            else if (match($0, /\]: [^,]+/)) id = substr($0, RSTART + 3, RLENGTH - 3)
            printf "%*s%s %s\n", 2 * level, "", (level == 0 ? "type" : level == 1 ? "name" : "language"), id
        }'
}

resource_directory() {
    local expected actual
    # TYPELIB 1, string block 7 (strings 96 to 111, so 101) and version 1.
    expected='type TYPELIB
  name 0x000001
    language 0x000409
type 0x000006
  name 0x000007
    language 0x000409
type 0x000010
  name 0x000001
    language 0x000409'
    actual=$(resource_tree)
    [ "$actual" = "$expected" ] || fail "resource directory:
$actual"
}

exports_by_ordinal_and_name() {
    wine_host exports "$(windows_path "$TINTWELL_DLL")"
}

module_info() {
    local actual="$TINTWELL_WORK/module_info.txt"
    mkdir -p "$TINTWELL_WORK"
    wine_host info "$(windows_path "$TINTWELL_DLL")" >"$actual"
    cmp "$TINTWELL_EXPECTED_INFO" "$actual" || {
        diff "$TINTWELL_EXPECTED_INFO" "$actual" >&2
        fail "the DLL's resources differ from $TINTWELL_EXPECTED_INFO"
    }
}

refused_load() {
    wine_host refuse "$(windows_path "$TINTWELL_REFUSING_DLL")"
}

# ----- edits compared with the Linux build -----

linux_host() { "$TINTWELL_LINUX_BUILD/bin/tintwell" --module "$TINTWELL_LINUX_BUILD/lib/libKorvaneTintwell.so.1" "$@"; }

le32() {
    local v=$(($1 & 0xFFFFFFFF))
    # shellcheck disable=SC2059  # the format is the four bytes' escapes
    printf "$(printf '\\x%02x' $((v & 255)) $((v >> 8 & 255)) $((v >> 16 & 255)) $((v >> 24 & 255)))"
}

# bmp NAME WIDTH HEIGHT PIXEL_BYTES: a 24-bit header and that many pixel
# bytes taken from the demo picture.
bmp() {
    {
        printf 'BM'
        le32 $((54 + $4))
        le32 0
        le32 54
        le32 40
        le32 "$2"
        le32 "$3"
        printf '\x01\x00\x18\x00'
        le32 0; le32 "$4"; le32 2835; le32 2835; le32 0; le32 0
        tail -c +55 demo/original.bmp | head -c "$4"
    } >"$1"
}

# biWidth * biHeight * 3 of a file's header, 0 when the file is too short.
pixel_bytes() {
    local fields
    [ "$(stat -c %s "$1")" -ge 26 ] || { echo 0; return; }
    read -r -a fields < <(od -An -t d4 -j 18 -N 8 "$1")
    echo $((fields[0] * fields[1] * 3))
}

# make_inputs [without-suite]: the pictures of the comparisons, in the current
# directory; the BMP Suite's too, unless told otherwise.
make_inputs() {
    linux_host demo demo >/dev/null
    cp demo/original.bmp original.bmp
    cp demo/4-gray.bmp gray.bmp
    bmp tiny_3x2.bmp 3 2 24
    bmp one_1x1.bmp 1 1 4
    bmp row_4x1.bmp 4 1 12
    bmp zero_height.bmp 7 0 0
    bmp negative_height.bmp 5 -1 0
    bmp width_minus_one.bmp -1 5 0
    bmp both_negative.bmp -2 -3 0
    bmp large_header_only.bmp 1000 1000 0
    head -c 1000 original.bmp >short.bmp
    head -c 30 original.bmp >inside_header.bmp
    : >empty.bmp
    mkdir -p a_directory
    cp tiny_3x2.bmp inplace.bmp
    # Rows longer than the 1 MiB slice, from a file that ends early: each row
    # goes in pieces, and the pixels the file lacks are zero.
    bmp wide.bmp 400001 2 300000
    cp wide.bmp inplace_wide.bmp
    head -c 3000 /dev/urandom >existing_output.bmp  # written over, then cut
    cp tiny_3x2.bmp "é.bmp"  # in the ANSI code page (1252): opens on both
    cp tiny_3x2.bmp A.bmp    # "Ā.bmp" best-fits to "A.bmp": must not open it
    cp tiny_3x2.bmp "$(printf 'n%.0s' {1..195}).bmp"  # 199 bytes: opens
    cp tiny_3x2.bmp "$(printf 'n%.0s' {1..196}).bmp"  # 200 bytes: refused
    local suite file count suite_dir
    [[ ${1:-} != without-suite ]] || return 0
    suite_dir=$(bmp_suite_dir) || exit 1
    [[ -n $suite_dir ]] || return 0
    for suite in g q b; do
        for file in "$suite_dir/$suite"/*.bmp; do
            [ -f "$file" ] || continue
            count=$(pixel_bytes "$file")
            # Large claimed sizes would write pictures of up to 2 GiB.
            ((count <= 8 << 20)) || continue
            cp "$file" "suite_${suite}_$(basename "$file")"
        done
    done
}

# The BMP Suite: where TINTWELL_BMPSUITE says (a folder that is not the suite
# is a mistake), else beside the source tree. Without it, nothing is printed
# and the suite's pictures are left out, which the test says in a line the
# skip report reads; under TINTWELL_REQUIRE_ALL=1 (as in CI) that fails.
bmp_suite_dir() {
    if [[ -n ${TINTWELL_BMPSUITE:-} ]]; then
        [[ -d $TINTWELL_BMPSUITE/g ]] ||
            fail "TINTWELL_BMPSUITE=$TINTWELL_BMPSUITE is not the BMP Suite's folder (it has no g/ folder)"
        echo "$TINTWELL_BMPSUITE"
    elif [[ -d $TINTWELL_BMPSUITE_BESIDE_SOURCE/g ]]; then
        echo "$TINTWELL_BMPSUITE_BESIDE_SOURCE"
    else
        local why="no BMP Suite at $TINTWELL_BMPSUITE_BESIDE_SOURCE; set TINTWELL_BMPSUITE to its folder"
        [[ ${TINTWELL_REQUIRE_ALL:-0} != 1 ]] || fail "TINTWELL_REQUIRE_ALL=1, but $why"
        echo "SKIP: $why: its pictures are left out" >&2
    fi
}

# Writes the comparison plan: FUNCTION, AMOUNT, INPUT [, OUTPUT] per line.
make_plan() {
    local input n=0 call
    local -a calls=("1 0" "2 40" "3 300" "4 0" "5 0" "6 128" "8 -1" "9 77" "10 0" "11 0" "0 0"
                    "-3 5" "7 0" "7 1" "2 -2147483648" "6 2147483647")
    for input in *.bmp a_directory missing.bmp; do
        [[ $input =~ ^(large_header_only|inplace|wide|inplace_wide|existing_output)\.bmp$ ]] && continue
        for call in "${calls[@]}"; do
            printf '%s\t%s\t%s\tout_%d.bmp\n' "${call% *}" "${call#* }" "$input" $((n++))
        done
    done
    printf '1\t0\tlarge_header_only.bmp\tout_large_copy.bmp\n'
    printf '5\t0\tlarge_header_only.bmp\tout_large_invert.bmp\n'
    printf '5\t0\tinplace.bmp\tinplace.bmp\n'
    printf '5\t0\twide.bmp\tout_wide.bmp\n'
    printf '2\t40\tinplace_wide.bmp\tinplace_wide.bmp\n'
    printf '3\t9\ttiny_3x2.bmp\texisting_output.bmp\n'
    printf '2\t40\toriginal.bmp\n'                        # no output name: every save fails
    printf '1\t0\toriginal.bmp\tno_directory/out.bmp\n'   # the output cannot be created
    printf '1\t0\t\xc4\x80.bmp\tout_best_fit.bmp\n'       # U+0100
}

# Noise is drawn from each runtime's rand(): checked against bounds instead.
make_noise_plan() {
    local input amount
    for input in original.bmp tiny_3x2.bmp; do
        for amount in 50 300 -20; do
            printf '7\t%s\t%s\tnoise_%s_%s\n' "$amount" "$input" "$amount" "$input"
        done
    done
}

# Runs a plan through the Linux host: each call's stdout, then "[result N]".
run_linux_plan() {
    local function amount input output status result
    while IFS=$'\t' read -r function amount input output; do
        status=0
        linux_host raw "$function" "$amount" "$input" ${output:+"$output"} 2>stderr.txt || status=$?
        case $status in
        0) result=$([ "$function" = 10 ] && echo 0 || echo 999) ;;
        2) result=$(sed -n 's/^tintwell: .*: result \(-\{0,1\}[0-9]*\): .*/\1/p' stderr.txt) ;;  # the line names the file
        *) fail "tintwell exited with $status on: $function $amount $input $output" ;;
        esac
        printf '[result %s]\n' "$result"
    done <"$1"
    rm -f stderr.txt
}

# check_noise_bounds COPY NOISE AMOUNT: same header and length, zero
# padding, and every channel raised by 0 to min(|AMOUNT|, 256) - 1.
check_noise_bounds() {
    local bound=${3#-}
    ((bound > 256)) && bound=256
    [ "$(stat -c %s "$1")" = "$(stat -c %s "$2")" ] || fail "$2 and $1 differ in length"
    paste -d' ' <(od -An -v -tu1 -w1 "$1") <(od -An -v -tu1 -w1 "$2") | awk -v bound=$((bound - 1)) '
        function le32(at) { return b[at] + 256 * b[at + 1] + 65536 * b[at + 2] + 16777216 * b[at + 3] }
        NR <= 54 { b[NR - 1] = $1; if ($1 != $2) { print "header byte " NR - 1 " differs"; exit 1 } next }
        NR == 55 { row = le32(18) * 3; padding = (4 - row % 4) % 4 }
        {
            column = (NR - 55) % (row + padding)
            top = $1 + bound > 255 ? 255 : $1 + bound
            if (column >= row ? $2 != 0 : $2 < $1 || $2 > top) { print "byte " NR - 1 ": " $1 " became " $2; exit 1 }
            if ($2 != $1) raised++
        }
        END { if (bound > 0 && !raised) { print "no channel was raised"; exit 1 } }' || fail "noise out of bounds in $2"
}

edits_match_linux() {
    local work="$TINTWELL_WORK/edits" side
    rm -rf "$work"
    mkdir -p "$work/inputs"
    (cd "$work/inputs" && make_inputs && make_plan >../plan.txt && make_noise_plan >../noise_plan.txt)
    # Names that no UTF-8 command line can carry, and one outside the ANSI
    # code page: each must fail to load as a missing file does on Linux.
    printf '1\t0\t\\uD800.bmp\tout.bmp\n1\t0\tx\\uDC00.bmp\tout.bmp\n1\t0\t\xec\x82\xac\xec\xa7\x84.bmp\tout.bmp\n' \
        >"$work/windows_only_plan.txt"
    printf '1\t0\tmissing.bmp\tout.bmp\n%.0s' 1 2 3 >"$work/windows_only_expected_plan.txt"
    cp "$work/inputs/tiny_3x2.bmp" "$work/inputs/$(printf '\xec\x82\xac\xec\xa7\x84').bmp"
    for side in linux windows; do cp -r "$work/inputs" "$work/$side"; done

    (cd "$work/linux" && run_linux_plan ../plan.txt >../linux_stdout && run_linux_plan ../noise_plan.txt \
        >../linux_noise_stdout && run_linux_plan ../windows_only_expected_plan.txt >../windows_only_expected)
    local dll
    dll=$(windows_path "$TINTWELL_DLL")
    (cd "$work/windows" && wine_host run "$dll" ../plan.txt >../windows_stdout &&
        wine_host run "$dll" ../noise_plan.txt >../windows_noise_stdout &&
        wine_host run "$dll" ../windows_only_plan.txt >../windows_only_stdout)

    cmp "$work/linux_stdout" "$work/windows_stdout" || fail "messages or result codes differ"
    cmp "$work/linux_noise_stdout" "$work/windows_noise_stdout" || fail "noise messages or result codes differ"
    cmp "$work/windows_only_expected" "$work/windows_only_stdout" || fail "Windows-only names"
    local function amount input output compared=0
    while IFS=$'\t' read -r function amount input output; do
        [ -n "$output" ] || continue
        for side in linux windows; do [ ! -d "$work/$side/$output" ] || fail "$output is a directory"; done
        if [ -e "$work/linux/$output" ] || [ -e "$work/windows/$output" ]; then
            cmp "$work/linux/$output" "$work/windows/$output" || fail "$output differs ($function $amount $input)"
            compared=$((compared + 1))
        fi
    done <"$work/plan.txt"
    while IFS=$'\t' read -r function amount input output; do
        (cd "$work/linux" && linux_host copy "$input" "copy_$input" >/dev/null)
        check_noise_bounds "$work/linux/copy_$input" "$work/windows/$output" "$amount"
    done <"$work/noise_plan.txt"
    echo "$(wc -l <"$work/plan.txt") calls compared, $compared output files identical," \
        "$(wc -l <"$work/noise_plan.txt") noise pictures within bounds"
}

# Sourced by tintwell_exe_tests.sh for its helpers: no test runs then.
[[ ${BASH_SOURCE[0]} == "$0" ]] || return 0

case "${1:-}" in
setup | cleanup | export_directory | resource_directory | exports_by_ordinal_and_name | module_info | \
    refused_load | edits_match_linux) "$1" ;;
*) fail "unknown test '${1:-}'" ;;
esac
