# The warning set every target of the project builds clean under.
function(vormesta_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
  else()
    # A function without a declaration is one a header forgot or one to put in a namespace of
    # its own; clang also warns of the comma operator.
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wconversion -Wshadow
                                             -Wmissing-declarations
                                             $<$<CXX_COMPILER_ID:Clang,AppleClang>:-Wcomma>)
  endif()
endfunction()
