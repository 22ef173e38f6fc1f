#!/usr/bin/env bash
# Builds both example consumers against an installed KorvaneTintwell (the C
# one with pkg-config, the C++ one with find_package), runs them in a demo
# directory without LD_LIBRARY_PATH and compares their pictures with the
# demo's.
#   consumers_test.sh SOURCE_DIR TINTWELL [PREFIX]
# Without PREFIX the library must be installed where compilers and the
# loader look by default (a package under /usr).
source "$(dirname "$0")/lib.sh"
source_dir=$(realpath "$1")
tintwell=$2
prefix=${3:-}
command -v pkg-config >/dev/null || skip "pkg-config is missing"

cmake_args=()
if [[ -n $prefix ]]; then
    libdir=$(dirname "$(find "$prefix" -name libKorvaneTintwell.so.1 | head -n 1)")
    export PKG_CONFIG_PATH=$libdir/pkgconfig
    cmake_args=(-DCMAKE_PREFIX_PATH="$prefix")
fi

"$tintwell" demo "$scratch/demo" >/dev/null

echo "-- C, with pkg-config"
pkg-config --cflags --libs korvanetintwell
mkdir "$scratch/c"
make -s -C "$scratch/c" -f "$source_dir/examples/consumer-c/Makefile"
(cd "$scratch/demo" && env -u LD_LIBRARY_PATH "$scratch/c/consumer-c") >"$scratch/c.out"
expect_contains "C consumer" "$scratch/c.out" "consumer-c: wrote consumer-c.bmp"
expect_same_file "C consumer's brighten 60" "$scratch/demo/2-brighten.bmp" "$scratch/demo/consumer-c.bmp"

echo "-- C++, with find_package"
cmake -S "$source_dir/examples/consumer-cpp" -B "$scratch/cpp" "${cmake_args[@]}" >"$scratch/cmake.log" ||
    { cat "$scratch/cmake.log"; fail "configuring the C++ consumer"; }
cmake --build "$scratch/cpp" >>"$scratch/cmake.log" || { cat "$scratch/cmake.log"; fail "building the C++ consumer"; }
(cd "$scratch/demo" && env -u LD_LIBRARY_PATH "$scratch/cpp/consumer-cpp") >"$scratch/cpp.out"
expect_contains "C++ consumer" "$scratch/cpp.out" "consumer-cpp: wrote consumer-cpp.bmp"
expect_same_file "C++ consumer's gray" "$scratch/demo/4-gray.bmp" "$scratch/demo/consumer-cpp.bmp"

echo "-- both link the library itself, with a run path unless the loader searches its directory anyway"
pc_libdir=$(pkg-config --variable=libdir korvanetintwell)
case $pc_libdir in
/usr/lib | /usr/lib/* | /lib | /lib/*) expected_runpath= ;;
*) expected_runpath=$pc_libdir ;;
esac
for program in "$scratch/c/consumer-c" "$scratch/cpp/consumer-cpp"; do
    readelf -d "$program" >"$scratch/dynamic"
    grep -q 'NEEDED.*\[libKorvaneTintwell\.so\.1\]' "$scratch/dynamic" ||
        fail "$program does not link libKorvaneTintwell.so.1"
    runpath=$(sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p' "$scratch/dynamic" | tr ':' '\n' | grep -v '^$' || true)
    expect_eq "$program's run path" "$expected_runpath" "$runpath"
done

finish
