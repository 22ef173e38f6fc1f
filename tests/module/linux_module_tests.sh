#!/usr/bin/env bash
# The Linux library's module information, one test per
# subcommand (run by ctest, see CMakeLists.txt).
set -euo pipefail

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The note is there and holds JSON; what it says is checked through the
# host's --module-info, against the one expected rendering.
readelf_shows_the_note() {
    local notes
    notes=$(readelf -n "$TINTWELL_LIBRARY")
    grep -Eq '^ +FDO +0x[0-9a-f]+\s+FDO_PACKAGING_METADATA' <<<"$notes" || fail "no FDO packaging-metadata note"
    sed -n 's/^ *Packaging Metadata: //p' <<<"$notes" | python3 -c 'import json, sys; json.load(sys.stdin)' ||
        fail "the note's payload is not JSON"
}

module_info_output() {
    "$TINTWELL_HOST" --module "$TINTWELL_LIBRARY" --module-info | cmp - "$TINTWELL_EXPECTED_INFO" ||
        fail "--module-info differs from $TINTWELL_EXPECTED_INFO"
}

# The library version --version prints is the file version --module-info shows.
version_output() {
    local output version
    output=$("$TINTWELL_HOST" --module "$TINTWELL_LIBRARY" --version)
    version=$(awk '$1 == "file" && $2 == "version" { print $3 }' "$TINTWELL_EXPECTED_INFO")
    [ -n "$version" ] || fail "no file version in $TINTWELL_EXPECTED_INFO"
    grep -qx "library version: $version" <<<"$output" || fail "--version printed: $output"
}

case "${1:-}" in
readelf_shows_the_note | module_info_output | version_output) "$1" ;;
*) fail "unknown test '${1:-}'" ;;
esac
