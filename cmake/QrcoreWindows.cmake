# Windows builds (the mingw-w64 cross toolchains in cmake/toolchains/): QRCore.dll with the exported
# names of QRCore.def, texts in code page 936, the compiler's run-time DLLs beside every program,
# and Wine as the runner of the test programs. Included from the top-level CMakeLists before any
# target exists; qrcore_windows_library() finishes the library target.

# 32-bit or 64-bit Windows: the 64-bit DLL has no stdcall decoration.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(QRCORE_WINDOWS_BITS 32)
else()
  set(QRCORE_WINDOWS_BITS 64)
endif()

# Not for Windows: Google Benchmark has no package for the target.
if(QRCORE_BUILD_BENCH)
  message(STATUS "QRCORE_BUILD_BENCH does not apply to Windows builds: off")
  set(QRCORE_BUILD_BENCH OFF)
endif()

# Every program and the DLL in one folder, so that each program finds QRCore.dll, the run-time
# DLLs and QuarrionError.inf beside itself, as an installed program does.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)

# The system headers in one configuration: no rarely used APIs, no min/max macros.
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX)

# The shipped error list: its entries for system error codes are the Win32 codes (GetLastError),
# so the Windows build ships data/win32/QuarrionError.inf; in code page 936, made at build time
# from the UTF-8 source (a text that does not convert fails the build). The library's own texts
# are converted the same way (src/error/CMakeLists.txt).
set(QRCORE_ERROR_LIST_SOURCE ${PROJECT_SOURCE_DIR}/data/win32/QuarrionError.inf)
set(QRCORE_ERROR_LIST ${PROJECT_BINARY_DIR}/cp936/QuarrionError.inf)
add_custom_command(OUTPUT ${QRCORE_ERROR_LIST}
  COMMAND ${CMAKE_COMMAND} -DINPUT=${QRCORE_ERROR_LIST_SOURCE} -DOUTPUT=${QRCORE_ERROR_LIST}
    -P ${PROJECT_SOURCE_DIR}/cmake/convert_cp936.cmake
  DEPENDS ${QRCORE_ERROR_LIST_SOURCE} ${PROJECT_SOURCE_DIR}/cmake/convert_cp936.cmake
  COMMENT "Error list in code page 936"
  VERBATIM)
add_custom_target(qrcore_error_list ALL DEPENDS ${QRCORE_ERROR_LIST})

# The compiler's run-time DLLs that every program of the build needs (linked dynamically: an
# exception thrown in the DLL and caught in a program needs one shared unwinder). A program that
# misses one ends with status 53 and no message.
if(QRCORE_WINDOWS_BITS EQUAL 32)
  set(QRCORE_RUNTIME_DLL_NAMES libgcc_s_dw2-1.dll libstdc++-6.dll libwinpthread-1.dll)
else()
  set(QRCORE_RUNTIME_DLL_NAMES libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll)
endif()
set(QRCORE_RUNTIME_DLLS "")
foreach(dll ${QRCORE_RUNTIME_DLL_NAMES})
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not know ${dll}")
  endif()
  get_filename_component(path "${path}" REALPATH)
  list(APPEND QRCORE_RUNTIME_DLLS ${path})
endforeach()
file(COPY ${QRCORE_RUNTIME_DLLS} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})

# Wine runs the test programs (and whatever else the build runs): headless, quiet, in a prefix of
# this build's own (created on first use; scripts/wine-suite.sh starts its server first).
if(QRCORE_WINE_LOADER AND EXISTS ${QRCORE_WINE_LOADER})
  set(QRCORE_WINE_PREFIX ${PROJECT_BINARY_DIR}/wine-prefix)
  if(EXISTS /usr/lib/wine/wineserver64)
    set(QRCORE_WINE_SERVER /usr/lib/wine/wineserver64)
  else()
    set(QRCORE_WINE_SERVER /usr/lib/wine/wineserver32)
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/wine-run.sh.in ${PROJECT_BINARY_DIR}/wine-run.sh
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE
    @ONLY)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_BINARY_DIR}/wine-run.sh)
endif()

# The definition files. QRCore.def lists every exported C function as the compiler names it and
# its name in the export table; it makes the import library, and it is installed. The linker gets
# a copy in which an export renamed beyond the decoration (QR_llabs@8 as _llabs@8) is written as
# an alias: the linker sorts the export table by the names on the left, and the loader finds
# names by a binary search, so an export whose table name sorts elsewhere would not be found.
# For 64-bit Windows both files hold the same functions under their plain names (no stdcall
# decoration there), the 64-bit absolute value as QR_llabs.
set(QRCORE_DEF_SOURCE ${PROJECT_SOURCE_DIR}/cmake/QRCore.def)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QRCORE_DEF_SOURCE})
file(STRINGS ${QRCORE_DEF_SOURCE} lines)
set(link_text "; Made from QRCore.def for the linker of this build.\n")
set(plain_text "; Exports of the 64-bit QRCore.dll, made from QRCore.def: the same C functions, plain names.\n")
foreach(line IN LISTS lines)
  if(line MATCHES "^[ \t]*;")
    continue()
  elseif(line MATCHES "^[ \t]*(([A-Za-z_][A-Za-z0-9_]*)@[0-9]+)[ \t]*==[ \t]*([^ \t]+)")
    set(internal ${CMAKE_MATCH_1})
    set(plain ${CMAKE_MATCH_2})
    set(exported ${CMAKE_MATCH_3})
    if(exported STREQUAL "_${internal}")
      string(APPEND link_text "  ${internal} == ${exported}\n")
    else()
      string(APPEND link_text "  ${exported} = ${internal}\n")
    endif()
    string(APPEND plain_text "  ${plain}\n")
  else()
    string(APPEND link_text "${line}\n")
    string(APPEND plain_text "${line}\n")
  endif()
endforeach()
if(QRCORE_WINDOWS_BITS EQUAL 32)
  set(QRCORE_DEF ${QRCORE_DEF_SOURCE})
  set(text "${link_text}")
else()
  set(QRCORE_DEF ${PROJECT_BINARY_DIR}/QRCore.def)
  file(WRITE ${PROJECT_BINARY_DIR}/QRCore.def.new "${plain_text}")
  configure_file(${PROJECT_BINARY_DIR}/QRCore.def.new ${QRCORE_DEF} COPYONLY)
  set(text "${plain_text}")
endif()
file(WRITE ${PROJECT_BINARY_DIR}/QRCore-link.def.new "${text}")
configure_file(${PROJECT_BINARY_DIR}/QRCore-link.def.new ${PROJECT_BINARY_DIR}/QRCore-link.def COPYONLY)
find_program(QRCORE_DLLTOOL NAMES ${QRCORE_MINGW_TARGET}-dlltool dlltool REQUIRED)

# qrcore_windows_library(<target>): QRCore.dll with the exports of the definition file, its import
# library libqrcore.dll.a (what MinGW's -lqrcore finds; 32-bit: see cmake/import_library.cmake),
# the system libraries of the backend.
function(qrcore_windows_library target)
  target_sources(${target} PRIVATE ${PROJECT_BINARY_DIR}/QRCore-link.def)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME QRCore PREFIX "" ARCHIVE_OUTPUT_NAME qrcore IMPORT_PREFIX lib IMPORT_SUFFIX .dll.a)
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${QRCORE_DEF})
  target_link_libraries(${target} PRIVATE user32 ntdll)
  add_dependencies(${target} qrcore_error_list)
  if(QRCORE_WINDOWS_BITS EQUAL 32)
    # The linker's own import library would name the renamed export by its table name.
    target_link_options(${target} PRIVATE -Wl,--output-def,${PROJECT_BINARY_DIR}/QRCore-linked.def)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -DDLLTOOL=${QRCORE_DLLTOOL} -DLINKER_DEF=${PROJECT_BINARY_DIR}/QRCore-linked.def
        -DQRCORE_DEF=${QRCORE_DEF} -DOUTPUT=$<TARGET_LINKER_FILE:${target}>
        -P ${PROJECT_SOURCE_DIR}/cmake/import_library.cmake
      VERBATIM)
  endif()
endfunction()
