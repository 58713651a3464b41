/* Includes the header of a file the check drops from the list: the build must then fail. */
#include <stddef.h>

#include "extra.h" /* array extra */

size_t extra_size(void) {
    return sizeof extra;
}
