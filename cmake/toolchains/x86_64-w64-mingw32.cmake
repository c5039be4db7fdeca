# Cross build of QRCore.dll for 64-bit Windows with mingw-w64 (Debian: g++-mingw-w64-x86-64). The
# -posix compilers: their thread model gives std::mutex and std::thread (GoogleTest needs them).
# The programs it builds run under Wine's 64-bit loader, called directly: Debian's "wine" script
# always picks the 32-bit loader once wine32 is installed.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QRCORE_MINGW_TARGET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QRCORE_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QRCORE_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${QRCORE_MINGW_TARGET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QRCORE_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(QRCORE_WINE_LOADER /usr/lib/wine/wine64 CACHE FILEPATH "Wine loader that runs the programs of this build")
set(QRCORE_WINE_ARCH win64 CACHE STRING "Architecture of the Wine prefix of this build")
