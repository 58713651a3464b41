// Two more callers of the library, in C++: the same arrays, one copy of the data.
#include "library/greeting.h"
#include "library/table.h"

#include <cstddef>

const unsigned char* library_greeting_from_cpp() {
    return library_greeting;
}

std::size_t library_table_size_from_cpp() {
    return sizeof library_table;
}
