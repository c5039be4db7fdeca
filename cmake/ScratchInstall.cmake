# For the install tests (scripts run with cmake -P): run() runs a command and fails the test with
# its output when it fails (LAST_OUTPUT holds what it printed); scratch_install(<file>...) installs
# the build QRCORE_BUILD_DIR into ${WORK_DIR}/prefix (emptied first; PREFIX names it) and fails
# when one of the given files is missing there.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(LAST_OUTPUT "${out}" PARENT_SCOPE)
endfunction()

macro(scratch_install)
  file(REMOVE_RECURSE ${WORK_DIR})
  set(PREFIX ${WORK_DIR}/prefix)
  run(${CMAKE_COMMAND} --install ${QRCORE_BUILD_DIR} --prefix ${PREFIX})
  foreach(f ${ARGN})
    if(NOT EXISTS ${PREFIX}/${f})
      message(FATAL_ERROR "not installed: ${f}")
    endif()
  endforeach()
endmacro()
