# cmake -DOBJDUMP=<objdump> -DLIBRARY=<QRCore.dll> -DEXPECTED=<exports.txt> -DBITS=<32|64>
#       -P check_exports.cmake
# Compares the DLL's export table with the full expected list: every expected name is there, and
# nothing else (no internal function, no run-time library symbol) is exported; and the table is
# in the order the loader's search needs.
execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${LIBRARY} failed")
endif()
# The name table: "[Ordinal/Name Pointer] Table" followed by lines "\t[   n] name".
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" start)
if(start EQUAL -1)
  message(FATAL_ERROR "${LIBRARY} has no export name table")
endif()
string(SUBSTRING "${dump}" ${start} -1 table)
string(REPLACE "\n" ";" lines "${table}")
set(actual "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[ \t]*\\[ *[0-9]+\\] ([^ ]+)$")
    list(APPEND actual "${CMAKE_MATCH_1}")
  elseif(actual AND line STREQUAL "")
    break()
  endif()
endforeach()

file(STRINGS ${EXPECTED} listed REGEX "^[^#]")
set(expected "")
foreach(name IN LISTS listed)
  if(BITS EQUAL 64 AND name MATCHES "^_([A-Za-z_][A-Za-z0-9_]*)@[0-9]+$")
    # No stdcall decoration in the 64-bit DLL; the absolute value keeps its C++ name there.
    set(name "${CMAKE_MATCH_1}")
    if(name STREQUAL "llabs")
      set(name "QR_llabs")
    endif()
  endif()
  list(APPEND expected "${name}")
endforeach()

# The loader finds a name by a binary search of this table: it must be in byte order.
set(sorted ${actual})
list(SORT sorted COMPARE STRING CASE SENSITIVE)
if(NOT sorted STREQUAL actual)
  foreach(name IN LISTS actual)
    list(POP_FRONT sorted expected_here)
    if(NOT name STREQUAL expected_here)
      message(FATAL_ERROR "export name table of ${LIBRARY} is not sorted: ${name} stands where ${expected_here} belongs")
    endif()
  endforeach()
endif()

set(missing ${expected})
list(REMOVE_ITEM missing ${actual})
set(extra ${actual})
list(REMOVE_ITEM extra ${expected})
list(LENGTH expected nExpected)
list(LENGTH actual nActual)
if(missing OR extra)
  string(REPLACE ";" "\n  " missing "${missing}")
  string(REPLACE ";" "\n  " extra "${extra}")
  message(FATAL_ERROR "export table of ${LIBRARY} (${nActual} names) differs from ${EXPECTED} (${nExpected}):\n"
    "missing:\n  ${missing}\nnot expected:\n  ${extra}")
endif()
message(STATUS "${LIBRARY} exports exactly the ${nExpected} expected names")
