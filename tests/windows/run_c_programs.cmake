# Installs the Windows build into a scratch prefix, checks the installed layout, builds two C
# programs and a C++ program against it with the cross compilers and runs them under Wine from
# the install's bin/, and the installed qrtool.exe there too when the build has it (TOOL true).
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/ScratchInstall.cmake)
scratch_install(bin/QRCore.dll bin/QuarrionError.inf include/qrcore/qrcore.h include/qrcore/api.h
    lib/libqrcore.dll.a lib/QRCore.def)
foreach(dll ${RUNTIME_DLLS})
  if(NOT EXISTS ${PREFIX}/bin/${dll})
    message(FATAL_ERROR "run-time DLL not installed beside QRCore.dll: ${dll}")
  endif()
endforeach()
# The installed error list is in code page 936: "文件打开方式无效" as its GBK bytes.
file(READ ${PREFIX}/bin/QuarrionError.inf list HEX)
if(NOT list MATCHES "cec4bcfeb4f2bfaab7bdcabdceded0a7")
  message(FATAL_ERROR "bin/QuarrionError.inf is not in code page 936")
endif()

set(flags -std=c11 -Wall -Wextra -Wpedantic -Werror -I${PREFIX}/include)
run(${CC} ${flags} ${SOURCE_DIR}/c_import.c -L${PREFIX}/lib -lqrcore -o ${PREFIX}/bin/c_import.exe)
run(${CC} ${flags} ${SOURCE_DIR}/c_getprocaddress.c -o ${PREFIX}/bin/c_getprocaddress.exe)
run(${CXX} -std=c++20 -Wall -Wextra -Werror -I${PREFIX}/include ${SOURCE_DIR}/cpp_classes.cpp -L${PREFIX}/lib -lqrcore
    -o ${PREFIX}/bin/cpp_classes.exe)

# Run from another folder: the DLLs and the error list are found beside the program.
foreach(program c_import c_getprocaddress cpp_classes)
  execute_process(COMMAND ${EMULATOR} ${PREFIX}/bin/${program}.exe WORKING_DIRECTORY ${WORK_DIR}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT out MATCHES "^ok [0-9]+")
    message(FATAL_ERROR "${program} ended with ${rc}:\n${out}\n${err}")
  endif()
  message(STATUS "${program}: ${out}")
endforeach()

# The installed tool: QRCore.dll, the run-time DLLs and the error list come from beside it.
if(TOOL)
  execute_process(COMMAND ${EMULATOR} ${PREFIX}/bin/qrtool.exe line encode AL0123 WORKING_DIRECTORY ${WORK_DIR}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT out MATCHES "^AL0123\t[0-9]+")
    message(FATAL_ERROR "the installed qrtool.exe ended with ${rc}:\n${out}\n${err}")
  endif()
  message(STATUS "qrtool: ${out}")
endif()
