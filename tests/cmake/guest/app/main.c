/* <string.h> must still be the C library's, "string.h" the embedded file's. */
#include <string.h>

#include "icon.h"   /* from the assets library */
#include "string.h" /* array string */

static int holds(const unsigned char* array, size_t size, const char* text) {
    return size == strlen(text) && memcmp(array, text, size) == 0;
}

int main(void) {
    return holds(string, sizeof string, "embedded by a guest\n") &&
                   holds(icon, sizeof icon, "an assets library hands this on\n")
               ? 0
               : 1;
}
