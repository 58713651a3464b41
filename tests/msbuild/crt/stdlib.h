/* What Visual C++'s <stdlib.h> declares of the functions a library's index calls. */
#pragma once
#include <stddef.h>
void* bsearch(const void* key, const void* base, size_t count, size_t size,
              int (*order)(const void*, const void*));
void qsort(void* base, size_t count, size_t size, int (*order)(const void*, const void*));
void* malloc(size_t size);
void* calloc(size_t count, size_t size);
void* realloc(void* block, size_t size);
void free(void* block);
char* getenv(const char* name);
