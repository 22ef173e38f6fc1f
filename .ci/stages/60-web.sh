#!/usr/bin/env bash
# The web page: builds the library for WebAssembly with Debian's emscripten,
# then checks the page in headless Chromium against the native library. The
# screenshot it takes is kept in build/release/artifacts/web-page.png; make
# test-web then reports web/measure.py's timing of the page (not gated).
set -euo pipefail
cd "$(dirname "$0")/../.."

if ! command -v emcc >/dev/null || ! command -v npm >/dev/null || ! command -v convert >/dev/null; then
    echo "== installing emscripten, npm and ImageMagick"
    mapfile -t packages < <(grep -v '^\s*\(#\|$\)' .ci/packages/60-web.txt)
    apt-get -o DPkg::Lock::Timeout=600 update -qq
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${packages[@]}"
fi
make test-web
ls -l build/web/page build/release/artifacts/web-page.png
