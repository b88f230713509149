# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (posix threads: std::thread and
# std::mutex need them). Used for Qt itself and for the tool.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(NX7_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${NX7_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NX7_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${NX7_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${NX7_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${NX7_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${NX7_MINGW_TRIPLE})
# Programs run at build time come from the host; libraries and headers from the target only (plus
# CMAKE_PREFIX_PATH, the cross-built Qt).
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Build-time helpers that are built for Windows run under Wine, when it is there.
find_program(NX7_WINE NAMES wine64 wine)
if(NX7_WINE AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${NX7_WINE})
endif()
