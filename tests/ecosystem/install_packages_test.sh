#!/usr/bin/env bash
# The dependency step of `make demo`, `make test` and CI
# (.ci/install-packages.sh), run on package lists of its own against
# stand-ins for dpkg-query and apt-get that keep the installed packages in a
# file: silent when all are there, the one exact command for anyone but
# root, apt-get for root (fetching the index only when the first try fails).
#   install_packages_test.sh SOURCE_DIR
source "$(dirname "$0")/lib.sh"
source_dir=$1

ci=$scratch/ci
mkdir -p "$ci/packages" "$scratch/bin"
cp "$source_dir/.ci/install-packages.sh" "$ci/"
printf '# the demo\ncmake\n  g++ \n\nnlohmann-json3-dev\n' >"$ci/packages/demo.txt"
printf '# the tests\ncmake\nlibgtest-dev\n' >"$ci/packages/test.txt"

cat >"$scratch/bin/dpkg-query" <<'EOF'
#!/usr/bin/env bash
# dpkg-query -W -f=FORMAT PACKAGE
grep -qx -- "${!#}" "$STUB_DIR/installed" && printf 'install ok installed'
EOF
cat >"$scratch/bin/apt-get" <<'EOF'
#!/usr/bin/env bash
# Logs each call without its options; "installs" only once the index was
# fetched, unless broken.
words=()
while (($#)); do
    case $1 in -o) shift ;; -*) ;; *) words+=("$1") ;; esac
    shift
done
echo "${words[*]}" >>"$STUB_DIR/apt.log"
case ${words[0]} in
update) touch "$STUB_DIR/index" ;;
install)
    [[ -e $STUB_DIR/index && ! -e $STUB_DIR/broken ]] || { echo "E: Unable to locate package" >&2; exit 100; }
    printf '%s\n' "${words[@]:1}" >>"$STUB_DIR/installed" ;;
esac
EOF
chmod +x "$scratch/bin/dpkg-query" "$scratch/bin/apt-get"
chmod -R a+rwX "$scratch"  # for the run as another user
export STUB_DIR=$scratch PATH=$scratch/bin:$PATH

# machine PACKAGE...: a fresh machine with these installed and no index.
machine() {
    printf '%s\n' "$@" >"$scratch/installed"
    rm -f "$scratch/index" "$scratch/broken" "$scratch/apt.log"
    touch "$scratch/apt.log"
}
apt_calls() { tr '\n' ';' <"$scratch/apt.log"; }

echo "-- every package there: silent, apt-get not called"
machine cmake g++ nlohmann-json3-dev libgtest-dev
run bash "$ci/install-packages.sh" demo test
expect_eq "exit status" 0 "$status"
expect_eq "output" "" "$(cat "$scratch/out" "$scratch/err")"
expect_eq "apt-get calls" "" "$(apt_calls)"

echo "-- a list that does not exist"
run bash "$ci/install-packages.sh" demo tets
expect_eq "exit status" 1 "$status"
expect_contains "message" "$scratch/err" "no package list $ci/packages/tets.txt"

echo "-- not root: the one command, and a stop"
machine cmake g++
if ((EUID == 0)); then
    as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
else
    as_user=()
fi
run "${as_user[@]}" env PATH="$PATH" STUB_DIR="$STUB_DIR" bash "$ci/install-packages.sh" demo test
expect_eq "exit status" 1 "$status"
expect_contains "missing" "$scratch/err" "Missing Debian packages: nlohmann-json3-dev libgtest-dev"
expect_eq "the command" "    sudo apt-get install --no-install-recommends nlohmann-json3-dev libgtest-dev" \
    "$(grep 'apt-get' "$scratch/err")"
expect_eq "apt-get calls" "" "$(apt_calls)"

echo "-- the demo asks only for its own list"
run "${as_user[@]}" env PATH="$PATH" STUB_DIR="$STUB_DIR" bash "$ci/install-packages.sh" demo
expect_eq "missing" "Missing Debian packages: nlohmann-json3-dev" "$(grep '^Missing' "$scratch/err")"

if ((EUID == 0)); then
    echo "-- root: installs the missing ones, fetching the index after a failed try"
    machine cmake g++
    run bash "$ci/install-packages.sh" demo test
    expect_eq "exit status" 0 "$status"
    expect_eq "output" "Installing missing Debian packages: nlohmann-json3-dev libgtest-dev" "$(cat "$scratch/out")"
    expect_eq "apt-get calls" \
        "install nlohmann-json3-dev libgtest-dev;update;install nlohmann-json3-dev libgtest-dev;" "$(apt_calls)"
    run bash "$ci/install-packages.sh" demo test
    expect_eq "a second run is silent" "0:" "$status:$(cat "$scratch/out" "$scratch/err")"

    echo "-- root: apt-get fails, and the step says so"
    machine cmake
    touch "$scratch/broken"
    run bash "$ci/install-packages.sh" demo
    expect_eq "exit status" 1 "$status"
    expect_contains "message" "$scratch/err" "apt-get could not install: g++ nlohmann-json3-dev"
    expect_contains "apt-get's own words" "$scratch/err" "E: Unable to locate package"
else
    skip_part_unless_required "not root: installing is not checked"
fi

finish
