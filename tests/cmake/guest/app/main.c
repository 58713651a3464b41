/* <string.h> must still be the C library's, "string.h" the embedded file's. */
#include <string.h>

#include "gen/made.h" /* array gen_made, a file the build made */
#include "icon.h"     /* from the assets library */
#include "names.h"    /* array names, from my-assets and my_assets alike */
#include "shared.h"   /* declares the array shared, defined in guest_data */
#include "string.h"   /* array string */

size_t extra_size(void);

static int holds(const unsigned char* array, size_t size, const char* text) {
    return size == strlen(text) && memcmp(array, text, size) == 0;
}

int main(void) {
    return holds(string, sizeof string, "embedded by a guest\n") &&
                   holds(icon, sizeof icon, "an assets library hands this on\n") &&
                   holds(gen_made, sizeof gen_made, "an assets library hands this on\n") &&
                   holds(shared, sizeof shared, "compiled once, declared for every caller\n") &&
                   holds(names, sizeof names, "told apart by more than a C name\n") &&
                   extra_size() == strlen("embedded for extra.c\n")
               ? 0
               : 1;
}
