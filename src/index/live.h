/* What a live library knows of where its files come from: the step writes its folders, files and
   media types in these forms after this, and the walk's rules (rules.c) before it. */
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dirent.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#endif
#include <stdio.h>

/* A folder the library walks, as the build named it. */
struct vormesta_live_folder {
    const char* path;
    const char* prefix;          /* before the path below it of each file */
    int etag;                    /* a validator asked */
    struct vormesta_walk_rules rules;
};

/* A file the library names on its own. */
struct vormesta_live_listed {
    const char* path;
    const char* relative;
    int etag;
};

/* A media type by extension, as the step gives it: the type, and the type for UTF-8 text. */
struct vormesta_live_type {
    const char* extension;
    const char* type;
    const char* utf8; /* null for a type without a charset */
};
