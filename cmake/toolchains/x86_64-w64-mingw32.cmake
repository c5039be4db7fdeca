# Cross build of QRCore.dll for 64-bit Windows with mingw-w64 (Debian: g++-mingw-w64-x86-64).
# The programs it builds run under Wine's 64-bit loader, called directly: Debian's "wine" script
# always picks the 32-bit loader once wine32 is installed.
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QRCORE_MINGW_TARGET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

set(QRCORE_WINE_LOADER /usr/lib/wine/wine64 CACHE FILEPATH "Wine loader that runs the programs of this build")
set(QRCORE_WINE_ARCH win64 CACHE STRING "Architecture of the Wine prefix of this build")
