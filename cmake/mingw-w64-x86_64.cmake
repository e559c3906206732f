# Cross build for Windows x86-64 with Debian's MinGW-w64 (g++-mingw-w64-x86-64-posix: the
# "posix" flavour, whose libstdc++ has std::thread and std::mutex).
#
#   cmake -S . -B build/windows --toolchain cmake/mingw-w64-x86_64.cmake
#   (or: cmake --preset windows)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CORVANE_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${CORVANE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CORVANE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${CORVANE_MINGW_TRIPLET}-windres)

# Libraries, headers and packages come only from the MinGW sysroot: a host library under /usr/lib
# or a host header under /usr/include must never end up in a Windows build. Programs (objdump,
# the shell tools the tests run) are host programs and are searched on the host.
set(CMAKE_FIND_ROOT_PATH /usr/${CORVANE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config reads only the sysroot's .pc files, never the host's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/${CORVANE_MINGW_TRIPLET}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
