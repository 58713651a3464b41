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
/* The file at `path` in the sorted table `sorted` of `files`, or null. */
static const struct vormesta_file* vormesta_LIBRARY_find_in(const struct vormesta_file* sorted,
                                                            size_t files, const char* path) {
    return path ? VORMESTA_CAST(
                      const struct vormesta_file*,
                      bsearch(path, sorted, files, sizeof sorted[0], vormesta_LIBRARY_order))
                : VORMESTA_NULL;
}
/* The files of `sorted` below `folder`: the first, and their number in *count. */
static const struct vormesta_file* vormesta_LIBRARY_below_in(const struct vormesta_file* sorted,
                                                             size_t files, const char* folder,
                                                             size_t* count) {
    size_t first = 0, last = files, length, low, high;
    if (!folder)
        folder = "";
    length = strlen(folder);
    while (first < last) {
        size_t middle = first + (last - first) / 2;
        if (vormesta_LIBRARY_place(sorted[middle].path, folder, length) < 0)
            first = middle + 1;
        else
            last = middle;
    }
    low = first;
    high = files;
    while (first < high) {
        size_t middle = first + (high - first) / 2;
        if (vormesta_LIBRARY_place(sorted[middle].path, folder, length) <= 0)
            first = middle + 1;
        else
            high = middle;
    }
    if (count)
        *count = first - low;
    return first > low ? &sorted[low] : VORMESTA_NULL;
}
const struct vormesta_file* LIBRARY_find(const char* path) {
    return vormesta_LIBRARY_find_in(VORMESTA_TABLE, VORMESTA_COUNT, path);
}
size_t LIBRARY_count(void) {
    return VORMESTA_COUNT;
}
const struct vormesta_file* LIBRARY_at(size_t i) {
    return i < VORMESTA_COUNT ? &VORMESTA_TABLE[i] : VORMESTA_NULL;
}
const struct vormesta_file* LIBRARY_below(const char* folder, size_t* count) {
    return vormesta_LIBRARY_below_in(VORMESTA_TABLE, VORMESTA_COUNT, folder, count);
}
