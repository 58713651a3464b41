# Writes what a library made by vormesta_add_library needs for one embedded file, as a build
# step: the source that puts its bytes in an object, written each time, so that the object is
# made again; and the declaration of its array, with the bound, for the callers, rewritten only
# when it changes, so that a change of the bytes alone recompiles no caller.
#
#   cmake -DROAD=<assembler|embed|header> -DNAME=<array> -DINPUT=<the embedded file>
#         -DSOURCE=<data source> -DDECLARATION=<declaration> -DGUARD=<include guard>
#         [-DHEADER=<the tool's header, on the header road>] -P VormestaDeclare.cmake
file(SIZE "${INPUT}" SIZE)
if(SIZE EQUAL 0)
  message(FATAL_ERROR "vormesta: ${INPUT} is empty, and C has no arrays of size 0")
endif()
get_filename_component(FILE_NAME "${INPUT}" NAME)
# The path as a string for the assembler, inside a C string.
string(REPLACE "\\" "\\\\\\\\" ESCAPED_INPUT "${INPUT}")
string(REPLACE "\"" "\\\\\\\"" ESCAPED_INPUT "${ESCAPED_INPUT}")
set(templates "${CMAKE_CURRENT_LIST_DIR}/templates")
configure_file("${templates}/${ROAD}.c.in" "${SOURCE}" @ONLY)
file(TOUCH "${SOURCE}")
configure_file("${templates}/declaration.h.in" "${DECLARATION}" @ONLY)
