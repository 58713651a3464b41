# Writes the declaration of an embedded array, with its bound, for the callers of a library made
# by vormesta_add_library. The file is left alone when it would come out the same, so that a
# change of the bytes alone recompiles no caller.
#
#   cmake -DHEADER=<the tool's header> -DINPUT=<the embedded file> -DOUTPUT=<declaration> -P ...
file(STRINGS "${HEADER}" declaration LIMIT_COUNT 1)
if(NOT declaration MATCHES "^const unsigned char ([A-Za-z0-9_]+)\\[\\] = {")
  message(FATAL_ERROR "vormesta: ${HEADER} does not start as the tool's headers do")
endif()
set(name "${CMAKE_MATCH_1}")
file(SIZE "${INPUT}" size)
set(text "/* The bytes of a file embedded by vormesta, defined in its library. */
#ifndef VORMESTA_DECLARES_${name}
#define VORMESTA_DECLARES_${name}
#ifdef __cplusplus
extern \"C\" {
#endif
extern const unsigned char ${name}[${size}];
#ifdef __cplusplus
}
#endif
#endif
")
set(old "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUTPUT}" "${text}")
endif()
