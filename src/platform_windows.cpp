// Windows: every path goes to the system as UTF-16, made absolute and given the \\?\ form, so
// that names in any script and paths past MAX_PATH open like any other.
#define _CRT_RAND_S // rand_s: the system's random generator

#include "platform.hpp"
#include "utf16.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <io.h>
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

// A path the system writes into a buffer once it has said how large; empty when it cannot.
template <typename Ask> std::wstring ask_path(Ask ask) {
    const DWORD size = ask(nullptr, 0);
    std::wstring path(size, L'\0');
    const DWORD length = size ? ask(path.data(), size) : 0;
    path.resize(length < size ? length : 0);
    return path;
}

std::wstring full_path(const std::wstring& path) {
    return ask_path([&](wchar_t* buffer, DWORD size) {
        return GetFullPathNameW(path.c_str(), size, buffer, nullptr);
    });
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
    return ask_path([&](wchar_t* buffer, DWORD size) {
        return GetFinalPathNameByHandleW(file, buffer, size,
                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    });
}

// The temporary to remove on a stop, and its handle while it is open. The lock, held while a
// temporary is made, closed or becomes the header, keeps the handler waiting until that is done.
SRWLOCK stop_lock = SRWLOCK_INIT;
int held_depth = 0; // the main thread's alone
std::wstring pending_temporary;
HANDLE pending_handle = INVALID_HANDLE_VALUE;

// Ctrl-C, Ctrl-Break, closing the console: remove the temporary, then end the process with the
// status Windows gives a Ctrl-C, here and now (the system's own handler, under Wine, ends it
// with 0). Nothing else runs: no stream is flushed into a header. A file still open is only
// marked for deletion, and goes when its last handle closes, which for a process ending is
// some time after the end that its parent sees (seen under Wine): the handler closes the
// temporary's handle itself, so the name is gone before the process ends.
BOOL WINAPI remove_temporary_and_stop(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    AcquireSRWLockExclusive(&stop_lock);
    if (!pending_temporary.empty())
        DeleteFileW(pending_temporary.c_str());
    if (pending_handle != INVALID_HANDLE_VALUE)
        CloseHandle(pending_handle);
    TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
    return TRUE;
}

// Closes a temporary's stream, its handle no longer the handler's to close.
int close_temporary(std::FILE* file) {
    const StopsHeld held;
    pending_handle = INVALID_HANDLE_VALUE;
    return std::fclose(file);
}

// An indexer or a virus scanner may hold the old header open for a moment: such a refusal is
// tried again for about two seconds before the run takes another road.
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

std::FILE* stream(HANDLE handle, const char* mode) {
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    const int descriptor = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_BINARY);
    if (descriptor == -1) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* const file = _fdopen(descriptor, mode);
    if (!file)
        _close(descriptor);
    return file;
}

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A new file of the run's own in `folder`, under a name nobody can guess (rand_s: the system's
// generator): a leftover of a killed run, or anyone's file, only moves it on to the next name,
// of which there are plenty. `path` gets its path.
HANDLE create_new(const std::wstring& folder, DWORD access, DWORD share, DWORD flags,
                  std::wstring& path) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = folder + L".vormesta-0000000000000000.tmp";
        for (std::size_t i = 0; i < 16; i += 8) {
            unsigned int bits = 0;
            rand_s(&bits);
            for (std::size_t digit = 0; digit < 8; ++digit, bits >>= 4)
                path[path.size() - 20 + i + digit] = L"0123456789abcdef"[bits & 15];
        }
        const HANDLE handle =
            CreateFileW(path.c_str(), access, share, nullptr, CREATE_NEW, flags, nullptr);
        if (handle != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            return handle;
    }
    return INVALID_HANDLE_VALUE;
}

// The sizes and times of an open file; false for what is no file on a disk (a pipe, a device).
bool facts_of_handle(HANDLE handle, InputFacts& facts) {
    FILE_BASIC_INFO basic{};
    FILE_STANDARD_INFO standard{};
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) ||
        !GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard))
        return false;
    facts.is_directory = standard.Directory != FALSE;
    facts.is_regular = !facts.is_directory;
    facts.size = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
    facts.modified = static_cast<std::uint64_t>(basic.LastWriteTime.QuadPart);
    facts.changed = static_cast<std::uint64_t>(basic.ChangeTime.QuadPart);
    return true;
}

HANDLE handle_of(std::FILE* file) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
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
    // Out at once: what follows (a failed step, the process's end) cannot hold it back.
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void handle_stops() {
    SetConsoleCtrlHandler(remove_temporary_and_stop, TRUE);
}

StopsHeld::StopsHeld() {
    if (held_depth++ == 0)
        AcquireSRWLockExclusive(&stop_lock);
}

StopsHeld::~StopsHeld() {
    if (--held_depth == 0)
        ReleaseSRWLockExclusive(&stop_lock);
}

std::FILE* open_input(const char* path) {
    try {
        return _wfopen(system_path(path).c_str(), L"rb");
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool seek_input(std::FILE* file, std::uint64_t offset) {
    return offset <= static_cast<std::uint64_t>(INT64_MAX) &&
           _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

bool facts_of_input(std::FILE* file, InputFacts& facts) {
    const HANDLE handle = handle_of(file);
    if (handle == INVALID_HANDLE_VALUE || !read_identity(handle, facts.id))
        return false;
    // A pipe or a console has no size to keep to, and is read to its end.
    return GetFileType(handle) != FILE_TYPE_DISK || facts_of_handle(handle, facts);
}

bool list_folder(const std::string& folder, std::vector<FolderEntry>& entries) {
    WIN32_FIND_DATAW found{};
    const HANDLE listing =
        FindFirstFileExW(system_path((folder + "/*").c_str()).c_str(), FindExInfoBasic, &found,
                         FindExSearchNameMatch, nullptr, 0);
    if (listing == INVALID_HANDLE_VALUE) {
        errno = GetLastError() == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
        return false;
    }
    entries.clear();
    do {
        const std::string name = to_utf8(found.cFileName);
        if (name == "." || name == "..")
            continue;
        const DWORD attributes = found.dwFileAttributes;
        FolderEntry entry{name, FolderEntry::Kind::file};
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            entry.kind = FolderEntry::Kind::link;
        else if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            entry.kind = FolderEntry::Kind::folder;
        else if (attributes & FILE_ATTRIBUTE_DEVICE)
            entry.kind = FolderEntry::Kind::other;
        entries.push_back(std::move(entry));
    } while (FindNextFileW(listing, &found));
    const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(listing);
    if (!complete)
        errno = EIO;
    return complete;
}

namespace {

// The path opened for looking only (a folder too), links followed.
HANDLE open_to_look(const std::string& path) {
    return CreateFileW(system_path(path.c_str()).c_str(), FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

} // namespace

bool facts_of_path(const std::string& path, InputFacts& facts) {
    const HANDLE handle = open_to_look(path);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = ENOENT;
        return false;
    }
    const bool seen = GetFileType(handle) == FILE_TYPE_DISK && read_identity(handle, facts.id) &&
                      facts_of_handle(handle, facts);
    CloseHandle(handle);
    if (!seen)
        errno = EACCES;
    return seen;
}

namespace {

// errno for the last error of a file call, as the C library would set it.
int errno_of_last_error() {
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    default:
        return EACCES;
    }
}

} // namespace

bool remove_path(const std::string& path) {
    if (DeleteFileW(system_path(path.c_str()).c_str()))
        return true;
    errno = errno_of_last_error();
    return false;
}

bool remove_if_abandoned(const std::string& path) {
    // A run writing it holds it open for writing: opened alone, it is abandoned, and goes when
    // closed.
    const HANDLE handle = CreateFileW(system_path(path.c_str()).c_str(), GENERIC_READ | DELETE, 0,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(handle);
    return true;
}

bool make_folders(const std::string& folder) {
    for (std::size_t at = 1; at <= folder.size(); ++at) {
        if (at < folder.size() && folder[at] != '/' && folder[at] != '\\')
            continue;
        const std::string part = folder.substr(0, at);
        if (part.size() == 2 && part[1] == ':')
            continue;
        if (!CreateDirectoryW(system_path(part.c_str()).c_str(), nullptr) &&
            GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_ACCESS_DENIED) {
            errno = EACCES;
            return false;
        }
    }
    return true;
}

bool resolve_path(const std::string& path, std::string& resolved) {
    const HANDLE handle = open_to_look(path);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = ENOENT;
        return false;
    }
    std::vector<wchar_t> full(32768);
    const DWORD length =
        GetFinalPathNameByHandleW(handle, full.data(), static_cast<DWORD>(full.size()), 0);
    CloseHandle(handle);
    if (length == 0 || length >= full.size()) {
        errno = EACCES;
        return false;
    }
    std::wstring text(full.data(), length);
    // "\\?\C:\..." as "C:/...": the form the rest of the code compares.
    if (starts_with(text, L"\\\\?\\UNC\\"))
        text = L"\\\\" + text.substr(8);
    else if (starts_with(text, L"\\\\?\\"))
        text = text.substr(4);
    for (wchar_t& c : text)
        if (c == L'\\')
            c = L'/';
    resolved = to_utf8(text.c_str());
    return true;
}

bool input_unchanged(std::FILE* file, const InputFacts& at_open, std::uint64_t bytes_read) {
    InputFacts now;
    return !at_open.is_regular || (facts_of_handle(handle_of(file), now) &&
                                   now.size == at_open.size && now.modified == at_open.modified &&
                                   now.changed == at_open.changed && bytes_read == at_open.size);
}

Target::Kind Target::classify(const char* path, const FileId& input) {
    path_ = system_path(path);
    const HANDLE existing = open_to_inspect(path_);
    if (existing == INVALID_HANDLE_VALUE)
        return nothing_there(GetLastError()) ? Kind::nothing : Kind::failed;
    const Handle held(existing);
    FileId id;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!read_identity(existing, id) || !GetFileInformationByHandle(existing, &info))
        return Kind::failed;
    if (id == input)
        return Kind::input;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return Kind::not_writable;
    // NUL, CON and the like cannot be replaced.
    if (GetFileType(existing) != FILE_TYPE_DISK)
        return Kind::device;
    // Whether this user may write it is asked of Windows, which answers for the access list
    // (and, but under Wine as root, for the read-only attribute). A program holding it without
    // write sharing answers nothing.
    if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
        return Kind::not_writable;
    const HANDLE writable = CreateFileW(path_.c_str(), GENERIC_WRITE, share_all, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (writable == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
        return Kind::not_writable;
    if (writable != INVALID_HANDLE_VALUE)
        CloseHandle(writable);
    path_ = final_path(existing);
    replaceable_ = true;
    return path_.empty() ? Kind::failed : Kind::file;
}

std::FILE* Target::open_emptied() {
    return stream(CreateFileW(path_.c_str(), GENERIC_WRITE, share_all, nullptr,
                              replaceable_ ? TRUNCATE_EXISTING : OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr),
                  "wb");
}

Target::~Target() = default;

// Published for removal on a stop only once it is this run's own, with the handler held off.
bool Temporary::create_beside(const Target& target) {
    const std::wstring folder = target.path_.substr(0, target.path_.find_last_of(L"\\/") + 1);
    const StopsHeld held;
    std::wstring path;
    const HANDLE handle = create_new(folder, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                     FILE_ATTRIBUTE_NORMAL, path);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    path_ = std::move(path);
    pending_temporary = path_;
    pending_handle = handle;
    if (!(file_ = stream(handle, "wb"))) {
        pending_handle = INVALID_HANDLE_VALUE;
        remove();
        return false;
    }
    return true;
}

// Gone once closed, whatever ends the run.
bool Temporary::create_elsewhere() {
    std::wstring folder =
        ask_path([](wchar_t* buffer, DWORD size) { return GetTempPathW(size, buffer); });
    if (folder.empty())
        return false;
    folder = system_path(to_utf8(folder.c_str()).c_str());
    if (folder.back() != L'\\')
        folder += L'\\';
    std::wstring path;
    const StopsHeld held;
    const HANDLE handle = create_new(folder, GENERIC_READ | GENERIC_WRITE, share_all,
                                     FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, path);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    pending_handle = handle;
    if (!(file_ = stream(handle, "w+b")))
        pending_handle = INVALID_HANDLE_VALUE;
    return file_ != nullptr;
}

bool Temporary::close() {
    return close_temporary(std::exchange(file_, nullptr)) == 0;
}

std::FILE* Temporary::read_back() {
    if (file_)
        std::rewind(file_);
    else
        file_ = _wfopen(path_.c_str(), L"rb");
    return file_;
}

bool Temporary::rename_over(Target& target) {
    const StopsHeld held; // once it is the header, it must not be removed
    if (!move_over(path_, target.path_))
        return false;
    pending_temporary.clear();
    path_.clear();
    return true;
}

void Temporary::remove() {
    if (file_)
        close_temporary(std::exchange(file_, nullptr));
    if (path_.empty())
        return;
    const StopsHeld held;
    DeleteFileW(path_.c_str());
    pending_temporary.clear();
    path_.clear();
}

} // namespace vormesta::platform
