#!/usr/bin/env bash
# Opens the page that `tintwell demo` writes in headless Chromium, with no
# network and a fresh profile, and reads back how many pictures it decoded.
#   browser_test.sh TINTWELL
# Skipped when Chromium is missing, unless TINTWELL_REQUIRE_BROWSER=1.
source "$(dirname "$0")/lib.sh"
tintwell=$1

browser=$(command -v chromium || command -v chromium-browser || true)
if [[ -z $browser ]]; then
    [[ ${TINTWELL_REQUIRE_BROWSER:-0} == 1 ]] && { echo "FAIL: Chromium is missing" >&2; exit 1; }
    skip "Chromium is missing"
fi

# decoded_pictures DIR: the count the page's script wrote into the DOM.
decoded_pictures() {
    local profile
    profile=$(mktemp -d "$scratch/profile.XXXXXX")
    HOME=$profile timeout 120 "$browser" --headless --no-sandbox --disable-gpu --disable-quic \
        --no-first-run --disable-background-networking --disable-component-update --disable-sync \
        --proxy-server=127.0.0.1:9 --user-data-dir="$profile" \
        --dump-dom "file://$1/index.html" 2>"$scratch/browser.log" |
        sed -n 's|.*<output id="decoded">\([^<]*\)</output>.*|\1|p'
}

"$tintwell" demo "$scratch/demo" >/dev/null
expect_eq "pictures on the page" 10 "$(grep -c '<img ' "$scratch/demo/index.html")"
expect_eq "pictures the browser decoded" 10 "$(decoded_pictures "$scratch/demo")"

# The check can tell: a page with one broken picture shows nine.
cp -r "$scratch/demo" "$scratch/broken"
head -c 30 "$scratch/demo/4-gray.bmp" >"$scratch/broken/4-gray.bmp"
expect_eq "pictures decoded with one broken" 9 "$(decoded_pictures "$scratch/broken")"

((failures)) && tail -n 20 "$scratch/browser.log" >&2
finish
