#!/usr/bin/env bash
# Windows: cross-build the DLL, tintwell.exe and the release archive, then
# run their tests under Wine against the Linux build that `make test` made:
# the DLL's exports and edits, tintwell.exe against the Linux host, the
# archive unpacked into a fresh prefix and linked by a C program.
set -euo pipefail
cd "$(dirname "$0")/../.."
make test-windows
