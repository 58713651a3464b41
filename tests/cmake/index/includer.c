/* The C header as C89 and C++98 and later see it: the functions, with no C++ view before
   C++17. */
#include "vormesta/site.h"

int includer_finds(void) {
    size_t count;
    const struct vormesta_file* file = site_find("index.html");
    return file && site_below("", &count) != 0 && site_count() == count;
}
