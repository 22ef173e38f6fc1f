# armhf (32-bit ARM, hard float): Debian's g++-arm-linux-gnueabihf, run
# under qemu-arm.
set(TINTWELL_CROSS_TRIPLET arm-linux-gnueabihf)
set(TINTWELL_CROSS_PROCESSOR armv7l)
set(TINTWELL_CROSS_DEBIAN_ARCHITECTURE armhf)
set(TINTWELL_CROSS_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
