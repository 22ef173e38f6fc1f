# arm64 (64-bit ARM): Debian's g++-aarch64-linux-gnu, run under qemu-aarch64.
set(TINTWELL_CROSS_TRIPLET aarch64-linux-gnu)
set(TINTWELL_CROSS_PROCESSOR aarch64)
set(TINTWELL_CROSS_DEBIAN_ARCHITECTURE arm64)
set(TINTWELL_CROSS_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
