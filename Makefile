# Set-up and test commands over the CMake presets.
#   make demo   build the library and the host, then write the demo pictures
#               and page to tintwell-demo/
#   make test   build everything and run the whole test suite, plain and
#               under ASan+UBSan
#   make install [PREFIX=/usr/local]  install what make demo built
#   make package  build the Debian package (build/package/korvanetintwell_*.deb)
#   make check-package  build, install, use and remove it (as root; CI stage)
#   make update-po  refresh po/tintwell.pot from the sources and merge it into
#               each language's catalog (then translate what is new or fuzzy)
# `make demo` and `make test` first install the Debian packages they lack
# (.ci/packages/demo.txt; test.txt besides for the tests), or, when not run
# as root, print the command that does.

.PHONY: all build demo install test test-release test-asan demo-packages test-packages package check-package \
	update-po clean

all: build

SHELL := /bin/bash
.SHELLFLAGS := -o pipefail -c

INSTALL_PACKAGES = bash .ci/install-packages.sh
# $(call configure,PRESET [OPTIONS]) configures without the compiler checks:
# what is left is the preset, a one-line summary and where the build is.
# The build itself is Ninja's progress line.
# A build directory that another generator made (Unix Makefiles, before
# these presets used Ninja) is configured afresh rather than refused.
configure = cmake --preset $(1) $(call fresh_unless_ninja,build/$(firstword $(1))) | \
	{ grep -v -E '^-- (The C|Detecting|Check for working|Configuring done|Generating done)' || true; }
fresh_unless_ninja = $(if $(wildcard $(1)/CMakeCache.txt),$(if $(shell grep -sx 'CMAKE_GENERATOR:INTERNAL=Ninja' $(1)/CMakeCache.txt),,--fresh))
# ctest's summary names skipped tests; this says why each was skipped.
SKIP_REASONS = bash tests/support/skip_reasons.sh

demo-packages:
	@$(INSTALL_PACKAGES) demo

test-packages:
	@$(INSTALL_PACKAGES) demo test
	@bash .ci/korean-locale.sh

build: test-packages
	@$(call configure,release)
	@cmake --build --preset release

DEMO_DIR = tintwell-demo

# Only the library, the host and its manual page: the tests are left off,
# and so are the library's messages, the same on every run.
demo: demo-packages
	@$(call configure,release -DTINTWELL_BUILD_TESTS=OFF)
	@cmake --build --preset release
	@rm -rf $(DEMO_DIR)  # the demo writes only into a new or empty directory, as make clean leaves it
	@./build/release/bin/tintwell demo $(DEMO_DIR) >/dev/null
	@echo "Open $(DEMO_DIR)/index.html in a browser to see them."
	@echo "Program: build/release/bin/tintwell (manual: man build/release/man/tintwell.1; sudo make install installs both)"

# Installs what `make demo` built: the program, the library, the header and
# the manual page. tintwell finds its library from its own directory; other
# programs under a PREFIX of your own need a run path (see the README).
PREFIX = /usr/local
install:
	cmake --install build/release --prefix $(PREFIX)

test: test-release test-asan

test-release: build
	@ctest --preset release; status=$$?; $(SKIP_REASONS) build/release; exit $$status

test-asan: test-packages
	@$(call configure,asan)
	@cmake --build --preset asan
	@ctest --preset asan; status=$$?; $(SKIP_REASONS) build/asan; exit $$status

package:
	cmake --preset package
	cmake --build --preset package
	cpack --preset package

check-package:
	bash .ci/stages/50-ecosystem.sh

update-po:
	bash po/update.sh
	for language in $$(grep -v '^#' po/man/LINGUAS); do \
		po4a-updatepo --format man --master man/tintwell.1.in --master-charset UTF-8 --po po/man/$$language.po; done

clean:
	rm -rf build $(DEMO_DIR)

# The Windows DLL and tintwell.exe, cross-built with MinGW-w64, and their
# tests under Wine, which compare them with the Linux build.
#   make windows          build build/windows/bin/KorvaneTintwell.dll and tintwell.exe
#   make windows-package  build build/windows/package/KorvaneTintwell-<version>-win64.zip
#   make test-windows     build both platforms and the archive, then run the Windows tests
.PHONY: windows windows-package test-windows

windows:
	cmake --preset windows
	cmake --build --preset windows

windows-package: windows
	cpack --preset windows

test-windows: build windows-package
	@ctest --preset windows; status=$$?; $(SKIP_REASONS) build/windows; exit $$status

# Hardening: fuzzing, ThreadSanitizer, coverage and valgrind (see README).
#   make fuzz [FUZZ_SECONDS=60]  build the fuzzers with clang, run each FUZZ_SECONDS
#   make tsan       build and run the whole test suite under ThreadSanitizer
#   make coverage   run the suite with gcov; line and branch coverage of the library
#   make memcheck   the fault and return-path tests under valgrind memcheck
#   make hardening  all four
.PHONY: fuzz tsan coverage memcheck hardening

FUZZ_SECONDS ?= 60
COVERAGE_LINES ?= 95
VALGRIND = valgrind --quiet --error-exitcode=1 --leak-check=full \
	--errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect

hardening: fuzz tsan coverage memcheck

fuzz:
	cmake --preset fuzz
	cmake --build --preset fuzz
	tests/fuzz/run_fuzzers.sh $(FUZZ_SECONDS)

tsan:
	cmake --preset tsan
	cmake --build --preset tsan
	@ctest --preset tsan; status=$$?; $(SKIP_REASONS) build/tsan; exit $$status

coverage:
	cmake --preset coverage
	cmake --build --preset coverage
	find build/coverage -name '*.gcda' -delete
	@ctest --preset coverage; status=$$?; $(SKIP_REASONS) build/coverage; exit $$status
	mkdir -p build/coverage/report
	gcovr --root . --object-directory build/coverage --exclude-directories build/coverage/CMakeFiles \
		--filter 'processing/' --filter 'module/' \
		--exclude-unreachable-branches --exclude-throw-branches \
		--html-details build/coverage/report/index.html --txt build/coverage/report/coverage.txt \
		--print-summary --fail-under-line $(COVERAGE_LINES); \
		status=$$?; cat build/coverage/report/coverage.txt; exit $$status

# The fault tests take every return path (999, 0, 123, -1, 432, 124), under
# injected faults too. Forked children are followed; the host's own runs are
# left to the sanitizer build (valgrind does not follow exec).
memcheck: build
	$(VALGRIND) build/release/bin/tintwell_fault_tests --gtest_brief=1
	$(VALGRIND) build/release/bin/tintwell_tests --gtest_brief=1 --gtest_filter='RunSequence.*:Table/FunctionNumber.*:Names/UnusableName.*'

# Planted faults: each patch in tests/mutants/patches is applied to a copy of
# the tree in build/mutants, built and run against the release suite; every
# fault must make some test fail. Takes a few minutes; CI plants two
# of them, chosen by the commit (.ci/stages/25-mutants.sh).
#   make mutants
.PHONY: mutants

mutants:
	tests/mutants/run.sh

# Benchmarks (bench/RESULTS.md has the figures and how they were taken).
#   make bench        the edit kernels, the whole-process comparison, then
#                     every BMP kind's data path (bench/kinds.py)
#   make bench-quick  the same on tiny pictures, once: keeps both working
.PHONY: bench-build bench bench-quick

bench-build:
	cmake --preset bench
	cmake --build --preset bench

bench: bench-build
	./build/bench/bin/tintwell_kernels
	python3 bench/compare.py --markdown build/bench/compare.md --json build/bench/compare.json
	/usr/bin/python3 bench/chart.py build/bench/compare.json build/bench/compare.svg
	python3 bench/kinds.py --markdown build/bench/kinds.md

bench-quick: bench-build
	./build/bench/bin/tintwell_kernels --benchmark_min_time=0.001 --benchmark_filter=/1048576
	python3 bench/compare.py --quick --json build/bench/quick.json
	/usr/bin/python3 bench/chart.py build/bench/quick.json build/bench/quick.svg
	python3 bench/kinds.py --quick

# The web page: the library built for WebAssembly with Debian's emscripten,
# in build/web/page/ (open index.html there, from disk or any static server).
#   make web        build the page (and give it to build/release's demo)
#   make test-web   build both, check the page in headless Chromium, then time it
.PHONY: web test-web

web: web/node_modules/.package-lock.json
	cmake --preset web
	cmake --build --preset web

# The page's ZIP writer comes from npm, pinned by version and integrity in
# web/package-lock.json; installed again only when that changes.
web/node_modules/.package-lock.json: web/package-lock.json
	npm ci --prefix web --no-audit --no-fund

# After the tests, web/measure.py times an edit in the page against the native
# call: its figures are reported, never a failure (the machine's load decides them).
test-web: build web
	@TINTWELL_REQUIRE_BROWSER=1 ctest --preset release -R '^web\.'; status=$$?; $(SKIP_REASONS) build/release; \
	 [ $$status -ne 0 ] || python3 web/measure.py --runs 5 || echo "web/measure.py failed (reported, not gated)"; \
	 exit $$status

# ARM: arm64 and armhf, cross-built with Debian's cross compilers; their
# tests run under qemu-user (see the README's "ARM: arm64 and armhf").
#   make arm64, make armhf        build the library, the host and the tests
#   make test-arm64, test-armhf   build, then run the tests under qemu-user
#   make package-arm64, package-armhf  build the target's Debian package
#                                 (build/TARGET-package/korvanetintwell_*_TARGET.deb)
ARM_TARGETS = arm64 armhf
.PHONY: arm-packages $(ARM_TARGETS) $(addprefix test-,$(ARM_TARGETS)) $(addprefix package-,$(ARM_TARGETS))

arm-packages:
	@$(INSTALL_PACKAGES) demo test 70-arm

$(ARM_TARGETS): arm-packages
	@$(call configure,$@)
	@cmake --build --preset $@

$(addprefix test-,$(ARM_TARGETS)): test-%: %
	@ctest --preset $*; status=$$?; $(SKIP_REASONS) build/$*; exit $$status

$(addprefix package-,$(ARM_TARGETS)): package-%: arm-packages
	@$(call configure,$*-package)
	@cmake --build --preset $*-package
	cpack --preset $*
