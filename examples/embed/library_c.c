/* A C caller of the library of embedded files: the declarations carry the bounds. */
#include <string.h>

#include "library/greeting.h"
#include "library/table.h"

int library_c_sizes(size_t* greeting_size, size_t* table_size) {
    *greeting_size = sizeof library_greeting;
    *table_size = sizeof library_table;
    return library_greeting[0] == 'h' && library_table[1] == 48;
}
