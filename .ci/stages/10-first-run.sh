#!/usr/bin/env bash
# The promise of the README's two commands on a fresh machine. In a fresh
# clone, with the Debian packages of the demo's lists that a bare Debian 12
# machine lacks removed, `make demo` must install them again and write the
# ten pictures, the page and the manual page without building a test; then
# `make test` the same way for its own lists. Runs as root (it removes and
# installs packages) and puts back whatever it removed, whatever fails.
#
# A checkout that is itself a fresh clone (nothing untracked or ignored, as
# CI's is) is used in place: this stage's `make test` is then CI's, and its
# build/release and build/asan stay for the later stages. Any other
# checkout is cloned afresh into a scratch directory.
set -euo pipefail
cd "$(dirname "$0")/../.."
source_dir=$PWD

# The packages of each command's lists that the machine image does not ship
# (it has the compiler, CMake, make, Ninja, GoogleTest, pkg-config, binutils
# and groff): each command must install them itself (po4a: for the Korean
# manual page; time: for the peak memory test).
demo_lacks=(nlohmann-json3-dev po4a)
test_lacks=(nlohmann-json3-dev po4a time)

((EUID == 0)) || { echo "this stage removes and installs Debian packages: run it as root" >&2; exit 1; }
export DEBIAN_FRONTEND=noninteractive
apt_get() { apt-get -q -o DPkg::Lock::Timeout=600 "$@"; }
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
listed() { grep -qx -- "$1" "${@:2}"; }

work=$(mktemp -d)
chmod 755 "$work"  # tests that run the host as another user must reach the build
removed=()
# Puts back every package this stage removed that is still missing.
restore() {
    local package missing=()
    for package in "${removed[@]}"; do
        if ! installed "$package"; then missing+=("$package"); fi
    done
    if ((${#missing[@]})); then
        echo "-- putting back ${missing[*]}"
        apt_get install -y --no-install-recommends "${missing[@]}" >/dev/null ||
            { apt_get update >/dev/null && apt_get install -y --no-install-recommends "${missing[@]}" >/dev/null; }
    fi
    rm -rf "$work"
}
trap restore EXIT

# remove PACKAGE...: removes these and nothing else; a package others
# depend on is refused rather than taking them along.
remove() {
    local package present=() planned
    for package in "$@"; do
        if installed "$package"; then present+=("$package"); fi
    done
    ((${#present[@]})) || return 0
    planned=$(apt-get -s remove "${present[@]}" | sed -n 's/^Remv \([^ :]*\).*/\1/p' | sort | tr '\n' ' ')
    if [[ $planned != "$(printf '%s\n' "${present[@]}" | sort | tr '\n' ' ')" ]]; then
        echo "removing ${present[*]} would also remove others: $planned" >&2
        return 1
    fi
    removed+=("${present[@]}")
    apt_get remove -y "${present[@]}" >/dev/null
    echo "-- removed ${present[*]}"
}

# expect_installed COMMAND PACKAGE...
expect_installed() {
    local package
    for package in "${@:2}"; do
        installed "$package" || { echo "$1 did not install $package" >&2; return 1; }
    done
    echo "-- $1 installed ${*:2} again"
}

# Each package must be one its command's lists name.
for package in "${demo_lacks[@]}"; do
    listed "$package" .ci/packages/demo.txt || { echo "$package is not in demo.txt" >&2; exit 1; }
done
for package in "${test_lacks[@]}"; do
    listed "$package" .ci/packages/demo.txt .ci/packages/test.txt ||
        { echo "$package is not in demo.txt or test.txt" >&2; exit 1; }
done

if [[ -z $(git status --porcelain --ignored) ]]; then
    echo "== make demo, in this checkout: a fresh clone"
else
    git clone -q "$source_dir" "$work/clone"
    cd "$work/clone"
    # The clone has no BMP Suite beside it; the checkout may.
    if [[ -d $source_dir/../shared/testdata/bmpsuite/g ]]; then
        export TINTWELL_BMPSUITE=$source_dir/../shared/testdata/bmpsuite
    fi
    echo "== make demo, in a fresh clone of this checkout"
fi
remove "${demo_lacks[@]}"
start=$SECONDS
make demo
echo "-- make demo took $((SECONDS - start)) s"
expect_installed "make demo" "${demo_lacks[@]}"
pictures=$(find tintwell-demo -name '*.bmp' | wc -l)
[[ $pictures == 10 ]] || { echo "make demo wrote $pictures pictures, not 10" >&2; exit 1; }
for file in tintwell-demo/index.html build/release/man/tintwell.1 build/release/man/ko/tintwell.1 \
    build/release/share/locale/ko/LC_MESSAGES/tintwell.mo build/release/bin/tintwell; do
    [[ -s $file ]] || { echo "make demo did not make $file" >&2; exit 1; }
done
built=$(ls build/release/bin)
[[ $built == tintwell ]] || { echo "make demo built more than the host: $built" >&2; exit 1; }
echo "-- make demo wrote the ten pictures, the page and the manual page, and built no test"

echo "== make test, in the same clone"
remove "${test_lacks[@]}"
start=$SECONDS
make test
echo "-- make test took $((SECONDS - start)) s"
expect_installed "make test" "${test_lacks[@]}"
