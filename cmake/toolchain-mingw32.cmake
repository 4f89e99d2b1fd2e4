# 32-bit Windows with MinGW-w64. The -posix thread variant is needed: the
# -win32 variant has no std::thread or std::mutex, which GoogleTest uses.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# The test executables run under Wine, both for CTest and for GoogleTest.
set(CMAKE_CROSSCOMPILING_EMULATOR wine CACHE STRING "")

# Libraries cross-built from the distribution's sources by
# scripts/mingw-libs.sh live in one prefix beside the MinGW runtime.
set(BRF_MINGW_LIBS "${CMAKE_CURRENT_LIST_DIR}/../build/mingw-libs/prefix" CACHE PATH
    "Prefix of the libraries cross-built for the Windows lane")
list(APPEND CMAKE_FIND_ROOT_PATH "${BRF_MINGW_LIBS}")
