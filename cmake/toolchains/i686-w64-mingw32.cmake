# Cross build of QRCore.dll for 32-bit Windows with mingw-w64 (Debian: g++-mingw-w64-i686).
# The programs it builds run under Wine's 32-bit loader (Debian: wine32:i386).
set(CMAKE_SYSTEM_PROCESSOR i686)

set(QRCORE_MINGW_TARGET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

# Double arithmetic in SSE2 registers, as the 64-bit build (and today's Windows compilers for
# 32-bit code) does it: the x87 unit's wider intermediates would change the last bits of the
# angle conversions, which are defined operation by operation in double precision.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

set(QRCORE_WINE_LOADER /usr/lib/wine/wine CACHE FILEPATH "Wine loader that runs the programs of this build")
set(QRCORE_WINE_ARCH win32 CACHE STRING "Architecture of the Wine prefix of this build")
