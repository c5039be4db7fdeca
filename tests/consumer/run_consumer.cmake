# Installs the built library into a scratch prefix, builds a consumer project against it (CMake
# package and pkg-config) and runs both programs.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/ScratchInstall.cmake)
scratch_install(include/qrcore/qrcore.h share/qrcore/QuarrionError.inf share/qrcore/QuarrionError.en.inf bin/QuarrionError.inf)
file(GLOB pcfiles ${PREFIX}/lib*/pkgconfig/qrcore.pc)
list(GET pcfiles 0 pcfile)
get_filename_component(pcdir ${pcfile} DIRECTORY)

set(ENV{PKG_CONFIG_PATH} ${pcdir})
run(${CMAKE_COMMAND} -S ${CONSUMER_SOURCE_DIR} -B ${WORK_DIR}/build -DCMAKE_PREFIX_PATH=${PREFIX}
    -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
foreach(program consumer consumer_pc)
  run(${WORK_DIR}/build/${program})
  if(NOT LAST_OUTPUT MATCHES "-1 consumer-ok")
    message(FATAL_ERROR "${program} printed: ${LAST_OUTPUT}")
  endif()
endforeach()
# The error list each program finds beside it: the system's own, or the English one chosen with
# qrcore_copy_error_list(... LANGUAGE en).
run(${WORK_DIR}/build/consumer 28)
if(NOT LAST_OUTPUT MATCHES "28 磁盘空间不足!")
  message(FATAL_ERROR "consumer printed: ${LAST_OUTPUT}")
endif()
run(${WORK_DIR}/build/en/consumer_en 28)
if(NOT LAST_OUTPUT MATCHES "28 Not_enough_disk_space!")
  message(FATAL_ERROR "consumer_en printed: ${LAST_OUTPUT}")
endif()
# The installed tool runs from its install folder, finding the library and the error list there.
if(EXISTS ${PREFIX}/bin/qrtool)
  run(${PREFIX}/bin/qrtool line encode AL0123)
  if(NOT LAST_OUTPUT STREQUAL "AL0123\t1103806595195\n")
    message(FATAL_ERROR "installed qrtool printed: ${LAST_OUTPUT}")
  endif()
endif()
message(STATUS "consumer project built and ran against ${PREFIX}")
