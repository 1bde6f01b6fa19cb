# Warnings for the project's own targets; errors too unless QUILLET_WARNINGS_AS_ERRORS is off.
function(quillet_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                           -Wsign-conversion -Wcast-qual -Wformat=2)
  if(QUILLET_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
