/* What Visual C++'s <stdlib.h> declares of the functions a library's index calls. */
#include <stddef.h>
void* bsearch(const void* key, const void* base, size_t count, size_t size,
              int (*order)(const void*, const void*));
