/* What Visual C++'s <stdio.h> declares of what a live library's index calls: its stderr and
   fprintf are made as the Universal CRT makes them, from what ucrtbase.dll exports. */
#pragma once
#include <stdarg.h>
#include <stddef.h>
typedef struct _iobuf {
    void* placeholder;
} FILE;
FILE* __acrt_iob_func(unsigned index);
#define stderr (__acrt_iob_func(2))
int __stdio_common_vfprintf(unsigned long long options, FILE* stream, const char* format,
                            void* locale, va_list arguments);
static __inline int fprintf(FILE* stream, const char* format, ...) {
    va_list arguments;
    int written;
    va_start(arguments, format);
    written = __stdio_common_vfprintf(0, stream, format, NULL, arguments);
    va_end(arguments);
    return written;
}
