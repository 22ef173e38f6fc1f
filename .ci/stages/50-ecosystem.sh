#!/usr/bin/env bash
# The library as users get it: build the Debian package, check the /usr
# layout it holds, install it, use tintwell from PATH, build both example
# consumers against it, open the demo page in a real browser, and remove the
# package again, leaving nothing behind. Runs as root (it installs a package).
set -euo pipefail
cd "$(dirname "$0")/../.."
source_dir=$PWD
export DEBIAN_FRONTEND=noninteractive
apt_get() { apt-get -o DPkg::Lock::Timeout=600 "$@"; }
package=korvanetintwell
installed() { dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; }

if installed; then
    echo "$package is installed already: this stage needs a machine without it" >&2
    exit 1
fi

echo "== build the package"
make package
deb=$(ls build/package/${package}_*.deb)
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"

echo "== the package's /usr layout, installed into a scratch prefix"
bash tests/ecosystem/install_test.sh build/package "$source_dir"

echo "== install the package"
work=$(mktemp -d)
# Whatever fails, the machine is left without the package.
cleanup() {
    if installed; then apt_get purge -y "$package" >/dev/null 2>&1 || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
apt_get install -y --no-install-recommends "./$deb"

echo "== tintwell from PATH"
test "$(command -v tintwell)" = /usr/bin/tintwell
(cd "$work" && tintwell demo >/dev/null && ls tintwell-demo)
test "$(ls "$work"/tintwell-demo/*.bmp | wc -l)" = 10
libdir=$(dirname "$(dpkg -L "$package" | grep '/libKorvaneTintwell\.so\.1$')")
LD_DEBUG=files tintwell read "$work/tintwell-demo/original.bmp" 2>&1 >/dev/null |
    grep -q "file=$libdir/libKorvaneTintwell.so.1 "
ldconfig -p | grep -q libKorvaneTintwell.so.1
dpkg -L "$package" | grep -qx /usr/share/man/man1/tintwell.1.gz

echo "== consumers against the installed package"
bash tests/ecosystem/consumers_test.sh "$source_dir" tintwell

echo "== the demo page in a browser"
TINTWELL_REQUIRE_BROWSER=1 bash tests/ecosystem/browser_test.sh tintwell

echo "== remove the package"
apt_get purge -y "$package"
if command -v tintwell; then
    echo "tintwell is still on PATH after removing the package" >&2
    exit 1
fi
left=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./|/|' | while read -r path; do
    [[ -e $path && ! -d $path ]] && echo "$path"
done || true)
if [[ -n $left ]]; then
    echo "files left behind by the package:" >&2
    echo "$left" >&2
    exit 1
fi
if ldconfig -p | grep -q libKorvaneTintwell; then
    echo "the loader's cache still lists the library" >&2
    exit 1
fi
echo "== package built, installed, used and removed cleanly"
