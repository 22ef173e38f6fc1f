#!/usr/bin/env bash
# Tests of tintwell.exe and the release archive under Wine, one per
# subcommand, run by ctest (see CMakeLists.txt for the TINTWELL_* paths). The
# prefix, the helpers and the Linux host come from wine_tests.sh.
source "$(dirname "$0")/wine_tests.sh"

wine_tintwell() { "$TINTWELL_WINE" "$TINTWELL_EXE" "$@"; }

# Both hosts in English unless a test asks for another language: Wine takes
# the user's display language from LANG.
unset LANGUAGE LC_ALL LC_MESSAGES
export LANG=C.UTF-8

# Only system DLLs: the GCC runtime and the C++ library are linked in.
exe_imports() {
    local imports
    imports=$("$TINTWELL_OBJDUMP" -p "$TINTWELL_EXE" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -f | tr '\n' ' ')
    [ "$imports" = "KERNEL32.dll msvcrt.dll ole32.dll OLEAUT32.dll USER32.dll VERSION.dll " ] ||
        fail "tintwell.exe imports: $imports"
}

# With stdout closed, the output must not take descriptor 1 and receive the
# messages printed while it is open.
streams_above_standard_descriptors() {
    local work="$TINTWELL_WORK/closed_stdout"
    rm -rf "$work"
    mkdir -p "$work"
    cd "$work"
    linux_host demo demo >/dev/null
    wine_host closed "$(windows_path "$TINTWELL_DLL")" demo/original.bmp copy.bmp || fail "the copy failed"
    cmp demo/original.bmp copy.bmp || fail "the output took stdout's descriptor"
}

# record SIDE ARGUMENTS...: runs one host on the arguments and appends the
# command, its exit status, stdout and stderr to ../SIDE.transcript.
record() {
    local side=$1 status=0
    shift
    if [ "$side" = linux ]; then
        linux_host "$@" >../stdout.bin 2>../stderr.bin || status=$?
    else
        wine_tintwell "$@" >../stdout.bin 2>../stderr.bin || status=$?
    fi
    { printf '== %s: status %d\n' "$*" "$status"; cat ../stdout.bin; echo '-- stderr'; cat ../stderr.bin; } \
        >>"../$side.transcript"
}

# same_on_both_sides WORK WHAT: the two hosts' transcripts and pictures
# under WORK are the same.
same_on_both_sides() {
    local work=$1
    rm -f "$work/stdout.bin" "$work/stderr.bin"
    cmp "$work/linux.transcript" "$work/windows.transcript" || {
        diff "$work/linux.transcript" "$work/windows.transcript" >&2
        fail "exit statuses, stdout or stderr differ"
    }
    diff -r "$work/linux" "$work/windows" >&2 || fail "the pictures written differ"
    echo "$(grep -c '^== ' "$work/linux.transcript") $2: the same statuses, bytes and pictures"
}

# Every edit but noise (drawn from each runtime's rand()), read, failures,
# refusals, -q, raw, a replaced output and a batch, through both hosts in
# copies of one folder: the transcripts and the folders afterwards must be
# identical.
exe_matches_linux() {
    local work="$TINTWELL_WORK/exe" side form picture n
    local -a forms=(copy "brighten 40" "darken 300" gray invert "threshold 128" "tint-up 77" "tint-down -1")
    local -a pictures=(original.bmp gray.bmp tiny_3x2.bmp one_1x1.bmp row_4x1.bmp short.bmp empty.bmp
                       missing.bmp a_directory "é.bmp")
    rm -rf "$work"
    mkdir -p "$work/inputs"
    (cd "$work/inputs" && make_inputs without-suite && cp tiny_3x2.bmp "with  spaces.bmp")
    for side in linux windows; do
        cp -r "$work/inputs" "$work/$side"
        (
            cd "$work/$side"
            n=0
            for form in "${forms[@]}"; do
                for picture in "${pictures[@]}"; do
                    # shellcheck disable=SC2086  # the form is EDIT [AMOUNT]
                    record "$side" $form "$picture" "out_$((n++)).bmp"
                done
            done
            for picture in "${pictures[@]}"; do record "$side" read "$picture"; done
            record "$side" -q invert original.bmp out_quiet.bmp
            record "$side" raw 11 0 original.bmp out_raw.bmp
            record "$side" --force copy short.bmp out_forced.bmp
            record "$side" raw 2 40 original.bmp
            record "$side" gray original.bmp inplace.bmp
            record "$side" invert original.bmp no_directory/out.bmp
            record "$side" brighten 40 --out-dir batch -j 2 original.bmp tiny_3x2.bmp short.bmp missing.bmp
            # Each picture's process gets its names through a command line.
            record "$side" invert --out-dir "batch out" -j 2 "with  spaces.bmp" "é.bmp" original.bmp
            record "$side" read -j 2 original.bmp gray.bmp
            record "$side" tint-up 9 --in-place -j 2 one_1x1.bmp row_4x1.bmp
            record "$side" --module-info
            record "$side" frobnicate original.bmp out.bmp
        )
    done
    same_on_both_sides "$work" "commands"
}

# The BMP kinds the host adapts (palettes, RLE, masks, OS/2 and V5 headers,
# top-down rows) and those it refuses, through both hosts: the same
# statuses, lines and pictures, batches and --to-24-bit included.
exe_matches_linux_on_bmp_kinds() {
    local work="$TINTWELL_WORK/kinds" side suite_dir file
    suite_dir=$(bmp_suite_dir) || exit 1
    [[ -n $suite_dir ]] || return 0  # bmp_suite_dir said why
    rm -rf "$work"
    mkdir -p "$work/inputs"
    for file in g/pal8.bmp g/pal4rle.bmp g/pal1.bmp g/pal8os2.bmp g/pal8topdown.bmp g/rgb16-565.bmp g/rgb32bf.bmp \
        g/pal8v5.bmp q/rgba16-4444.bmp q/rgb24prof.bmp q/rgba64.bmp q/rgb32-111110.bmp b/badrle.bmp; do
        cp "$suite_dir/$file" "$work/inputs/${file%%/*}_${file#*/}"
    done
    for side in linux windows; do
        cp -r "$work/inputs" "$work/$side"
        (
            cd "$work/$side"
            for file in *.bmp; do
                record "$side" invert "$file" "out_$file"
                record "$side" -q gray "$file" "gray_$file"
                record "$side" read "$file"
            done
            record "$side" noise 9 g_pal8.bmp noise.bmp
            record "$side" -q --to-24-bit threshold 100 g_pal4rle.bmp wide.bmp
            record "$side" -q darken 50 --out-dir batch -j 2 g_pal8.bmp g_rgb16-565.bmp q_rgba64.bmp
        )
    done
    same_on_both_sides "$work" "commands on BMP kinds"
}

# replace_while_held SHARING EXPECTED_STATUS: tintwell.exe replaces a file
# that a viewer holds open; it succeeds when the viewer shares deletion, and
# otherwise refuses, leaving the file and its folder as they were.
replace_while_held() {
    local status=0 line
    rm -rf "$1" && mkdir "$1" && cd "$1"
    linux_host demo demo >/dev/null
    cp demo/original.bmp held.bmp
    coproc HOLDER { wine_host hold held.bmp "$1"; }
    read -r line <&"${HOLDER[0]}"
    [ "$line" = holding ] || fail "the viewer did not open the file"
    wine_tintwell -q invert demo/original.bmp held.bmp 2>stderr.txt || status=$?
    exec {HOLDER[1]}>&-
    wait "$HOLDER_PID"
    [ "$status" = "$2" ] || fail "held for $1: status $status, expected $2: $(cat stderr.txt)"
    if [ "$2" = 0 ]; then
        cmp held.bmp demo/5-invert.bmp || fail "held for $1: not replaced by its edit"
        [ ! -s stderr.txt ] || fail "held for $1: $(cat stderr.txt)"  # ReplaceFileW, no fallback
    else
        cmp held.bmp demo/original.bmp || fail "held for $1: changed although refused"
        grep -q "held.bmp: cannot be replaced by its edited copy: " stderr.txt || fail "held for $1: $(cat stderr.txt)"
    fi
    [ -z "$(find . -maxdepth 1 -name '.tintwell-*')" ] || fail "held for $1: a temporary was left behind"
    cd ..
}

# ReplaceFileW: attributes kept, a file held open by a viewer replaced when
# it may be, a read-only file refused.
replaced_outputs() {
    local work="$TINTWELL_WORK/replaced"
    rm -rf "$work"
    mkdir -p "$work"
    cd "$work"
    replace_while_held delete 0
    replace_while_held read 4
    mkdir attributes && cd attributes
    linux_host demo demo >/dev/null
    cp demo/original.bmp hidden.bmp
    "$TINTWELL_WINE" attrib +h hidden.bmp
    wine_tintwell -q gray demo/original.bmp hidden.bmp || fail "replacing a hidden file failed"
    cmp hidden.bmp demo/4-gray.bmp || fail "the hidden file was not replaced by its edit"
    "$TINTWELL_WINE" attrib hidden.bmp | grep -q '^A *H ' || fail "the hidden attribute was lost"
    cp demo/original.bmp read_only.bmp
    chmod a-w read_only.bmp
    local status=0
    wine_tintwell -q gray demo/original.bmp read_only.bmp 2>stderr.txt || status=$?
    [ "$status" = 4 ] || fail "a read-only output: status $status"
    grep -qx "tintwell: read_only.bmp: read-only, so it cannot be replaced; nothing written" stderr.txt ||
        fail "a read-only output: $(cat stderr.txt)"
}

# One English and one Korean case: tintwell.exe follows the user's display
# language with the catalogs it carries, as the Linux host follows the
# locale: the library's messages rendered in English or shown as printed,
# the host's own lines and --help in the same language, byte for byte.
exe_speaks_the_users_language() {
    local work="$TINTWELL_WORK/languages" language side
    rm -rf "$work"
    mkdir -p "$work/run"
    cd "$work/run"
    linux_host demo demo >/dev/null
    for language in C.UTF-8 ko_KR.UTF-8; do
        for side in linux windows; do
            LANG=$language record "$side" tint-down 300 demo/original.bmp out.bmp
            LANG=$language record "$side" invert demo/missing.bmp out.bmp
            LANG=$language record "$side" frobnicate
        done
    done
    rm -f ../stdout.bin ../stderr.bin
    cmp ../linux.transcript ../windows.transcript || {
        diff ../linux.transcript ../windows.transcript >&2
        fail "the languages differ between the hosts"
    }
    grep -q '^Tinting down red, green and blue$' ../windows.transcript || fail "no English from tintwell.exe"
    grep -q '^감소량을 입력하세요 (R, G, B 순으로)-- stderr$' ../windows.transcript || fail "no Korean bytes from tintwell.exe"
    grep -q "^tintwell: demo/missing.bmp: 그런 파일이 없음; 아무것도 쓰지 않음$" ../windows.transcript ||
        fail "no Korean line from tintwell.exe"
    LANG=ko_KR.UTF-8 wine_tintwell --help | grep -q '^사용법: tintwell' || fail "no Korean help from tintwell.exe"
}

# Unpacks the archive into `$1`.
unpack_archive() {
    [ -f "$TINTWELL_ARCHIVE" ] || fail "no archive at $TINTWELL_ARCHIVE (make windows-package builds it)"
    rm -rf "$1"
    mkdir -p "$1"
    (cd "$1" && cmake -E tar xf "$TINTWELL_ARCHIVE")
}

# The archive holds what it promises, and tintwell.exe runs from it in a
# Wine prefix that has seen nothing of the build.
archive_demo() {
    local work="$TINTWELL_WORK/archive" file
    unpack_archive "$work/unpacked"
    for file in bin/KorvaneTintwell.dll bin/tintwell.exe include/korvane/tintwell.h lib/libKorvaneTintwell.dll.a \
        lib/KorvaneTintwell.def lib/cmake/KorvaneTintwell/KorvaneTintwellConfig.cmake README.md tintwell.txt; do
        [ -f "$work/unpacked/$file" ] || fail "the archive has no $file"
    done
    export WINEPREFIX="$work/prefix"
    setup
    trap cleanup EXIT
    cp -r "$work/unpacked" "$WINEPREFIX/drive_c/KorvaneTintwell"
    # demo writes only into a new or empty folder: an earlier run's goes first.
    rm -rf "$WINEPREFIX/drive_c/demo" "$work/demo"
    (cd "$WINEPREFIX/drive_c" && "$TINTWELL_WINE" 'C:\KorvaneTintwell\bin\tintwell.exe' demo demo >demo.out) ||
        fail "tintwell.exe demo failed"
    (cd "$work" && linux_host demo demo >demo.out)
    cmp "$work/demo.out" "$WINEPREFIX/drive_c/demo.out" || fail "the demo's messages differ from Linux"
    for file in "$work"/demo/*.bmp; do
        [[ $file == */7-noise.bmp ]] && continue
        cmp "$file" "$WINEPREFIX/drive_c/demo/${file##*/}" || fail "the demo's ${file##*/} differs from Linux"
    done
}

# runs_in_demo NAME PROGRAM BIN: runs a consumer in a demo folder, the DLL
# found through WINEPATH, and checks its picture.
runs_in_demo() {
    local demo="$TINTWELL_WORK/consumer/demo_$1"
    rm -rf "$demo"
    (cd "$TINTWELL_WORK/consumer" && linux_host demo "demo_$1" >/dev/null)
    (cd "$demo" && WINEPATH=$(windows_path "$3") "$TINTWELL_WINE" "$2" >"$demo/out.txt") || fail "$1 failed"
    grep -qF "consumer-c: wrote consumer-c.bmp" "$demo/out.txt" || fail "$1 said: $(cat "$demo/out.txt")"
    cmp "$demo/2-brighten.bmp" "$demo/consumer-c.bmp" || fail "$1's brighten 60 differs from the demo's"
}

# The C example built against the unpacked archive with MinGW, once through
# its CMake package and once through the import library alone.
archive_c_consumer() {
    local work="$TINTWELL_WORK/consumer" unpacked="$TINTWELL_WORK/consumer/unpacked"
    unpack_archive "$unpacked"
    export WINEPREFIX="$work/prefix"
    setup
    trap cleanup EXIT
    cmake -S "$TINTWELL_SOURCE/examples/consumer-c" -B "$work/cmake" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$TINTWELL_TOOLCHAIN" -DKorvaneTintwell_DIR="$unpacked/lib/cmake/KorvaneTintwell" \
        >"$work/cmake.log" && cmake --build "$work/cmake" >>"$work/cmake.log" ||
        { cat "$work/cmake.log" >&2; fail "building the C consumer with the CMake package"; }
    "$TINTWELL_MINGW_CC" -std=c11 -Wall -Wextra -Wpedantic -Werror -I"$unpacked/include" \
        "$TINTWELL_SOURCE/examples/consumer-c/consumer.c" -L"$unpacked/lib" -lKorvaneTintwell \
        -o "$work/consumer-implib.exe" || fail "building the C consumer with the import library"
    runs_in_demo cmake_package "$work/cmake/consumer-c.exe" "$unpacked/bin"
    runs_in_demo import_library "$work/consumer-implib.exe" "$unpacked/bin"
}

case "${1:-}" in
exe_imports | streams_above_standard_descriptors | exe_matches_linux | exe_matches_linux_on_bmp_kinds | \
    replaced_outputs | archive_demo | archive_c_consumer | exe_speaks_the_users_language) "$1" ;;
*) fail "unknown test '${1:-}'" ;;
esac
