#include "platform.hpp"

#include <cerrno>

#include <sys/stat.h>

namespace vormesta::platform {

const std::string_view line_end = "\n";

bool is_directory(std::FILE* file) {
    struct stat info {};
    return fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode);
}

FileMatch match_file(std::FILE* file, const std::string& path) {
    struct stat open_info {};
    struct stat path_info {};
    if (fstat(fileno(file), &open_info) != 0)
        return FileMatch::unknown;
    if (stat(path.c_str(), &path_info) != 0)
        return errno == ENOENT || errno == ENOTDIR ? FileMatch::different : FileMatch::unknown;
    const bool same = open_info.st_dev == path_info.st_dev && open_info.st_ino == path_info.st_ino;
    return same ? FileMatch::same : FileMatch::different;
}

} // namespace vormesta::platform
