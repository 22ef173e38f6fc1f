#!/usr/bin/env bash
# The lines `make test` prints after ctest's summary, saying why each test
# was skipped, read from a JUnit file in ctest's own layout.
#   skip_reasons_test.sh SOURCE_DIR
source "$(dirname "$0")/lib.sh"
skip_reasons=$1/tests/support/skip_reasons.sh

mkdir -p "$scratch/build/Testing"
cat >"$scratch/build/Testing/results.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<testsuite name="(empty)" tests="5" failures="1" disabled="0" skipped="3">
	<testcase name="BitmapLayout.BmpSuiteFilesMatchTheModel" classname="BitmapLayout.BmpSuiteFilesMatchTheModel" time="0.01" status="notrun">
		<skipped message="SKIP_REGULAR_EXPRESSION_MATCHED"/>
		<system-out>Running main() from ./googletest/src/gtest_main.cc
[ RUN      ] BitmapLayout.BmpSuiteFilesMatchTheModel
../../tests/bitmap_layout_test.cpp:127: Skipped
no BMP Suite at /x/shared/testdata/bmpsuite;
set TINTWELL_BMPSUITE &lt;folder&gt; &amp; rerun
[  SKIPPED ] BitmapLayout.BmpSuiteFilesMatchTheModel (0 ms)
[  SKIPPED ] 1 test, listed below:
[  SKIPPED ] BitmapLayout.BmpSuiteFilesMatchTheModel
</system-out>
	</testcase>
	<testcase name="ecosystem.browser" classname="ecosystem.browser" time="0.01" status="notrun">
		<skipped message="SKIP_RETURN_CODE=77"/>
		<system-out>SKIP: Chromium is missing
</system-out>
	</testcase>
	<testcase name="ecosystem.quiet" classname="ecosystem.quiet" time="0.01" status="notrun">
		<skipped message="SKIP_RETURN_CODE=77"/>
		<system-out></system-out>
	</testcase>
	<testcase name="web.page" classname="web.page" time="0.01" status="run">
		<system-out>[ RUN      ] Pictures/WebPageEdit.MatchesTheNativeLibrary/rgb24_f1_a0
../../tests/web/web_page_test.cpp:272: Skipped
no BMP Suite at /x/shared/testdata/bmpsuite
[  SKIPPED ] Pictures/WebPageEdit.MatchesTheNativeLibrary/rgb24_f1_a0 (0 ms)
[ RUN      ] Pictures/WebPageEdit.MatchesTheNativeLibrary/rgb24_f2_a40
../../tests/web/web_page_test.cpp:272: Skipped
no BMP Suite at /x/shared/testdata/bmpsuite
[  SKIPPED ] Pictures/WebPageEdit.MatchesTheNativeLibrary/rgb24_f2_a40 (0 ms)
[  PASSED  ] 64 tests.
[  SKIPPED ] 2 tests, listed below:
</system-out>
	</testcase>
	<testcase name="ecosystem.safe_writing" classname="ecosystem.safe_writing" time="0.01" status="run">
		<system-out>-- extended attributes
SKIP: this file system keeps no extended attributes
all checks passed
</system-out>
	</testcase>
	<testcase name="RunSequence.Passes" classname="RunSequence.Passes" time="0.01" status="run">
		<system-out>[ RUN      ] RunSequence.Passes
[       OK ] RunSequence.Passes (0 ms)
</system-out>
	</testcase>
	<testcase name="RunSequence.Fails" classname="RunSequence.Fails" time="0.01" status="fail">
		<failure message=""/>
		<system-out>bad
</system-out>
	</testcase>
</testsuite>
XML

echo "-- skipped tests, each with its reason"
expect_eq "the lines" "Skipped tests, and why:
  BitmapLayout.BmpSuiteFilesMatchTheModel: no BMP Suite at /x/shared/testdata/bmpsuite; set TINTWELL_BMPSUITE <folder> & rerun
  ecosystem.browser: Chromium is missing
  ecosystem.quiet: (the test gave no reason)
  web.page (in part): no BMP Suite at /x/shared/testdata/bmpsuite
  ecosystem.safe_writing (in part): this file system keeps no extended attributes" \
    "$(bash "$skip_reasons" "$scratch/build")"

echo "-- nothing skipped, or no results: nothing printed"
sed -i '/<testcase name="RunSequence.Passes"/,$!d; 1i <testsuite>' "$scratch/build/Testing/results.xml"
expect_eq "nothing skipped" "" "$(bash "$skip_reasons" "$scratch/build")"
expect_eq "no results" "" "$(bash "$skip_reasons" "$scratch/nowhere")"

finish
