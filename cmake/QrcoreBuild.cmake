# Build settings shared by every target of the project.

set(QRCORE_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Wnull-dereference -Wformat=2 -Werror)

if(QRCORE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Warnings are errors in our own code (not in the test framework's macros' expansion sites,
# which get a slightly milder set through qrcore_test_strict).
function(qrcore_strict target)
  target_compile_options(${target} PRIVATE ${QRCORE_WARNINGS})
endfunction()

function(qrcore_test_strict target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Werror)
endfunction()

# The library reads its error list from the folder of the running executable, so every
# executable we build gets a copy beside it.
function(qrcore_copy_error_list_to target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${QRCORE_ERROR_LIST} $<TARGET_FILE_DIR:${target}>/QuarrionError.inf
    VERBATIM)
  if(TARGET qrcore_error_list)  # made at build time (Windows: the code page 936 list)
    add_dependencies(${target} qrcore_error_list)
  endif()
endfunction()
