# Cross-builds 64-bit Windows programs with Debian's mingw-w64, the -posix thread variant: the
# win32 variant has no std::mutex or std::thread, which JUCE and the tests need.
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64-posix.cmake ...
#
# HL73_WINDOWS_DEPS (optional) names a prefix of libraries cross-built for this target
# (scripts/windows-deps); it is searched before the compiler's own root.

set (CMAKE_SYSTEM_NAME Windows)
set (CMAKE_SYSTEM_PROCESSOR x86_64)

set (hl73_mingw_triple x86_64-w64-mingw32)
set (CMAKE_C_COMPILER ${hl73_mingw_triple}-gcc-posix)
set (CMAKE_CXX_COMPILER ${hl73_mingw_triple}-g++-posix)
set (CMAKE_RC_COMPILER ${hl73_mingw_triple}-windres)
set (CMAKE_AR ${hl73_mingw_triple}-gcc-ar-posix CACHE FILEPATH "")
set (CMAKE_RANLIB ${hl73_mingw_triple}-gcc-ranlib-posix CACHE FILEPATH "")

# Passed on to try_compile projects, which read the toolchain file again.
list (APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES HL73_WINDOWS_DEPS)

set (CMAKE_FIND_ROOT_PATH /usr/${hl73_mingw_triple})
if (HL73_WINDOWS_DEPS)
    list (PREPEND CMAKE_FIND_ROOT_PATH "${HL73_WINDOWS_DEPS}")
endif()

# Programs from the build machine; libraries, headers and packages from the target's roots only.
set (CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set (CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set (CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set (CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The Windows programs run on a machine with nothing installed: link the C and C++ runtimes and
# winpthread statically, so that they import system DLLs only.
set (CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
