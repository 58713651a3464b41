# Writes what a library made by vormesta_add_library needs for one embedded file, as a build
# step: the declaration of its array, with the bound, for the callers, rewritten only when it
# changes, so that a change of the bytes alone recompiles no caller; and, on the roads where no
# compiler parses the bytes, the source that puts them in the object, written each time, so that
# the object is made again.
#
#   cmake -DROAD=<assembler|embed|header> -DNAME=<array> -DINPUT=<the embedded file>
#         -DSOURCE=<data source> -DDECLARATION=<declaration> -DGUARD=<include guard> -P ...
file(SIZE "${INPUT}" size)
if(size EQUAL 0)
  message(FATAL_ERROR "vormesta: ${INPUT} is empty, and C has no arrays of size 0")
endif()

if(ROAD STREQUAL "assembler")
  # The path as a string for the assembler, inside a C string.
  string(REPLACE "\\" "\\\\\\\\" path "${INPUT}")
  string(REPLACE "\"" "\\\\\\\"" path "${path}")
  file(WRITE "${SOURCE}" "/* ${NAME}: the bytes of a file embedded by vormesta, read into the object by the
 * assembler; no compiler parses them. Read-only data, named as C names it on this platform. */
#define VORMESTA_STRING(text) #text
#define VORMESTA_SYMBOL(prefix) VORMESTA_STRING(prefix) \"${NAME}\"
#define VORMESTA_NAME VORMESTA_SYMBOL(__USER_LABEL_PREFIX__)
#if defined(__APPLE__)
#define VORMESTA_SECTION \".const\\n\"
#define VORMESTA_TYPE \"\"
#define VORMESTA_SIZE \"\"
#elif defined(_WIN32) || defined(__CYGWIN__)
#define VORMESTA_SECTION \".section .rdata,\\\"dr\\\"\\n\"
#define VORMESTA_TYPE \"\"
#define VORMESTA_SIZE \"\"
#else
#define VORMESTA_SECTION \".section .rodata\\n\"
#define VORMESTA_TYPE \".type \" VORMESTA_NAME \", %object\\n\"
#define VORMESTA_SIZE \".size \" VORMESTA_NAME \", . - \" VORMESTA_NAME \"\\n\"
#endif
__asm__(VORMESTA_SECTION \".globl \" VORMESTA_NAME \"\\n\" VORMESTA_TYPE \".p2align 4\\n\"
        VORMESTA_NAME \":\\n.incbin \\\"${path}\\\"\\n\" VORMESTA_SIZE \".text\\n\");
")
elseif(ROAD STREQUAL "embed")
  file(WRITE "${SOURCE}" "/* ${NAME}: the bytes of a file embedded by vormesta, through #embed. */
#ifdef __clang__
#pragma clang diagnostic ignored \"-Wc23-extensions\"
#endif
#include \"${DECLARATION}\"
const unsigned char ${NAME}[] = {
#embed \"${INPUT}\"
};
")
endif()

get_filename_component(relative "${INPUT}" NAME)
set(text "/* ${NAME}: the bytes of ${relative}, embedded by vormesta, defined in its library. */
#ifndef ${GUARD}
#define ${GUARD}
#ifdef __cplusplus
extern \"C\" {
#endif
extern const unsigned char ${NAME}[${size}];
#ifdef __cplusplus
}
#endif
#endif
")
set(old "")
if(EXISTS "${DECLARATION}")
  file(READ "${DECLARATION}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${DECLARATION}" "${text}")
endif()
