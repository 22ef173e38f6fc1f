#!/usr/bin/env bash
# Says why each skipped test of the last ctest run was skipped: ctest's own
# summary names them only. Reads the JUnit file the test presets write
# (Testing/results.xml in the build directory) and prints, when any test was
# skipped whole or in part,
#   Skipped tests, and why:
#     NAME: REASON
#     NAME (in part): REASON
# REASON is what the test printed: a GoogleTest skip's message, or the line
# "SKIP: ..." of a script test. A test that ran but printed such a reason
# skipped part of its work (some cases of a GoogleTest program run as one
# test, a script's checks that could not run here): ctest counts it as
# passed, and this names it "in part".
#   skip_reasons.sh BUILD_DIR
set -euo pipefail
results=$1/Testing/results.xml
[[ -f $results ]] || exit 0

awk '
function unescape(text) {
    gsub(/&lt;/, "<", text); gsub(/&gt;/, ">", text); gsub(/&quot;/, "\"", text)
    gsub(/&apos;/, "\047", text); gsub(/&amp;/, "\\&", text)
    return text
}
# A test with many cases may skip each for the same reason: say it once.
function add(text) {
    if (text in said) return
    said[text] = 1
    reason = reason (reason == "" ? "" : " ") text
}
/<testcase / {
    match($0, /name="[^"]*"/); name = unescape(substr($0, RSTART + 6, RLENGTH - 7))
    skipped = 0; reason = ""; in_message = 0; in_output = 0; split("", said)
}
/<skipped / { skipped = 1 }
/<system-out>/ { in_output = 1; sub(/.*<system-out>/, "") }
in_output {
    line = $0
    if (sub(/<\/system-out>.*/, "", line)) in_output = 0
    line = unescape(line)
    # GoogleTest: "FILE:LINE: Skipped", the message, then "[  SKIPPED ] NAME".
    if (line ~ /^\[  SKIPPED \]/) in_message = 0
    else if (in_message) add(line)
    else if (line ~ /: Skipped$/) in_message = 1
    else if (line ~ /^SKIP: /) add(substr(line, 7))
}
/<\/testcase>/ && (skipped || reason != "") {
    if (!printed++) print "Skipped tests, and why:"
    print "  " name (skipped ? "" : " (in part)") ": " (reason == "" ? "(the test gave no reason)" : reason)
}
' "$results"
