// Windows: every path goes to the system as UTF-16, made absolute and given the \\?\ form, so
// that names in any script and paths past MAX_PATH open like any other.
#include "platform.hpp"
#include "utf16.hpp"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <shellapi.h>

namespace vormesta::platform {
namespace {

std::wstring to_wide(std::string_view utf8) {
    const std::u16string text = utf8_to_utf16(utf8);
    return std::wstring(text.begin(), text.end());
}

std::string to_utf8(const wchar_t* wide) {
    const std::wstring_view text(wide);
    return utf16_to_utf8(std::u16string(text.begin(), text.end()));
}

bool starts_with(const std::wstring& text, std::wstring_view prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The path as the system calls take it: absolute, '\' between folders, and in the \\?\ form
// that lifts the MAX_PATH limit (\\?\UNC\ for a share). Device paths (\\.\NUL) stay as they are.
std::wstring system_path(const char* path) {
    const std::wstring wide = to_wide(path);
    if (wide.empty())
        return wide;
    const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return wide;
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size)
        return wide;
    full.resize(length);
    if (starts_with(full, LR"(\\?\)") || starts_with(full, LR"(\\.\)"))
        return full;
    if (starts_with(full, LR"(\\)"))
        return LR"(\\?\UNC\)" + full.substr(2);
    return LR"(\\?\)" + full;
}

std::FILE* open_file(const char* path, const wchar_t* mode) {
    try {
        return _wfopen(system_path(path).c_str(), mode);
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return nullptr;
    }
}

// Volume and file id, as the 64-bit file index every file system gives and, where the system
// and file system report it, the 128-bit id (ReFS ids do not fit in 64 bits).
struct FileIdentity {
    BY_HANDLE_FILE_INFORMATION index{};
    bool has_id = false;
    FILE_ID_INFO id{};
};

bool read_identity(HANDLE handle, FileIdentity& identity) {
    identity.has_id =
        GetFileInformationByHandleEx(handle, FileIdInfo, &identity.id, sizeof identity.id) != 0;
    return GetFileInformationByHandle(handle, &identity.index) != 0;
}

// The 128-bit id decides when both handles have one; otherwise the 64-bit index does.
bool same_identity(const FileIdentity& a, const FileIdentity& b) {
    if (a.has_id && b.has_id)
        return a.id.VolumeSerialNumber == b.id.VolumeSerialNumber &&
               std::memcmp(&a.id.FileId, &b.id.FileId, sizeof a.id.FileId) == 0;
    return a.index.dwVolumeSerialNumber == b.index.dwVolumeSerialNumber &&
           a.index.nFileIndexHigh == b.index.nFileIndexHigh &&
           a.index.nFileIndexLow == b.index.nFileIndexLow;
}

struct LocalFreer {
    void operator()(LPWSTR* block) const { LocalFree(block); }
};

} // namespace

const std::string_view line_end = "\r\n";

bool utf8_arguments(int& argc, char**& argv) {
    // Kept for the whole run, as the C runtime keeps its own argv.
    static std::vector<std::string> strings;
    static std::vector<char*> pointers;
    int count = 0;
    const std::unique_ptr<LPWSTR, LocalFreer> wide(CommandLineToArgvW(GetCommandLineW(), &count));
    if (!wide)
        return false;
    try {
        for (int i = 0; i < count; ++i)
            strings.push_back(to_utf8(wide.get()[i]));
        for (std::string& s : strings)
            pointers.push_back(s.data());
        pointers.push_back(nullptr);
    } catch (const std::bad_alloc&) {
        return false;
    }
    argc = count;
    argv = pointers.data();
    return true;
}

void print(std::string_view text) {
    const HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (console != INVALID_HANDLE_VALUE && GetConsoleMode(console, &mode)) {
        try {
            const std::wstring wide = to_wide(text);
            std::fflush(stdout);
            DWORD written = 0;
            WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
            return;
        } catch (const std::bad_alloc&) {
            // Fall back to the bytes as they are.
        }
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
}

std::FILE* open_input(const char* path) {
    return open_file(path, L"rb");
}

std::FILE* open_output(const char* path) {
    return open_file(path, L"wb");
}

bool remove_file(const char* path) {
    try {
        return DeleteFileW(system_path(path).c_str()) != 0;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool is_directory(std::FILE* file) {
    struct _stat64 info {};
    return _fstat64(_fileno(file), &info) == 0 && (info.st_mode & _S_IFDIR) != 0;
}

FileMatch match_file(std::FILE* file, const char* path) {
    FileIdentity open_identity;
    const auto open_handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    if (open_handle == INVALID_HANDLE_VALUE || !read_identity(open_handle, open_identity))
        return FileMatch::unknown;

    std::wstring wide_path;
    try {
        wide_path = system_path(path);
    } catch (const std::bad_alloc&) {
        return FileMatch::unknown;
    }
    // No access rights are asked for: only the identity is read, and any sharing is allowed.
    const HANDLE path_handle =
        CreateFileW(wide_path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
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
    return same_identity(open_identity, path_identity) ? FileMatch::same : FileMatch::different;
}

} // namespace vormesta::platform
