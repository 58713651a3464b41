#ifdef __cplusplus
#define VORMESTA_CAST(type, value) static_cast<type>(value)
#else
#define VORMESTA_CAST(type, value) ((type)(value))
#endif
static int vormesta_LIBRARY_order(const void* path, const void* file) {
    return strcmp(VORMESTA_CAST(const char*, path),
                  VORMESTA_CAST(const struct vormesta_file*, file)->path);
}
/* Where `path` stands to the files below `folder` (`length` bytes): before, among, after. */
static int vormesta_LIBRARY_place(const char* path, const char* folder, size_t length) {
    int order = strncmp(path, folder, length);
    if (order != 0 || length == 0 || folder[length - 1] == '/')
        return order;
    return path[length] == '/' ? 0 : VORMESTA_CAST(unsigned char, path[length]) < '/' ? -1 : 1;
}
const struct vormesta_file* LIBRARY_find(const char* path) {
    return path ? VORMESTA_CAST(const struct vormesta_file*,
                                bsearch(path, VORMESTA_TABLE, VORMESTA_COUNT,
                                        sizeof VORMESTA_TABLE[0], vormesta_LIBRARY_order))
                : VORMESTA_NULL;
}
size_t LIBRARY_count(void) {
    return VORMESTA_COUNT;
}
const struct vormesta_file* LIBRARY_at(size_t i) {
    return i < VORMESTA_COUNT ? &VORMESTA_TABLE[i] : VORMESTA_NULL;
}
const struct vormesta_file* LIBRARY_below(const char* folder, size_t* count) {
    size_t first = 0, last = VORMESTA_COUNT, length, low, high;
    if (!folder)
        folder = "";
    length = strlen(folder);
    while (first < last) {
        size_t middle = first + (last - first) / 2;
        if (vormesta_LIBRARY_place(VORMESTA_TABLE[middle].path, folder, length) < 0)
            first = middle + 1;
        else
            last = middle;
    }
    low = first;
    high = VORMESTA_COUNT;
    while (first < high) {
        size_t middle = first + (high - first) / 2;
        if (vormesta_LIBRARY_place(VORMESTA_TABLE[middle].path, folder, length) <= 0)
            first = middle + 1;
        else
            high = middle;
    }
    if (count)
        *count = first - low;
    return first > low ? &VORMESTA_TABLE[low] : VORMESTA_NULL;
}
