#!/usr/bin/env bash
# ARM: arm64 and armhf, cross-built with Debian's cross compilers. For each
# target: the library, the host and the tests built and the tests run under
# qemu-user (`make test-TARGET`), then the Debian package built, checked
# with dpkg-deb, unpacked, its tintwell run under qemu-user, and both
# example consumers built against it with the cross compiler and run.
# The pictures of every step must be byte-identical to x86-64's.
#
# Under emulation run the tests of the library and the host (the ARM test
# presets): the differential tests, the fault and streaming tables, every
# gray colour, the large pictures, the host's tests, the module's, the
# manual pages. Left to the x86-64 run: the web page and the demo page in
# Chromium (the browser is the build machine's own), the install test (the
# packages' consumers below stand for it), the scripts that test no built
# code (install_packages, skip_reasons, catalogs), the Python package's
# tests (the build machine's Python cannot load an ARM library), and the
# scripts that start the host once per case (batch, safe_writing,
# host_safety, parallel_recipe, bmp_variants): the same sources as on
# x86-64, no code of their own per target, and the slowest under qemu by
# far, each start of the host an emulator start. Timings are never taken
# under emulation.
set -euo pipefail
cd "$(dirname "$0")/../.."
source_dir=$PWD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The x86-64 pictures every target's must match, from the host `make test`
# built.
build/release/bin/tintwell demo "$work/x86-64-demo" >/dev/null

stage_start=$SECONDS
for target in arm64 armhf; do
    echo "== $target: build, and the tests under qemu-user"
    start=$SECONDS
    make test-$target
    echo "-- $target: built and tested in $((SECONDS - start)) s"

    echo "== $target: the Debian package"
    start=$SECONDS
    make package-$target
    deb=$(ls build/$target-package/korvanetintwell_*_$target.deb)
    dpkg-deb --info "$deb"
    test "$(dpkg-deb --field "$deb" Architecture)" = "$target"
    # Depends comes from dpkg-shlibdeps reading the target's libraries: the
    # C library alone, as the C++ runtime is linked in.
    depends=$(dpkg-deb --field "$deb" Depends)
    grep -q "\blibc6 (>= " <<<"$depends" || { echo "$deb: no libc6 in Depends: $depends" >&2; exit 1; }
    if grep -Eq "libstdc\+\+6|libgcc-s1" <<<"$depends"; then
        echo "$deb: depends on the C++ runtime, which is linked in: $depends" >&2
        exit 1
    fi

    root=$work/$target-root
    dpkg-deb --extract "$deb" "$root"
    # The target's triplet and emulator, as its toolchain file names them.
    toolchain=$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' build/$target-package/CMakeCache.txt)
    triplet=$(sed -n 's/^set(TINTWELL_CROSS_TRIPLET \(.*\))$/\1/p' "$toolchain")
    qemu=$(sed -n 's/^set(TINTWELL_CROSS_QEMU \(.*\))$/\1/p' "$toolchain")
    # qemu looks under the unpacked tree first, as if the package were installed.
    run() { "$qemu" -L "$root" "$@"; }
    file -L "$root/usr/bin/tintwell" "$root/usr/lib/$triplet/libKorvaneTintwell.so.1"

    echo "-- $target: the packaged tintwell writes the demo, byte for byte as on x86-64"
    demo=$work/$target-demo
    run "$root/usr/bin/tintwell" demo "$demo" >/dev/null
    for picture in "$work"/x86-64-demo/*.bmp; do
        cmp "$picture" "$demo/${picture##*/}"
    done

    echo "-- $target: the C consumer, with pkg-config and ${triplet}-gcc"
    mkdir "$work/$target-c"
    PKG_CONFIG_SYSROOT_DIR=$root PKG_CONFIG_LIBDIR=$root/usr/lib/$triplet/pkgconfig \
        make -s -C "$work/$target-c" -f "$source_dir/examples/consumer-c/Makefile" CC="$triplet-gcc"
    (cd "$demo" && run "$work/$target-c/consumer-c") >"$work/consumer.out"
    cmp "$demo/2-brighten.bmp" "$demo/consumer-c.bmp"

    echo "-- $target: the C++ consumer, with find_package and ${triplet}-g++"
    cmake -S examples/consumer-cpp -B "$work/$target-cpp" -DCMAKE_PREFIX_PATH="$root/usr" \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" >"$work/cmake.log" ||
        { cat "$work/cmake.log"; exit 1; }
    cmake --build "$work/$target-cpp" >>"$work/cmake.log" || { cat "$work/cmake.log"; exit 1; }
    (cd "$demo" && run "$work/$target-cpp/consumer-cpp") >"$work/consumer.out"
    cmp "$demo/4-gray.bmp" "$demo/consumer-cpp.bmp"
    file "$work/$target-c/consumer-c" "$work/$target-cpp/consumer-cpp"
    echo "-- $target: packaged, checked and consumed in $((SECONDS - start)) s"
done
echo "-- the stage took $((SECONDS - stage_start)) s"
echo "== arm64 and armhf built, tested under qemu-user and packaged"
