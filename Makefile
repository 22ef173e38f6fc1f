# Set-up and test commands over the CMake presets.
#   make demo   build, then write the demo pictures and page to tintwell-demo/
#   make test   build and run the whole test suite, plain and under ASan+UBSan
#   make package  build the Debian package (build/package/korvanetintwell_*.deb)
#   make check-package  build, install, use and remove it (as root; CI stage)

.PHONY: all build demo test test-release test-asan package check-package clean

all: build

build:
	cmake --preset release
	cmake --build --preset release

demo: build
	./build/release/bin/tintwell demo

test: test-release test-asan

test-release: build
	ctest --preset release

test-asan:
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

package:
	cmake --preset package
	cmake --build --preset package
	cpack --preset package

check-package:
	bash .ci/stages/50-ecosystem.sh

clean:
	rm -rf build tintwell-demo

# The Windows DLL, cross-built with MinGW-w64, and its tests under Wine, which
# compare it with the Linux build.
#   make windows        build build/windows/bin/KorvaneTintwell.dll
#   make test-windows   build both, then run the Windows tests
.PHONY: windows test-windows

windows:
	cmake --preset windows
	cmake --build --preset windows

test-windows: build windows
	ctest --preset windows

# Benchmarks (bench/RESULTS.md has the figures and how they were taken).
#   make bench        the edit kernels, then the whole-process comparison
#   make bench-quick  the same on tiny pictures, once: keeps both working
.PHONY: bench-build bench bench-quick

bench-build:
	cmake --preset bench
	cmake --build --preset bench

bench: bench-build
	./build/bench/bin/tintwell_kernels
	python3 bench/compare.py --markdown build/bench/compare.md

bench-quick: bench-build
	./build/bench/bin/tintwell_kernels --benchmark_min_time=0.001 --benchmark_filter=/1048576
	python3 bench/compare.py --quick
