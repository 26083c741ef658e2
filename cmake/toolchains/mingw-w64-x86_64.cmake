# Cross-compiles the 64-bit Windows DLLs with MinGW-w64 on Debian. The posix thread model is
# required: the win32 model has no std::thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOLVAN_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TOLVAN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOLVAN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TOLVAN_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TOLVAN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs (and gtest discovery at build time) run under Wine. The caller provides the Wine
# environment (prefix, server); scripts/windows-lane does.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
endif()
