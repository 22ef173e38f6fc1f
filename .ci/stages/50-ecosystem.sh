#!/usr/bin/env bash
# The library as users get it: build the Debian package, install it, use
# tintwell from PATH, build both example consumers against it, open the demo
# page in a real browser, and remove the package again, leaving nothing
# behind; then the same with `cmake --install` under /usr/local. Runs as
# root (it installs into the system) and restores the system whatever fails.
set -euo pipefail
cd "$(dirname "$0")/../.."
source_dir=$PWD
export DEBIAN_FRONTEND=noninteractive
apt_get() { apt-get -q -o DPkg::Lock::Timeout=600 "$@"; }
package=korvanetintwell
installed() { dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; }

if installed || [[ -e /usr/local/bin/tintwell ]]; then
    echo "tintwell is installed already: this stage needs a machine without it" >&2
    exit 1
fi
work=$(mktemp -d)
local_manifest=$source_dir/build/release/install_manifest.txt
rm -f "$local_manifest"  # a test's install into a scratch prefix leaves one
local_dirs_before=$work/usr-local-dirs
find /usr/local -type d | sort >"$local_dirs_before"

# Removes what `cmake --install` put under /usr/local, and the directories
# it made there.
uninstall_local() {
    [[ -f $local_manifest ]] || return 0
    xargs -r -d '\n' rm -f <"$local_manifest"
    comm -13 "$local_dirs_before" <(find /usr/local -type d | sort) | sort -r | xargs -r -d '\n' rmdir
    rm -f "$local_manifest"
    ldconfig
}
cleanup() {
    if installed; then apt_get purge -y "$package" >/dev/null 2>&1 || true; fi
    uninstall_local || true
    rm -rf "$work"
}
trap cleanup EXIT

# check_from_path BINDIR BUILD_DIR: tintwell on PATH is BINDIR's, loads the
# library installed beside it (where BUILD_DIR's LIBDIR says), writes the
# demo, and programs link the library.
check_from_path() {
    hash -r
    test "$(command -v tintwell)" = "$1/tintwell"
    local demo=$work/demo${1//\//-}
    tintwell demo "$demo" >/dev/null
    test "$(ls "$demo"/*.bmp | wc -l)" = 10
    local libdir library
    libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$2/CMakeCache.txt")
    library=$(dirname "$1")/$libdir/libKorvaneTintwell.so.1
    env -u LD_LIBRARY_PATH LD_DEBUG=files tintwell read "$demo/original.bmp" 2>"$work/loader.log" >/dev/null
    grep -q "file=$library \[0\];  dynamically loaded" "$work/loader.log" ||
        { echo "tintwell did not load $library" >&2; return 1; }
    echo "tintwell loads $library"
    echo "-- the Python package of the same prefix, on Python's own path"
    local python_found
    python_found=$(cd "$work" && env -u PYTHONPATH PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 - "$demo" <<'EOF' | head -n 1
import sys, tintwell, tintwell._locate as where
print(where.program(), where.library())
tintwell.edit(sys.argv[1] + "/original.bmp", sys.argv[1] + "/python.bmp", "invert")
assert tintwell.call(sys.argv[1] + "/original.bmp", None, 0, 10) == 0
EOF
    )
    # The library by the file it leads to: the package's .so.1 is a link.
    local found_program found_library
    read -r found_program found_library <<<"$python_found"
    [[ $found_program == "$1/tintwell" && $(realpath -m "$found_library") == $(realpath -m "$library") ]] ||
        { echo "the Python package found $python_found" >&2; return 1; }
    cmp "$demo/python.bmp" "$demo/5-invert.bmp"
    ldconfig -p | grep 'libKorvaneTintwell\.so\.1 ' >/dev/null  # in the loader's cache too
    echo "-- consumers"
    bash tests/ecosystem/consumers_test.sh "$source_dir" tintwell
}

echo "== build the package"
make package
deb=$(ls build/package/${package}_*.deb)
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"

echo "== the package's /usr layout, installed into a scratch prefix"
bash tests/ecosystem/install_test.sh build/package "$source_dir"

echo "== install the package"
apt_get install -y --no-install-recommends "./$deb"
echo "== tintwell and the library from the package"
check_from_path /usr/bin build/package
dpkg -L "$package" | grep -x /usr/share/man/man1/tintwell.1.gz
dpkg -L "$package" | grep -x /usr/share/man/ko/man1/tintwell.1.gz
dpkg -L "$package" | grep -x /usr/share/locale/ko/LC_MESSAGES/tintwell.mo
help=$(LC_ALL=ko_KR.UTF-8 tintwell --help)
[[ $help == "사용법: tintwell "* ]] || { echo "the packaged tintwell does not speak Korean: $help" >&2; exit 1; }
echo "-- the demo page in a browser"
TINTWELL_REQUIRE_BROWSER=1 bash tests/ecosystem/browser_test.sh tintwell

echo "== remove the package"
apt_get purge -y "$package"
hash -r  # forget where tintwell was
! command -v tintwell || { echo "tintwell is still on PATH after removing the package" >&2; exit 1; }
left=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./|/|' | while read -r path; do
    if [[ -e $path && ! -d $path ]]; then echo "$path"; fi
done)
[[ -z $left ]] || { echo "files left behind by the package: $left" >&2; exit 1; }
! ldconfig -p | grep libKorvaneTintwell || { echo "the loader still lists the library" >&2; exit 1; }

echo "== cmake --install under /usr/local"
make build
cmake --install build/release
ldconfig
check_from_path /usr/local/bin build/release
uninstall_local
hash -r
! command -v tintwell || { echo "tintwell is still on PATH after removing /usr/local's" >&2; exit 1; }

echo "== package built, installed, used and removed cleanly; /usr/local install used and removed"
