# cmake -DINPUT=<UTF-8 file> -DOUTPUT=<file> -P convert_cp936.cmake: writes INPUT in code page 936.
# Fails, leaving no output, when iconv cannot convert INPUT (a character without a code page 936
# form), with iconv's own words.
cmake_minimum_required(VERSION 3.25)
find_program(ICONV iconv REQUIRED)
get_filename_component(dir ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${dir})
execute_process(COMMAND ${ICONV} -f UTF-8 -t CP936 ${INPUT}
  OUTPUT_FILE ${OUTPUT}.part RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  file(REMOVE ${OUTPUT}.part)
  string(STRIP "${err}" err)
  if(err STREQUAL "")
    set(err "no message")
  endif()
  message(FATAL_ERROR "iconv could not convert ${INPUT} to code page 936 (exit status ${rc}): ${err}")
endif()
file(RENAME ${OUTPUT}.part ${OUTPUT})
