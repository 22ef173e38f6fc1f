#!/usr/bin/env bash
# The Linux library's module information, one test per
# subcommand (run by ctest, see CMakeLists.txt).
set -euo pipefail

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

readelf_shows_the_note() {
    local notes value
    notes=$(readelf -n "$TINTWELL_LIBRARY")
    grep -Eq '^ +FDO +0x[0-9a-f]+\s+FDO_PACKAGING_METADATA' <<<"$notes" || fail "no FDO packaging-metadata note"
    for value in '"fileVersion":"1.0.0.1"' '"productVersion":"1.0.0.1"' '"fileFlagsMask":"0x3F"' \
        '"fileFlags":"0x0"' '"fileOS":"0x4"' '"fileType":"0x2"' '"fileSubtype":"0x0"' '"fileDate":"0x0"' \
        '"040904B0":[["CompanyName",""],["FileDescription","KorvaneTintwell DLL"],["FileVersion","1, 0, 0, 1"]' \
        '["OriginalFilename","KorvaneTintwell.DLL"],["ProductName","KorvaneTintwell Dynamic Link Library"]' \
        '["ProductVersion","1, 0, 0, 1"],["OLESelfRegister",""]]' '"translation":[["0x0409","1200"]]' \
        '"name":"KorvaneTintwell","version":"1.0","locale":"0x0409","platform":"win32"' \
        '"typeDescriptions":"0"' '"stringTable":[["101","Windows sockets initialization failed."]]'; do
        grep -qF "$value" <<<"$notes" || fail "readelf -n does not show $value"
    done
}

module_info_output() {
    "$TINTWELL_HOST" --module "$TINTWELL_LIBRARY" --module-info | cmp - "$TINTWELL_EXPECTED_INFO" ||
        fail "--module-info differs from $TINTWELL_EXPECTED_INFO"
}

version_output() {
    local output
    output=$("$TINTWELL_HOST" --module "$TINTWELL_LIBRARY" --version)
    grep -qx "library version: 1.0.0.1" <<<"$output" || fail "--version printed: $output"
}

case "${1:-}" in
readelf_shows_the_note | module_info_output | version_output) "$1" ;;
*) fail "unknown test '${1:-}'" ;;
esac
