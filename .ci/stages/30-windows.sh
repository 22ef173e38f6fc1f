#!/usr/bin/env bash
# The Windows DLL: cross-build it, then run its tests under Wine against the
# Linux build that `make test` made.
set -euo pipefail
cd "$(dirname "$0")/../.."
make test-windows
