# Cross-builds the Windows DLL with MinGW-w64 (Debian's
# g++-mingw-w64-x86-64-win32, mingw-w64-tools for widl).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TINTWELL_TOOL_PREFIX x86_64-w64-mingw32-)
set(CMAKE_C_COMPILER ${TINTWELL_TOOL_PREFIX}gcc)
set(CMAKE_CXX_COMPILER ${TINTWELL_TOOL_PREFIX}g++)
set(CMAKE_RC_COMPILER ${TINTWELL_TOOL_PREFIX}windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs and DLLs need only system DLLs: the GCC runtime and the C++
# library are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
