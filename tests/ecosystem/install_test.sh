#!/usr/bin/env bash
# cmake --install of a build tree into a prefix of its own: the files land
# where GNUInstallDirs says, the host finds its library without any search
# path (also after the whole tree is moved), and the CMake and pkg-config
# files let programs link the library.
#   install_test.sh BUILD_DIR SOURCE_DIR
source "$(dirname "$0")/lib.sh"
build_dir=$(realpath "$1")
source_dir=$(realpath "$2")
prefix=$scratch/prefix

cmake --install "$build_dir" --prefix "$prefix" >"$scratch/install.log"
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build_dir/CMakeCache.txt")
echo "-- installed tree (library directory $libdir)"
(cd "$prefix" && find . | sort)

echo "-- files"
expected=(
    bin/tintwell
    "$libdir/libKorvaneTintwell.so.1.0.0"
    include/korvane/tintwell.h
    share/man/man1/tintwell.1.gz
    share/man/ko/man1/tintwell.1.gz
    share/locale/ko/LC_MESSAGES/tintwell.mo
    "$libdir/cmake/KorvaneTintwell/KorvaneTintwellConfig.cmake"
    "$libdir/cmake/KorvaneTintwell/KorvaneTintwellConfigVersion.cmake"
    "$libdir/cmake/KorvaneTintwell/KorvaneTintwellTargets.cmake"
    "$libdir/pkgconfig/korvanetintwell.pc"
)
[[ -e $source_dir/README.md ]] && expected+=(share/doc/korvanetintwell/README.md)
for file in "${expected[@]}"; do
    [[ -f $prefix/$file ]] || fail "$file is not installed"
done
expect_eq "SONAME link" libKorvaneTintwell.so.1.0.0 "$(readlink "$prefix/$libdir/libKorvaneTintwell.so.1")"
expect_eq "link for the linker" libKorvaneTintwell.so.1 "$(readlink "$prefix/$libdir/libKorvaneTintwell.so")"
expect_eq "SONAME" "libKorvaneTintwell.so.1" \
    "$(readelf -d "$prefix/$libdir/libKorvaneTintwell.so.1" | sed -n 's/.*SONAME.*\[\(.*\)\]/\1/p')"
expect_eq "exported symbols" "Tintwell" \
    "$(nm -D --defined-only "$prefix/$libdir/libKorvaneTintwell.so.1" | awk '{ print $3 }')"
expect_same_file "installed header" "$source_dir/include/korvane/tintwell.h" "$prefix/include/korvane/tintwell.h"
expect_same_file "installed manual page" "$build_dir/man/tintwell.1" <(gzip -dc "$prefix/share/man/man1/tintwell.1.gz")
expect_same_file "installed Korean manual page" "$build_dir/man/ko/tintwell.1" \
    <(gzip -dc "$prefix/share/man/ko/man1/tintwell.1.gz")
expect_contains "pkg-config prefix: the one installed to" "$prefix/$libdir/pkgconfig/korvanetintwell.pc" "prefix=$prefix"

echo "-- the Python package, in the prefix's Python path"
python_dir=$(cd "$prefix" && echo lib/python3*/site-packages)
for file in __init__.py _host.py _library.py distributed.py errors.py _installed.py py.typed; do
    [[ -f $prefix/$python_dir/tintwell/$file ]] || fail "$python_dir/tintwell/$file is not installed"
done
run env -u TINTWELL_PROGRAM -u TINTWELL_LIBRARY PYTHONDONTWRITEBYTECODE=1 PYTHONPATH="$prefix/$python_dir" \
    /usr/bin/python3 -c 'import tintwell._locate as where; print(where.program(), where.library())'
expect_eq "what the installed package runs and loads" \
    "$prefix/bin/tintwell $prefix/$libdir/libKorvaneTintwell.so.1" "$(cat "$scratch/out")"

echo "-- version file of the CMake package"
cat >"$scratch/version_check.cmake" <<EOF
string(REPLACE . ";" parts \${PACKAGE_FIND_VERSION})
list(GET parts 0 PACKAGE_FIND_VERSION_MAJOR)
include("$prefix/$libdir/cmake/KorvaneTintwell/KorvaneTintwellConfigVersion.cmake")
message("\${PACKAGE_VERSION_COMPATIBLE}")
EOF
version_check() { # REQUESTED_VERSION: whether the package accepts it
    cmake -DPACKAGE_FIND_VERSION="$1" -DCMAKE_SIZEOF_VOID_P=8 -P "$scratch/version_check.cmake" 2>&1
}
expect_eq "version 1.0 is accepted" TRUE "$(version_check 1.0)"
expect_eq "version 2.0 is refused" FALSE "$(version_check 2.0)"

echo "-- the host finds its library beside it"
run env -u LD_LIBRARY_PATH "$prefix/bin/tintwell" demo "$scratch/demo"
expect_eq "installed tintwell demo" 0 "$status"
expect_eq "pictures of the demo" 10 "$(ls "$scratch/demo"/*.bmp | wc -l)"
# The loader's own account of what it opened: the library of this tree, not
# one found on a search path.
LD_DEBUG=files env -u LD_LIBRARY_PATH "$prefix/bin/tintwell" read "$scratch/demo/original.bmp" 2>"$scratch/loader.log" >/dev/null
expect_contains "library the host loads" "$scratch/loader.log" "file=$prefix/$libdir/libKorvaneTintwell.so.1 [0];  dynamically loaded"
mv "$prefix" "$scratch/moved"
run env -u LD_LIBRARY_PATH "$scratch/moved/bin/tintwell" demo "$scratch/demo-moved"
expect_eq "tintwell demo after moving the installed tree" 0 "$status"
# The catalogs are found from the program's directory too.
if locale -a | grep -qix 'ko_KR\.utf-\?8'; then
    run env -u LD_LIBRARY_PATH -u LANGUAGE LC_ALL=ko_KR.UTF-8 "$scratch/moved/bin/tintwell" bogus
    expect_contains "the moved tree in Korean" "$scratch/err" "tintwell: 알 수 없는 편집 'bogus'"
else
    skip_part_unless_required "the ko_KR.UTF-8 locale is missing: the installed catalog is not tried"
fi
mv "$scratch/moved" "$prefix"

echo "-- programs link the installed library"
run bash "$source_dir/tests/ecosystem/consumers_test.sh" "$source_dir" "$prefix/bin/tintwell" "$prefix"
cat "$scratch/out" "$scratch/err"
((status == 77)) && skip "the consumers need pkg-config"
expect_eq "consumers against the installed tree" 0 "$status"

finish
