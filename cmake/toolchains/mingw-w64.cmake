# What both mingw-w64 toolchain files share, for the target QRCORE_MINGW_TARGET they set first:
# the -posix compilers (their thread model gives std::mutex and std::thread, which GoogleTest
# needs), and libraries, headers and packages from the target's own tree only.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${QRCORE_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QRCORE_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${QRCORE_MINGW_TARGET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QRCORE_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
