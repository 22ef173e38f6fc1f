# Cross-builds for Linux on ARM with Debian's cross compilers; included by
# the toolchain file of each target, which sets TINTWELL_CROSS_TRIPLET,
# TINTWELL_CROSS_PROCESSOR, TINTWELL_CROSS_DEBIAN_ARCHITECTURE (its packages')
# and TINTWELL_CROSS_QEMU.
#
# Libraries the build needs for the target (GoogleTest, and the C and C++
# libraries that dpkg-shlibdeps reads) are Debian's multiarch packages of
# that architecture (dpkg --add-architecture), found in /usr/lib/TRIPLET;
# nothing of the build machine's own architecture is searched.
# The programs run under qemu-user, which finds the target's loader and
# libraries where those packages put them.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${TINTWELL_CROSS_PROCESSOR})
set(CMAKE_LIBRARY_ARCHITECTURE ${TINTWELL_CROSS_TRIPLET})

set(CMAKE_C_COMPILER ${TINTWELL_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${TINTWELL_CROSS_TRIPLET}-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR ${TINTWELL_CROSS_QEMU})

set(CMAKE_FIND_ROOT_PATH /usr/${TINTWELL_CROSS_TRIPLET} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
