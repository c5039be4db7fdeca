# Build settings shared by every target of the project.

set(QRCORE_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Wnull-dereference -Wformat=2)
set(QRCORE_TEST_WARNINGS -Wall -Wextra -Wshadow)
# Warnings are errors in our own checks only: another compiler version's new warning must never
# stop someone who builds from source.
if(QRCORE_WERROR)
  list(APPEND QRCORE_WARNINGS -Werror)
  list(APPEND QRCORE_TEST_WARNINGS -Werror)
endif()

# QRCORE_SANITIZE=ON: AddressSanitizer + UndefinedBehaviorSanitizer; =thread: ThreadSanitizer
# (it cannot be combined with the address sanitizer), for the tests labelled "threaded".
if(QRCORE_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(QRCORE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Our own code gets the strict set; tests get a slightly milder one (the test framework's macros
# expand at their sites).
function(qrcore_strict target)
  target_compile_options(${target} PRIVATE ${QRCORE_WARNINGS})
endfunction()

function(qrcore_test_strict target)
  target_compile_options(${target} PRIVATE ${QRCORE_TEST_WARNINGS})
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
