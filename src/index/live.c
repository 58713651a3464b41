/* A live library: each call looks at the folders it was made from, by the walk's own rules
   (rules.c), and reads what changed. Nothing handed out is ever freed: every version read stays
   for as long as the program runs, so no pointer given ever dangles (development only). Where
   the folders are gone, the files embedded at build time serve, and standard error says so once.
   C that C++ compiles too. */

/* Which thing a path is, which version of it, and when that was looked at (by the clock the
   file system's times keep). */
struct vormesta_live_version {
    int kind; /* 0 nothing (or unreadable), 1 file, 2 folder, 3 anything else */
    unsigned long long size, modified, changed, id, looked;
};

static int vormesta_live_same(const struct vormesta_live_version* a,
                              const struct vormesta_live_version* b) {
    return a->kind == b->kind && a->size == b->size && a->modified == b->modified &&
           a->changed == b->changed && a->id == b->id;
}

static char* vormesta_live_join(const char* a, const char* b, const char* c) {
    size_t la = strlen(a), lb = strlen(b), lc = strlen(c);
    char* joined = VORMESTA_CAST(char*, malloc(la + lb + lc + 1));
    if (joined) {
        memcpy(joined, a, la);
        memcpy(joined + la, b, lb);
        memcpy(joined + la + lb, c, lc + 1);
    }
    return joined;
}

/* The host's calls: the clock, look, list, resolve and read. */
#ifdef _WIN32
static unsigned long long vormesta_live_clock(void) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (VORMESTA_CAST(unsigned long long, now.dwHighDateTime) << 32) | now.dwLowDateTime;
}
#define VORMESTA_LIVE_SECOND 10000000u

static wchar_t* vormesta_live_wide(const char* path) {
    int size = MultiByteToWideChar(CP_UTF8, 0, path, -1, VORMESTA_NULL, 0);
    wchar_t* wide =
        size > 0 ? VORMESTA_CAST(wchar_t*, malloc(VORMESTA_CAST(size_t, size) * sizeof(wchar_t)))
                 : VORMESTA_NULL;
    if (wide && MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, size) != size) {
        free(wide);
        wide = VORMESTA_NULL;
    }
    return wide;
}

static char* vormesta_live_narrow(const wchar_t* wide) {
    int size =
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, VORMESTA_NULL, 0, VORMESTA_NULL, VORMESTA_NULL);
    char* narrow =
        size > 0 ? VORMESTA_CAST(char*, malloc(VORMESTA_CAST(size_t, size))) : VORMESTA_NULL;
    if (narrow && WideCharToMultiByte(CP_UTF8, 0, wide, -1, narrow, size, VORMESTA_NULL,
                                      VORMESTA_NULL) != size) {
        free(narrow);
        narrow = VORMESTA_NULL;
    }
    return narrow;
}

static HANDLE vormesta_live_open(const char* path, DWORD access) {
    wchar_t* wide = vormesta_live_wide(path);
    HANDLE file =
        wide ? CreateFileW(wide, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           VORMESTA_NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, VORMESTA_NULL)
             : INVALID_HANDLE_VALUE;
    free(wide);
    return file;
}

static void vormesta_live_version_of(HANDLE file, struct vormesta_live_version* version) {
    BY_HANDLE_FILE_INFORMATION info;
    memset(version, 0, sizeof *version);
    if (!GetFileInformationByHandle(file, &info))
        return;
    version->kind = info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? 2 : 1;
    version->size =
        (VORMESTA_CAST(unsigned long long, info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    version->modified =
        (VORMESTA_CAST(unsigned long long, info.ftLastWriteTime.dwHighDateTime) << 32) |
        info.ftLastWriteTime.dwLowDateTime;
    version->changed =
        (VORMESTA_CAST(unsigned long long, info.ftCreationTime.dwHighDateTime) << 32) |
        info.ftCreationTime.dwLowDateTime;
    version->id =
        ((VORMESTA_CAST(unsigned long long, info.nFileIndexHigh) << 32) | info.nFileIndexLow) ^
        (VORMESTA_CAST(unsigned long long, info.dwVolumeSerialNumber) << 40);
}

/* What `path` is, links followed. */
static void vormesta_live_look(const char* path, struct vormesta_live_version* version) {
    unsigned long long looked = vormesta_live_clock();
    HANDLE file = vormesta_live_open(path, 0);
    memset(version, 0, sizeof *version);
    if (file != INVALID_HANDLE_VALUE && GetFileType(file) != FILE_TYPE_DISK)
        version->kind = 3;
    else if (file != INVALID_HANDLE_VALUE)
        vormesta_live_version_of(file, version);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    version->looked = looked;
}

static int vormesta_live_is_link(const char* path) {
    wchar_t* wide = vormesta_live_wide(path);
    DWORD attributes = wide ? GetFileAttributesW(wide) : INVALID_FILE_ATTRIBUTES;
    free(wide);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

/* `path` with every link resolved, as the system names it; null where it cannot be. The name
   goes on the heap: a program's threads may have small stacks. */
static char* vormesta_live_resolved(const char* path) {
    HANDLE file = vormesta_live_open(path, 0);
    DWORD size = 0, written = 0;
    wchar_t* wide = VORMESTA_NULL;
    char* resolved = VORMESTA_NULL;
    if (file == INVALID_HANDLE_VALUE)
        return VORMESTA_NULL;
    size = GetFinalPathNameByHandleW(file, VORMESTA_NULL, 0, FILE_NAME_NORMALIZED);
    if (size > 0)
        wide = VORMESTA_CAST(wchar_t*, malloc(size * sizeof(wchar_t)));
    if (wide)
        written = GetFinalPathNameByHandleW(file, wide, size, FILE_NAME_NORMALIZED);
    CloseHandle(file);
    if (wide && written > 0 && written < size)
        resolved = vormesta_live_narrow(wide);
    free(wide);
    return resolved;
}

/* Calls `each` with every name in `folder` but "." and "..". */
static void vormesta_live_list(const char* folder, void (*each)(void*, const char*),
                               void* context) {
    char* pattern = vormesta_live_join(folder, "/*", "");
    wchar_t* wide = pattern ? vormesta_live_wide(pattern) : VORMESTA_NULL;
    WIN32_FIND_DATAW found;
    HANDLE search = wide ? FindFirstFileW(wide, &found) : INVALID_HANDLE_VALUE;
    free(pattern);
    free(wide);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        char* name = vormesta_live_narrow(found.cFileName);
        if (name && strcmp(name, ".") != 0 && strcmp(name, "..") != 0)
            each(context, name);
        free(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

/* Reads up to `size` bytes; how many it read. */
static size_t vormesta_live_read_some(HANDLE file, unsigned char* bytes, size_t size) {
    size_t done = 0;
    DWORD got = 0;
    while (done < size) {
        DWORD step = size - done > 0x40000000u ? 0x40000000u : VORMESTA_CAST(DWORD, size - done);
        if (!ReadFile(file, bytes + done, step, &got, VORMESTA_NULL) || got == 0)
            break;
        done += got;
    }
    return done;
}

/* The workspace a `bazel run` names, in UTF-8 (the ANSI code page may not hold its name); null
   where there is none. */
static char* vormesta_live_workspace(void) {
    DWORD size = GetEnvironmentVariableW(L"BUILD_WORKSPACE_DIRECTORY", VORMESTA_NULL, 0);
    wchar_t* wide =
        size > 0 ? VORMESTA_CAST(wchar_t*, malloc(size * sizeof(wchar_t))) : VORMESTA_NULL;
    char* workspace = VORMESTA_NULL;
    if (wide && GetEnvironmentVariableW(L"BUILD_WORKSPACE_DIRECTORY", wide, size) + 1 == size)
        workspace = vormesta_live_narrow(wide);
    free(wide);
    return workspace;
}

#define VORMESTA_LIVE_FILE HANDLE
#define VORMESTA_LIVE_NO_FILE INVALID_HANDLE_VALUE
#define vormesta_live_open_input(path) vormesta_live_open(path, GENERIC_READ)
#define vormesta_live_close CloseHandle
#define vormesta_live_facts(file, version) vormesta_live_version_of(file, version)
#else
#if defined(__linux__) || defined(__CYGWIN__)
static unsigned long long vormesta_live_clock(void) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return VORMESTA_CAST(unsigned long long, now.tv_sec) * 1000000000u +
           VORMESTA_CAST(unsigned long long, now.tv_nsec);
}
#define VORMESTA_LIVE_SECOND 1000000000u
#else
static unsigned long long vormesta_live_clock(void) {
    return VORMESTA_CAST(unsigned long long, time(VORMESTA_NULL));
}
#define VORMESTA_LIVE_SECOND 1u
#endif

static void vormesta_live_version_of(const struct stat* facts,
                                     struct vormesta_live_version* version) {
    version->kind = S_ISREG(facts->st_mode) ? 1 : S_ISDIR(facts->st_mode) ? 2 : 3;
    version->size = VORMESTA_CAST(unsigned long long, facts->st_size);
    version->modified = VORMESTA_CAST(unsigned long long, facts->st_mtime);
    version->changed = VORMESTA_CAST(unsigned long long, facts->st_ctime);
#if defined(__linux__) || defined(__CYGWIN__)
    version->modified =
        version->modified * 1000000000u + VORMESTA_CAST(unsigned long long, facts->st_mtim.tv_nsec);
    version->changed =
        version->changed * 1000000000u + VORMESTA_CAST(unsigned long long, facts->st_ctim.tv_nsec);
#endif
    version->id = VORMESTA_CAST(unsigned long long, facts->st_ino) ^
                  (VORMESTA_CAST(unsigned long long, facts->st_dev) << 40);
}

static void vormesta_live_look(const char* path, struct vormesta_live_version* version) {
    struct stat facts;
    memset(version, 0, sizeof *version);
    version->looked = vormesta_live_clock();
    if (stat(path, &facts) == 0)
        vormesta_live_version_of(&facts, version);
}

static int vormesta_live_is_link(const char* path) {
    struct stat facts;
    return lstat(path, &facts) == 0 && S_ISLNK(facts.st_mode);
}

static char* vormesta_live_resolved(const char* path) {
    return realpath(path, VORMESTA_NULL);
}

static void vormesta_live_list(const char* folder, void (*each)(void*, const char*),
                               void* context) {
    DIR* listing = opendir(folder);
    struct dirent* entry;
    if (!listing)
        return;
    while ((entry = readdir(listing)) != VORMESTA_NULL)
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            each(context, entry->d_name);
    closedir(listing);
}

static size_t vormesta_live_read_some(FILE* file, unsigned char* bytes, size_t size) {
    return fread(bytes, 1, size, file);
}

static void vormesta_live_facts(FILE* file, struct vormesta_live_version* version) {
    struct stat facts;
    memset(version, 0, sizeof *version);
    if (fstat(fileno(file), &facts) == 0)
        vormesta_live_version_of(&facts, version);
}

static char* vormesta_live_workspace(void) {
    const char* workspace = getenv("BUILD_WORKSPACE_DIRECTORY");
    return workspace ? vormesta_live_join(workspace, "", "") : VORMESTA_NULL;
}

#define VORMESTA_LIVE_FILE FILE*
#define VORMESTA_LIVE_NO_FILE VORMESTA_NULL
#define vormesta_live_open_input(path) fopen(path, "rb")
#define vormesta_live_close fclose
#endif

/* Whether a look at something as it is now may go by `version`: the same version, changed well
   before it was looked at. The file system's times are coarse (a few milliseconds on Linux, two
   seconds on FAT), so two changes within one tick look alike: whatever changed just before a look
   is looked at again, until it has stood still a while. */
static int vormesta_live_settled(const struct vormesta_live_version* now,
                                 const struct vormesta_live_version* version) {
    unsigned long long margin = 2 * VORMESTA_LIVE_SECOND;
    return vormesta_live_same(now, version) && version->looked > version->modified + margin &&
           version->looked > version->changed + margin;
}

/* The bytes of `path`, a NUL after them, read whole as one version, which goes to *version; null
   where it cannot be read, or changed while it was (a writer not done yet). */
static unsigned char* vormesta_live_read(const char* path, struct vormesta_live_version* version) {
    struct vormesta_live_version after;
    unsigned char* bytes = VORMESTA_NULL;
    unsigned char more;
    unsigned long long looked = vormesta_live_clock();
    VORMESTA_LIVE_FILE file = vormesta_live_open_input(path);
    if (file == VORMESTA_LIVE_NO_FILE)
        return VORMESTA_NULL;
    vormesta_live_facts(file, version);
    version->looked = looked;
    if (version->kind == 1 && version->size < VORMESTA_CAST(size_t, -1))
        bytes = VORMESTA_CAST(unsigned char*, malloc(VORMESTA_CAST(size_t, version->size) + 1));
    if (bytes && (vormesta_live_read_some(file, bytes, VORMESTA_CAST(size_t, version->size)) !=
                      version->size ||
                  vormesta_live_read_some(file, &more, 1) != 0)) {
        free(bytes);
        bytes = VORMESTA_NULL;
    }
    vormesta_live_facts(file, &after);
    vormesta_live_close(file);
    if (bytes && !vormesta_live_same(version, &after)) {
        free(bytes);
        bytes = VORMESTA_NULL;
    }
    if (bytes)
        bytes[version->size] = 0;
    return bytes;
}

/* Whether [bytes, bytes + size) is UTF-8 as RFC 3629 has it, as the step tells a charset. */
static int vormesta_live_utf8(const unsigned char* bytes, size_t size) {
    size_t i = 0;
    while (i < size) {
        unsigned char byte = bytes[i++], low = 0x80, high = 0xBF;
        int needed = byte < 0x80                    ? 0
                     : byte >= 0xC2 && byte <= 0xDF ? 1
                     : byte >= 0xE0 && byte <= 0xEF ? 2
                     : byte >= 0xF0 && byte <= 0xF4 ? 3
                                                    : -1;
        if (needed < 0)
            return 0;
        low = byte == 0xE0 ? 0xA0 : byte == 0xF0 ? 0x90 : low;
        high = byte == 0xED ? 0x9F : byte == 0xF4 ? 0x8F : high;
        for (; needed > 0; --needed, low = 0x80, high = 0xBF)
            if (i == size || bytes[i] < low || bytes[i++] > high)
                return 0;
    }
    return 1;
}

/* One look at the library: its files, sorted by path, each with the version its bytes came from,
   and the folders and listed files whose change means another walk. */
struct vormesta_live_snapshot {
    struct vormesta_file* files; /* handed out */
    struct vormesta_live_version* versions;
    char** from;
    size_t count;
    char** watched;
    struct vormesta_live_version* watched_versions;
    size_t watched_count;
    int again; /* a file could not be read whole: walk again at the next call */
    /* The look before, kept with everything it holds: what was handed out stays reachable,
       as kept memory, not lost memory. */
    struct vormesta_live_snapshot* older;
};

/* What a walk finds, before it is read. */
struct vormesta_live_found {
    char* relative;
    char* from;
    int etag;
};

struct vormesta_live_walk {
    const struct vormesta_live_folder* folder;
    const char* root; /* resolved */
    struct vormesta_live_found* found;
    size_t count, room;
    char** watched;
    size_t watched_count, watched_room;
    char** names; /* of the folder being listed */
    size_t name_count, name_room;
    int failed; /* out of memory */
};

/* `list` of *count items of `size` bytes, with `item` appended: where it lies now (it moves as
   it grows), or null where memory ran out (and `list` is as it was). */
static void* vormesta_live_grow(void* list, size_t size, size_t* count, size_t* room,
                                const void* item) {
    char* items = VORMESTA_CAST(char*, list);
    if (*count == *room) {
        size_t more = *room ? *room * 2 : 16;
        items = VORMESTA_CAST(char*, realloc(list, more * size));
        if (!items)
            return VORMESTA_NULL;
        *room = more;
    }
    memcpy(items + *count * size, item, size);
    ++*count;
    return items;
}

/* A copy of `text` appended to the list at *list. */
static void vormesta_live_add_copy(struct vormesta_live_walk* walk, char*** list, size_t* count,
                                   size_t* room, const char* text) {
    char* copy = vormesta_live_join(text, "", "");
    void* grown = copy ? vormesta_live_grow(*list, sizeof copy, count, room, &copy) : VORMESTA_NULL;
    if (grown) {
        *list = VORMESTA_CAST(char**, grown);
    } else {
        free(copy);
        walk->failed = 1;
    }
}

static void vormesta_live_add_name(void* context, const char* name) {
    struct vormesta_live_walk* walk = VORMESTA_CAST(struct vormesta_live_walk*, context);
    vormesta_live_add_copy(walk, &walk->names, &walk->name_count, &walk->name_room, name);
}

static int vormesta_live_compare_names(const void* a, const void* b) {
    return strcmp(*VORMESTA_CAST(char* const*, a), *VORMESTA_CAST(char* const*, b));
}

static void vormesta_live_watch(struct vormesta_live_walk* walk, const char* path) {
    vormesta_live_add_copy(walk, &walk->watched, &walk->watched_count, &walk->watched_room, path);
}

static void vormesta_live_keep(struct vormesta_live_walk* walk, const char* prefix,
                               const char* relative, const char* from, int etag) {
    struct vormesta_live_found found;
    void* kept;
    found.relative = vormesta_live_join(prefix, relative, "");
    found.from = vormesta_live_join(from, "", "");
    found.etag = etag;
    kept = found.relative && found.from
               ? vormesta_live_grow(walk->found, sizeof found, &walk->count, &walk->room, &found)
               : VORMESTA_NULL;
    if (kept) {
        walk->found = VORMESTA_CAST(struct vormesta_live_found*, kept);
    } else {
        free(found.relative);
        free(found.from);
        walk->failed = 1;
    }
}

/* Lets go of what a walk found, where no look is made of it. */
static void vormesta_live_forget(struct vormesta_live_walk* walk) {
    size_t i;
    for (i = 0; i < walk->count; ++i) {
        free(walk->found[i].relative);
        free(walk->found[i].from);
    }
    for (i = 0; i < walk->watched_count; ++i)
        free(walk->watched[i]);
    free(walk->found);
    free(walk->watched);
}

/* Walks the folder `at`, `below` its top, by the step's rules (`vormesta_walk_entry`): links
   followed only to a file inside; nothing but files, and none of them opened here. */
static void vormesta_live_walk_folder(struct vormesta_live_walk* walk, const char* at,
                                      const char* below) {
    const struct vormesta_live_folder* folder = walk->folder;
    char** names;
    size_t count, i;
    walk->names = VORMESTA_NULL;
    walk->name_count = walk->name_room = 0;
    vormesta_live_watch(walk, at);
    vormesta_live_list(at, vormesta_live_add_name, walk);
    names = walk->names;
    count = walk->name_count;
    qsort(names, count, sizeof *names, vormesta_live_compare_names);
    for (i = 0; i < count && !walk->failed; ++i) {
        char* path = vormesta_live_join(at, "/", names[i]);
        char* relative = vormesta_live_join(below, names[i], "");
        struct vormesta_live_version version;
        int link = path && vormesta_live_is_link(path);
        if (!path || !relative) {
            walk->failed = 1;
        } else {
            int step;
            vormesta_live_look(path, &version);
            step =
                vormesta_walk_entry(&folder->rules, names[i], relative, version.kind == 2 && !link);
            if (step == VORMESTA_WALK_ENTER) {
                char* deeper = vormesta_live_join(relative, "/", "");
                if (deeper)
                    vormesta_live_walk_folder(walk, path, deeper);
                walk->failed |= !deeper;
                free(deeper);
            } else if (step == VORMESTA_WALK_TAKE && version.kind == 1) {
                char* target = link ? vormesta_live_resolved(path) : VORMESTA_NULL;
                if (!link || (target && vormesta_inside(target, walk->root)))
                    vormesta_live_keep(walk, folder->prefix, relative, path, folder->etag);
                free(target);
            }
        }
        free(path);
        free(relative);
        free(names[i]);
    }
    for (; i < count; ++i)
        free(names[i]);
    free(names);
}

static int vormesta_live_compare_found(const void* a, const void* b) {
    return strcmp(VORMESTA_CAST(const struct vormesta_live_found*, a)->relative,
                  VORMESTA_CAST(const struct vormesta_live_found*, b)->relative);
}

/* A validator that changes with the bytes: weak, as an edit may keep the size. */
static char* vormesta_live_etag(const unsigned char* bytes, size_t size) {
    unsigned long long hash = 14695981039346656037ull;
    char* etag = VORMESTA_CAST(char*, malloc(24));
    size_t i;
    for (i = 0; i < size; ++i)
        hash = (hash ^ bytes[i]) * 1099511628211ull;
    if (etag) {
        memcpy(etag, "W/\"", 3);
        for (i = 0; i < 16; ++i)
            etag[3 + i] = "0123456789abcdef"[(hash >> (60 - 4 * i)) & 15];
        memcpy(etag + 19, "\"", 2);
    }
    return etag;
}

/* The library's own: its lock, and the look that serves. */
#ifdef _WIN32
static SRWLOCK vormesta_LIBRARY_lock; /* zero, as SRWLOCK_INIT is */
static void vormesta_LIBRARY_enter(void) {
    AcquireSRWLockExclusive(&vormesta_LIBRARY_lock);
}
static void vormesta_LIBRARY_leave(void) {
    ReleaseSRWLockExclusive(&vormesta_LIBRARY_lock);
}
#else
static pthread_once_t vormesta_LIBRARY_once = PTHREAD_ONCE_INIT;
static pthread_mutex_t vormesta_LIBRARY_lock;
static void vormesta_LIBRARY_start(void) {
    pthread_mutex_init(&vormesta_LIBRARY_lock, VORMESTA_NULL);
}
static void vormesta_LIBRARY_enter(void) {
    pthread_once(&vormesta_LIBRARY_once, vormesta_LIBRARY_start);
    pthread_mutex_lock(&vormesta_LIBRARY_lock);
}
static void vormesta_LIBRARY_leave(void) {
    pthread_mutex_unlock(&vormesta_LIBRARY_lock);
}
#endif
static struct vormesta_live_snapshot* vormesta_LIBRARY_now;
static int vormesta_LIBRARY_gone; /* the folders are gone: the embedded files serve */

static const char* vormesta_LIBRARY_type(const char* relative, const unsigned char* bytes,
                                         size_t size) {
    const char* name = strrchr(relative, '/');
    const char* dot;
    size_t i;
    name = name ? name + 1 : relative;
    dot = strrchr(name, '.');
    if (dot && dot != name)
        for (i = 0; i < sizeof vormesta_LIBRARY_live_types / sizeof vormesta_LIBRARY_live_types[0];
             ++i)
            if (vormesta_same_in_any_case(dot + 1, vormesta_LIBRARY_live_types[i].extension))
                return vormesta_LIBRARY_live_types[i].utf8 && vormesta_live_utf8(bytes, size)
                           ? vormesta_LIBRARY_live_types[i].utf8
                           : vormesta_LIBRARY_live_types[i].type;
    return "application/octet-stream";
}

/* Reads the file at `from` into *file, at `relative`: 1, or 2 where it holds what `last` (if
any) did, which *file then is; 0 where it could not be read whole. */
static int vormesta_LIBRARY_read(const char* relative, const char* from, int etag,
                                 const struct vormesta_file* last, struct vormesta_file* file,
                                 struct vormesta_live_version* version) {
    unsigned char* bytes = vormesta_live_read(from, version);
    size_t size = VORMESTA_CAST(size_t, version->size);
    if (!bytes)
        return 0;
    if (last && last->size == size && memcmp(last->data, bytes, size) == 0) {
        free(bytes); /* the same bytes: the same pointers */
        *file = *last;
        return 2;
    }
    file->path = relative;
    file->data = bytes;
    file->size = size;
    file->type = vormesta_LIBRARY_type(relative, bytes, size);
    file->etag = etag ? vormesta_live_etag(bytes, size) : VORMESTA_NULL;
    file->encodings = VORMESTA_NULL;
    file->encoding_count = 0;
    return 1;
}

/* Where `path`, as the build named it, is now: a relative one below the workspace a `bazel run`
   names, or the current folder. */
static char* vormesta_live_where(const char* path) {
    int absolute = path[0] == '/' || path[0] == '\\' || (path[0] && path[1] == ':');
    char* workspace = absolute ? VORMESTA_NULL : vormesta_live_workspace();
    char* where = workspace && workspace[0] ? vormesta_live_join(workspace, "/", path)
                                            : vormesta_live_join(path, "", "");
    free(workspace);
    return where;
}

/* Says once that the files embedded serve, since `path` is gone. */
static void vormesta_LIBRARY_say_gone(const char* path) {
    fprintf(stderr, "vormesta: library %s: %s is gone; the files embedded at build time are served\n",
            VORMESTA_LIBRARY_NAME, path);
}

/* Every file of the library's folders and list, into `walk`; false, said once, where a folder
   is gone, or every file of a library of listed files alone. */
static int vormesta_LIBRARY_find_all(struct vormesta_live_walk* walk) {
    size_t i;
    for (i = 0;
         i < sizeof vormesta_LIBRARY_live_folders / sizeof vormesta_LIBRARY_live_folders[0] &&
         vormesta_LIBRARY_live_folders[i].path;
         ++i) {
        char* at = vormesta_live_where(vormesta_LIBRARY_live_folders[i].path);
        char* root = at ? vormesta_live_resolved(at) : VORMESTA_NULL;
        if (!root) {
            vormesta_LIBRARY_say_gone(vormesta_LIBRARY_live_folders[i].path);
            free(at);
            return 0;
        }
        walk->folder = &vormesta_LIBRARY_live_folders[i];
        walk->root = root;
        vormesta_live_walk_folder(walk, at, "");
        free(root);
        free(at);
    }
    for (i = 0; i < sizeof vormesta_LIBRARY_live_listed / sizeof vormesta_LIBRARY_live_listed[0] &&
                vormesta_LIBRARY_live_listed[i].path;
         ++i) {
        struct vormesta_live_version version;
        char* at = vormesta_live_where(vormesta_LIBRARY_live_listed[i].path);
        walk->failed |= !at;
        if (!at)
            break;
        vormesta_live_watch(walk, at);
        vormesta_live_look(at, &version);
        if (version.kind == 1)
            vormesta_live_keep(walk, "", vormesta_LIBRARY_live_listed[i].relative, at,
                               vormesta_LIBRARY_live_listed[i].etag);
        free(at);
    }
    /* A library of files named alone, none of them there: the program is elsewhere. */
    if (i > 0 && !vormesta_LIBRARY_live_folders[0].path && walk->count == 0) {
        vormesta_LIBRARY_say_gone(vormesta_LIBRARY_live_listed[0].path);
        return 0;
    }
    return 1;
}

/* Takes `found` into `next` (*kept files so far): from `last` (where *old has got to) while it
   is the version read there, or read now. A file that cannot be read whole keeps its last good
   bytes, or waits for the next call. */
static void vormesta_LIBRARY_take(struct vormesta_live_snapshot* next, size_t* kept,
                                  struct vormesta_live_found* found,
                                  const struct vormesta_live_snapshot* last, size_t* old) {
    struct vormesta_live_version version;
    int same_path;
    if (*kept > 0 && strcmp(next->files[*kept - 1].path, found->relative) == 0) {
        free(found->relative); /* a second file at one path: the first is the library's */
        free(found->from);
        return;
    }
    while (last && *old < last->count && strcmp(last->files[*old].path, found->relative) < 0)
        ++*old;
    same_path = last && *old < last->count &&
                strcmp(last->files[*old].path, found->relative) == 0 &&
                strcmp(last->from[*old], found->from) == 0;
    vormesta_live_look(found->from, &version);
    if (same_path && vormesta_live_settled(&version, &last->versions[*old])) {
        next->files[*kept] = last->files[*old];
        next->versions[*kept] = last->versions[*old];
    } else if (!vormesta_LIBRARY_read(found->relative, found->from, found->etag,
                                      same_path ? &last->files[*old] : VORMESTA_NULL,
                                      &next->files[*kept], &next->versions[*kept])) {
        /* Caught while written: look again at the next call. One that cannot be opened (no
           permission) is left out until its folder changes. */
        next->again |= next->versions[*kept].kind != 0;
        if (!same_path) {
            free(found->relative);
            free(found->from);
            return;
        }
        next->files[*kept] = last->files[*old];
        next->versions[*kept] = last->versions[*old];
    }
    if (next->files[*kept].path != found->relative)
        free(found->relative); /* the path of the last look's file serves */
    next->from[(*kept)++] = found->from;
}

/* Whether two looks hold the very same files, read once: then the later one hands out the
   earlier one's, so a file found again with nothing changed is the pointer it was. */
static int vormesta_live_same_files(const struct vormesta_live_snapshot* a,
                                    const struct vormesta_live_snapshot* b) {
    size_t i;
    for (i = 0; a->count == b->count && i < a->count; ++i)
        if (a->files[i].path != b->files[i].path || a->files[i].data != b->files[i].data ||
            a->files[i].size != b->files[i].size || a->files[i].etag != b->files[i].etag)
            return 0;
    return a->count == b->count;
}

/* The library as its folders hold it now; null where a folder is gone. */
static struct vormesta_live_snapshot* vormesta_LIBRARY_walk(struct vormesta_live_snapshot* last) {
    struct vormesta_live_walk walk;
    struct vormesta_live_snapshot* next;
    size_t i, kept = 0, old = 0;
    memset(&walk, 0, sizeof walk);
    if (!vormesta_LIBRARY_find_all(&walk)) {
        vormesta_live_forget(&walk);
        return VORMESTA_NULL;
    }
    next = VORMESTA_CAST(struct vormesta_live_snapshot*, calloc(1, sizeof *next));
    if (next) {
        next->files =
            VORMESTA_CAST(struct vormesta_file*, calloc(walk.count + 1, sizeof *next->files));
        next->versions = VORMESTA_CAST(struct vormesta_live_version*,
                                       calloc(walk.count + 1, sizeof *next->versions));
        next->from = VORMESTA_CAST(char**, calloc(walk.count + 1, sizeof *next->from));
        next->watched_versions = VORMESTA_CAST(
            struct vormesta_live_version*, calloc(walk.watched_count + 1, sizeof *next->versions));
    }
    if (walk.failed || !next || !next->files || !next->versions || !next->from ||
        !next->watched_versions) {
        vormesta_live_forget(&walk);
        return last; /* out of memory: as it was */
    }
    qsort(walk.found, walk.count, sizeof *walk.found, vormesta_live_compare_found);
    for (i = 0; i < walk.count; ++i)
        vormesta_LIBRARY_take(next, &kept, &walk.found[i], last, &old);
    free(walk.found); /* its strings are the look's now, or leaked with it */
    next->count = kept;
    if (last && vormesta_live_same_files(next, last)) {
        free(next->files);
        next->files = last->files;
    }
    next->older = last;
    next->watched = walk.watched;
    next->watched_count = walk.watched_count;
    for (i = 0; i < walk.watched_count; ++i)
        vormesta_live_look(walk.watched[i], &next->watched_versions[i]);
    return next;
}

/* The look that serves now: walked again where a folder or listed file changed. */
static struct vormesta_live_snapshot* vormesta_LIBRARY_look(void) {
    struct vormesta_live_snapshot* now = vormesta_LIBRARY_now;
    int changed = !now || now->again;
    size_t i;
    if (vormesta_LIBRARY_gone)
        return VORMESTA_NULL;
    for (i = 0; !changed && i < now->watched_count; ++i) {
        struct vormesta_live_version version;
        vormesta_live_look(now->watched[i], &version);
        changed = !vormesta_live_settled(&version, &now->watched_versions[i]);
    }
    if (changed) {
        struct vormesta_live_snapshot* next = vormesta_LIBRARY_walk(now);
        if (next)
            vormesta_LIBRARY_now = next;
        vormesta_LIBRARY_gone = !next; /* what was handed out stays, reachable from here */
    }
    return vormesta_LIBRARY_gone ? VORMESTA_NULL : vormesta_LIBRARY_now;
}

/* The files [first, first + count) of `now` as they are now: a file changed since it was read is
   read again into a copy of the look (the old one stays for whoever holds it). */
static struct vormesta_live_snapshot* vormesta_LIBRARY_fresh(struct vormesta_live_snapshot* now,
                                                             size_t first, size_t count) {
    struct vormesta_live_snapshot* copy = VORMESTA_NULL;
    size_t i;
    for (i = first; i < first + count; ++i) {
        struct vormesta_live_version version;
        struct vormesta_file file;
        int got;
        vormesta_live_look(now->from[i], &version);
        if (vormesta_live_settled(&version, &now->versions[i]))
            continue;
        got = vormesta_LIBRARY_read(now->files[i].path, now->from[i],
                                    now->files[i].etag != VORMESTA_NULL, &now->files[i], &file,
                                    &version);
        if (got == 0)
            continue; /* being written: its last good bytes */
        if (got == 2) {
            (copy ? copy : now)->versions[i] = version; /* internal: no one holds it */
            continue;
        }
        if (!copy) {
            copy = VORMESTA_CAST(struct vormesta_live_snapshot*, malloc(sizeof *copy));
            if (copy) {
                *copy = *now;
                copy->older = now;
                copy->files = VORMESTA_CAST(struct vormesta_file*,
                                            malloc((now->count + 1) * sizeof *now->files));
                copy->versions = VORMESTA_CAST(struct vormesta_live_version*,
                                               malloc((now->count + 1) * sizeof *now->versions));
            }
            if (!copy || !copy->files || !copy->versions)
                return now;
            memcpy(copy->files, now->files, now->count * sizeof *now->files);
            memcpy(copy->versions, now->versions, now->count * sizeof *now->versions);
        }
        copy->files[i] = file;
        copy->versions[i] = version;
    }
    if (copy)
        vormesta_LIBRARY_now = copy;
    return copy ? copy : now;
}

const struct vormesta_file* LIBRARY_find(const char* path) {
    const struct vormesta_file* found = VORMESTA_NULL;
    struct vormesta_live_snapshot* now;
    vormesta_LIBRARY_enter();
    now = vormesta_LIBRARY_look();
    if (now && path) {
        found = vormesta_LIBRARY_find_in(now->files, now->count, path);
        if (found) {
            size_t at = VORMESTA_CAST(size_t, found - now->files);
            found = &vormesta_LIBRARY_fresh(now, at, 1)->files[at];
        }
    }
    vormesta_LIBRARY_leave();
    return now ? found : vormesta_LIBRARY_embedded_find(path);
}

size_t LIBRARY_count(void) {
    struct vormesta_live_snapshot* now;
    size_t count;
    vormesta_LIBRARY_enter();
    now = vormesta_LIBRARY_look();
    count = now ? now->count : 0;
    vormesta_LIBRARY_leave();
    return now ? count : vormesta_LIBRARY_embedded_count();
}

const struct vormesta_file* LIBRARY_at(size_t i) {
    const struct vormesta_file* found = VORMESTA_NULL;
    struct vormesta_live_snapshot* now;
    vormesta_LIBRARY_enter();
    now = vormesta_LIBRARY_look();
    if (now && i < now->count)
        found = &vormesta_LIBRARY_fresh(now, i, 1)->files[i];
    vormesta_LIBRARY_leave();
    return now ? found : vormesta_LIBRARY_embedded_at(i);
}

const struct vormesta_file* LIBRARY_below(const char* folder, size_t* count) {
    const struct vormesta_file* first = VORMESTA_NULL;
    struct vormesta_live_snapshot* now;
    size_t found = 0;
    vormesta_LIBRARY_enter();
    now = vormesta_LIBRARY_look();
    if (now) {
        first = vormesta_LIBRARY_below_in(now->files, now->count, folder, &found);
        if (first) {
            size_t at = VORMESTA_CAST(size_t, first - now->files);
            first = &vormesta_LIBRARY_fresh(now, at, found)->files[at];
        }
    }
    vormesta_LIBRARY_leave();
    if (!now)
        return vormesta_LIBRARY_embedded_below(folder, count);
    if (count)
        *count = found;
    return first;
}
