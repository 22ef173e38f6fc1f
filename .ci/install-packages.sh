#!/usr/bin/env bash
# Installs the Debian packages that the named lists of .ci/packages ask for
# and this machine lacks:
#   install-packages.sh LIST...     e.g. demo, or demo test, or every list
# LIST is a file name in .ci/packages without its .txt. As root the missing
# packages are installed with apt-get; anyone else is shown the one command
# that installs them, and the script stops with exit status 1. Prints
# nothing when every package is there already.
set -euo pipefail
lists_dir="$(dirname "$0")/packages"

if (($# == 0)); then
    echo "usage: $0 LIST...   (lists: $(cd "$lists_dir" && ls -- *.txt | sed 's/\.txt$//' | tr '\n' ' '))" >&2
    exit 1
fi

# The packages of every list named, without comments, blank lines or repeats.
wanted() {
    local list file
    for list in "$@"; do
        file=$lists_dir/$list.txt
        [[ -f $file ]] || { echo "install-packages: no package list $file" >&2; return 1; }
        grep -v -e '^[[:space:]]*#' -e '^[[:space:]]*$' "$file"
    done | tr -d '[:blank:]' | awk '!seen[$0]++'
}

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

packages=$(wanted "$@")
if ! command -v dpkg-query >/dev/null; then
    echo "install-packages: not a Debian system; make sure these (or your system's equivalents) are installed:" \
        $packages >&2
    exit 0
fi

missing=()
for package in $packages; do
    installed "$package" || missing+=("$package")
done
((${#missing[@]})) || exit 0

if ((EUID != 0)); then
    cat >&2 <<EOF
Missing Debian packages: ${missing[*]}
Install them with the command below, then run your command again:

    sudo apt-get install --no-install-recommends ${missing[*]}

EOF
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive
log=$(mktemp)
trap 'rm -f "$log"' EXIT
apt_get() { apt-get -q -o DPkg::Lock::Timeout=600 "$@" >>"$log" 2>&1; }
install_missing() { apt_get install -y --no-install-recommends "${missing[@]}"; }

echo "Installing missing Debian packages: ${missing[*]}"
# A package of another architecture (NAME:ARCH, a cross build's target
# libraries) needs that architecture known to dpkg; the index fetched below
# then holds its packages.
for architecture in $(printf '%s\n' "${missing[@]}" | sed -n 's/^[^:]*://p' | sort -u); do
    if [[ $architecture != "$(dpkg --print-architecture)" ]] &&
        ! dpkg --print-foreign-architectures | grep -qx "$architecture"; then
        dpkg --add-architecture "$architecture"
    fi
done
# A machine that never fetched the package index (or whose index is stale)
# fails the first try; fetch it then, and only then.
if ! install_missing && ! { apt_get update && install_missing; }; then
    tail -n 20 "$log" >&2
    echo "install-packages: apt-get could not install: ${missing[*]}" >&2
    exit 1
fi
for package in "${missing[@]}"; do
    installed "$package" || { echo "install-packages: $package is still not installed" >&2; exit 1; }
done
