#include "platform.hpp"

#include <io.h>
#include <sys/stat.h>
#include <windows.h>

// The argument is a path, never a pattern: keep MinGW's start-up code from expanding wildcards.
extern "C" {
int _dowildcard = 0;
}

namespace vormesta::platform {
namespace {

struct FileIdentity {
    DWORD volume = 0;
    DWORD index_high = 0;
    DWORD index_low = 0;
};

bool read_identity(HANDLE handle, FileIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info))
        return false;
    identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return true;
}

} // namespace

const std::string_view line_end = "\r\n";

bool is_directory(std::FILE* file) {
    struct _stat64 info {};
    return _fstat64(_fileno(file), &info) == 0 && (info.st_mode & _S_IFDIR) != 0;
}

FileMatch match_file(std::FILE* file, const std::string& path) {
    FileIdentity open_identity;
    const auto open_handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (open_handle == INVALID_HANDLE_VALUE || !read_identity(open_handle, open_identity))
        return FileMatch::unknown;

    // No access rights are asked for: only the identity is read, and any sharing is allowed.
    const HANDLE path_handle =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (path_handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        const bool absent = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return absent ? FileMatch::different : FileMatch::unknown;
    }
    FileIdentity path_identity;
    const bool known = read_identity(path_handle, path_identity);
    CloseHandle(path_handle);
    if (!known)
        return FileMatch::unknown;
    const bool same = open_identity.volume == path_identity.volume &&
                      open_identity.index_high == path_identity.index_high &&
                      open_identity.index_low == path_identity.index_low;
    return same ? FileMatch::same : FileMatch::different;
}

} // namespace vormesta::platform
