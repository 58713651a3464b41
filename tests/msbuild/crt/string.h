/* What Visual C++'s <string.h> declares of the functions a library's index calls. */
#pragma once
#include <stddef.h>
int memcmp(const void* a, const void* b, size_t count);
void* memcpy(void* to, const void* from, size_t count);
void* memset(void* to, int value, size_t count);
int strcmp(const char* a, const char* b);
int strncmp(const char* a, const char* b, size_t count);
size_t strlen(const char* text);
char* strchr(const char* text, int c);
char* strrchr(const char* text, int c);
char* strpbrk(const char* text, const char* set);
