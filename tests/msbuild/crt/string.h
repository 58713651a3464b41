/* What Visual C++'s <string.h> declares of the functions a library's index calls. */
#include <stddef.h>
int strcmp(const char* a, const char* b);
int strncmp(const char* a, const char* b, size_t count);
size_t strlen(const char* text);
