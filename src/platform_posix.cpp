#include "platform.hpp"

#include <cerrno>

#include <sys/stat.h>

namespace vormesta::platform {

const std::string_view line_end = "\n";

bool utf8_arguments(int&, char**&) {
    return true;
}

void print(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

std::FILE* open_input(const char* path) {
    return std::fopen(path, "rb");
}

std::FILE* open_output(const char* path) {
    return std::fopen(path, "wb");
}

bool remove_file(const char* path) {
    return std::remove(path) == 0;
}

bool is_directory(std::FILE* file) {
    struct stat info {};
    return fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode);
}

FileMatch match_file(std::FILE* file, const char* path) {
    struct stat open_info {};
    struct stat path_info {};
    if (fstat(fileno(file), &open_info) != 0)
        return FileMatch::unknown;
    if (stat(path, &path_info) != 0)
        return errno == ENOENT || errno == ENOTDIR ? FileMatch::different : FileMatch::unknown;
    const bool same = open_info.st_dev == path_info.st_dev && open_info.st_ino == path_info.st_ino;
    return same ? FileMatch::same : FileMatch::different;
}

} // namespace vormesta::platform
