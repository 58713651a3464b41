// Windows: every path goes to the system as UTF-16, made absolute and given the \\?\ form, so
// that names in any script and paths past MAX_PATH open like any other.
#include "platform.hpp"
#include "utf16.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <fcntl.h>
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

// Whether a path's last component is a bare DOS device name (NUL, CON, COM1...): those stay
// devices. With an extension (nul.dat, aux.txt, con.h) current Windows takes it for a file.
bool names_device(std::wstring_view path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    std::wstring name(path.substr(slash == std::wstring_view::npos ? 0 : slash + 1));
    for (wchar_t& c : name)
        c = c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
    static const wchar_t* const devices[] = {L"NUL", L"CON", L"PRN", L"AUX", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* device : devices)
        if (name == device)
            return true;
    return name.size() == 4 &&
           (name.compare(0, 3, L"COM") == 0 || name.compare(0, 3, L"LPT") == 0) &&
           name[3] >= L'1' && name[3] <= L'9';
}

std::wstring full_path(const std::wstring& path) {
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return {};
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size)
        return {};
    full.resize(length);
    return full;
}

// The path as the system calls take it: absolute, '\' between folders, and in the \\?\ form
// that lifts the MAX_PATH limit (\\?\UNC\ for a share). Device paths (\\.\NUL) stay as they are.
std::wstring system_path(const char* path) {
    const std::wstring wide = to_wide(path);
    if (wide.empty())
        return wide;
    std::wstring full = full_path(wide);
    if (full.empty())
        return wide;
    // GetFullPathNameW makes nul.dat the device \\.\nul: the file named is the file meant.
    if (starts_with(full, LR"(\\.\)") && !starts_with(wide, LR"(\\.\)") && !names_device(wide)) {
        const std::size_t slash = wide.find_last_of(L"\\/");
        const std::wstring folder =
            full_path(slash == std::wstring::npos ? std::wstring(L".") : wide.substr(0, slash + 1));
        if (folder.empty())
            return wide;
        std::wstring name = wide.substr(slash == std::wstring::npos ? 0 : slash + 1);
        // As the system trims them from any other name.
        while (!name.empty() && (name.back() == L'.' || name.back() == L' '))
            name.pop_back();
        full = folder + (folder.back() == L'\\' ? L"" : L"\\") + name;
    }
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

// Volume and file id: the 128-bit id where the system and file system report it (ReFS ids do
// not fit in 64 bits), the 64-bit file index every file system gives otherwise.
bool read_identity(HANDLE handle, FileId& id) {
    FILE_ID_INFO info{};
    if (GetFileInformationByHandleEx(handle, FileIdInfo, &info, sizeof info)) {
        std::uint64_t halves[2];
        static_assert(sizeof halves == sizeof info.FileId);
        std::memcpy(halves, &info.FileId, sizeof halves);
        id = {info.VolumeSerialNumber, halves[1], halves[0]};
        return true;
    }
    BY_HANDLE_FILE_INFORMATION index{};
    if (!GetFileInformationByHandle(handle, &index))
        return false;
    id = {index.dwVolumeSerialNumber, 0,
          (std::uint64_t{index.nFileIndexHigh} << 32) | index.nFileIndexLow};
    return true;
}

struct Handle {
    explicit Handle(HANDLE h) : handle(h) {}
    ~Handle() { CloseHandle(handle); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE handle;
};

// Opens whatever is at `path` (a folder too) only to look at it: no access rights are asked for,
// and any sharing is allowed.
HANDLE open_to_inspect(const std::wstring& path) {
    return CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool nothing_there(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The path an open file ends at, links followed, as \\?\C:\... (empty when unknown).
std::wstring final_path(HANDLE file) {
    const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    const DWORD size = GetFinalPathNameByHandleW(file, nullptr, 0, flags);
    if (size == 0)
        return {};
    std::wstring path(size, L'\0');
    const DWORD length = GetFinalPathNameByHandleW(file, path.data(), size, flags);
    if (length == 0 || length >= size)
        return {};
    path.resize(length);
    return path;
}

// The temporary being written, for the console control handler to remove. The lock keeps the
// handler from removing it while it becomes the header.
SRWLOCK pending_lock = SRWLOCK_INIT;
std::wstring pending_temporary;

// Ctrl-C, Ctrl-Break, closing the console: remove the temporary, then let the system's own
// handler end the process as it would have (status STATUS_CONTROL_C_EXIT).
BOOL WINAPI remove_temporary_on_stop(DWORD) {
    AcquireSRWLockExclusive(&pending_lock);
    if (!pending_temporary.empty())
        DeleteFileW(pending_temporary.c_str());
    ReleaseSRWLockExclusive(&pending_lock);
    return FALSE;
}

void discard_pending_temporary() {
    AcquireSRWLockExclusive(&pending_lock);
    if (!pending_temporary.empty())
        DeleteFileW(pending_temporary.c_str());
    pending_temporary.clear();
    ReleaseSRWLockExclusive(&pending_lock);
}

// An indexer or a virus scanner may hold the old header open for a moment: such a refusal is
// tried again for about two seconds before the run gives up.
bool move_over(const std::wstring& from, const std::wstring& to) {
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING))
            return true;
        const DWORD error = GetLastError();
        const bool passing = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
                             error == ERROR_LOCK_VIOLATION;
        if (!passing || attempt == 40)
            return false;
        Sleep(50);
    }
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

bool inspect_input(std::FILE* file, InputFacts& facts) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    struct _stat64 info {};
    if (handle == INVALID_HANDLE_VALUE || _fstat64(_fileno(file), &info) != 0 ||
        !read_identity(handle, facts.id))
        return false;
    facts.is_directory = (info.st_mode & _S_IFDIR) != 0;
    facts.size = (info.st_mode & _S_IFREG) != 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    return true;
}

Output::Opened Output::find_target(const char* path, const FileId& input, int&) {
    const std::wstring wide = system_path(path);
    const HANDLE existing = open_to_inspect(wide);
    if (existing == INVALID_HANDLE_VALUE) {
        if (!nothing_there(GetLastError()))
            return Opened::failed;
        target_ = to_utf8(wide.c_str());
        return Opened::ok;
    }
    const Handle held(existing);
    FileId id;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!read_identity(existing, id) || !GetFileInformationByHandle(existing, &info))
        return Opened::failed;
    if (id == input)
        return Opened::is_input;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        errno = EISDIR;
        return Opened::failed;
    }
    // A read-only header is refused, as opening it for writing would be.
    if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
        errno = EACCES;
        return Opened::failed;
    }
    // NUL, CON and the like cannot be replaced.
    if (GetFileType(existing) != FILE_TYPE_DISK) {
        file_ = _wfopen(wide.c_str(), L"wb");
        return file_ ? Opened::ok : Opened::failed;
    }
    target_ = to_utf8(final_path(existing).c_str());
    return target_.empty() ? Opened::failed : Opened::ok;
}

// A name of this run's own beside the target (CREATE_NEW creates it or fails): a leftover of a
// killed run with the same process number only moves this one to the next name. The lock keeps
// Ctrl-C's handler waiting until the new file is this run's own and published.
bool Output::create_temporary(int) {
    const std::wstring target = to_wide(target_);
    const std::wstring prefix = target.substr(0, target.find_last_of(L"\\/") + 1) + L".vormesta-" +
                                std::to_wstring(GetCurrentProcessId());
    SetConsoleCtrlHandler(remove_temporary_on_stop, TRUE);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::wstring name = prefix + L"-" + std::to_wstring(attempt) + L".tmp";
        temporary_ = to_utf8(name.c_str());
        AcquireSRWLockExclusive(&pending_lock);
        const HANDLE handle =
            CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        const DWORD error = GetLastError();
        if (handle != INVALID_HANDLE_VALUE)
            pending_temporary.swap(name);
        ReleaseSRWLockExclusive(&pending_lock);
        if (handle == INVALID_HANDLE_VALUE) {
            temporary_.clear();
            if (error == ERROR_FILE_EXISTS)
                continue;
            errno = error == ERROR_ACCESS_DENIED ? EACCES : EIO;
            return false;
        }
        const int descriptor =
            _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_WRONLY | _O_BINARY);
        if (descriptor == -1)
            CloseHandle(handle);
        else if (!(file_ = _fdopen(descriptor, "wb")))
            _close(descriptor);
        if (file_)
            return true;
        discard();
        return false;
    }
    return false;
}

Output::Replaced Output::replace_target() {
    // Held, so that Ctrl-C cannot remove the temporary once it is the header.
    AcquireSRWLockExclusive(&pending_lock);
    bool moved = false;
    try {
        moved = move_over(pending_temporary, to_wide(target_));
    } catch (const std::bad_alloc&) {
    }
    if (moved)
        pending_temporary.clear();
    ReleaseSRWLockExclusive(&pending_lock);
    if (!moved)
        return Replaced::failed;
    temporary_.clear();
    return Replaced::done;
}

bool Output::open_in_place() {
    in_place_ = _wfopen(to_wide(target_).c_str(), L"r+b");
    return in_place_ != nullptr;
}

void Output::remove_temporary() {
    discard_pending_temporary();
    temporary_.clear();
}

bool truncate(std::FILE* file) {
    return _chsize_s(_fileno(file), 0) == 0;
}

} // namespace vormesta::platform
