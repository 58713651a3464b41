/* A library header after one of another layout (-Dother) or of an older vormesta (no layout): it
 * must not compile, saying why. */
#define VORMESTA_FILE_DEFINED
#ifdef other
#define VORMESTA_LAYOUT 1
#endif
#include "vormesta/site.h"
