// Linked into a test build of the tool only: makes chosen calls fail, so that every I/O step of
// a run can be shown to fail cleanly. VORMESTA_FAULT=fread:2 fails the second fread;
// "open:2-3:EACCES" fails the second and third open with that error instead of the call's
// usual one; several faults go with commas ("open:2:EACCES,fread:2"). open:2:KILL lets the
// call happen and then kills the process; fread:2:PAUSE makes the file "vormesta-paused" in the
// current folder before the call and waits until someone removes it; fread:2:EOF makes the
// stream reach its end there, as a file shorter than its size would.
//
// The calls, by the names the faults give them: fopen, fread, fwrite, fflush, fclose, fstat,
// fstatat (POSIX), open (open and openat; CreateFileW on Windows), rename (renameat;
// MoveFileExW), and new (an allocation). They are reached through the linker's --wrap: the C
// library's under the names 64-bit file offsets give them, Windows' through their import
// pointers (__imp_CreateFileW). `new` is replaced outright.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

// Waits at a PAUSE fault until the test has done what it wanted to meanwhile.
void pause_here();

namespace {

constexpr int kill_after = -1;
constexpr int end_of_file = -2;

struct Fault {
    char call[16] = "";
    unsigned long first = 0, last = 0, calls = 0;
    int error = 0; // 0: the call's usual one
    bool pause = false;
};

Fault faults[8];

void read_faults() {
    static bool read = false;
    const char* listed = std::getenv("VORMESTA_FAULT");
    if (read || !listed)
        return;
    read = true;
    static const struct {
        const char* name;
        int value;
    } errors[] = {{"EACCES", EACCES}, {"EPERM", EPERM},   {"EXDEV", EXDEV},
                  {"EBUSY", EBUSY},   {"EEXIST", EEXIST}, {"KILL", kill_after},
                  {"EOF", end_of_file}};
    for (Fault& fault : faults) {
        const std::size_t length = std::strcspn(listed, ":");
        std::memcpy(fault.call, listed, std::min(length, sizeof fault.call - 1));
        char* rest = nullptr;
        fault.first = fault.last = std::strtoul(listed + length + 1, &rest, 10);
        if (*rest == '-')
            fault.last = std::strtoul(rest + 1, &rest, 10);
        if (*rest == ':') {
            const std::size_t word = std::strcspn(++rest, ",");
            fault.pause = std::strncmp(rest, "PAUSE", word) == 0;
            for (const auto& error : errors)
                if (std::strlen(error.name) == word && std::strncmp(rest, error.name, word) == 0)
                    fault.error = error.value;
            rest += word;
        }
        if (*rest != ',')
            break;
        listed = rest + 1;
    }
}

// Counts calls of `name`; for a call to fail, the error it fails with (the call's own `usual`
// one unless the fault names another), else 0.
int fault_for(const char* name, int usual) {
    read_faults();
    for (Fault& fault : faults) {
        if (std::strcmp(fault.call, name) != 0)
            continue;
        ++fault.calls;
        if (fault.calls < fault.first || fault.calls > fault.last)
            continue;
        if (fault.pause) {
            pause_here();
            continue;
        }
        return fault.error ? fault.error : usual;
    }
    return 0;
}

// Sets the error and says so when this call is to fail.
bool should_fail(const char* name, int error) {
    const int chosen = fault_for(name, error);
    if (chosen > 0)
        errno = chosen;
    return chosen > 0;
}

} // namespace

// The wrappers are named for the linker's --wrap alone: no header declares them.
#pragma GCC diagnostic ignored "-Wmissing-declarations"

extern "C" {

std::size_t __real_fread(void* buffer, std::size_t size, std::size_t count, std::FILE* file);
std::size_t __real_fwrite(const void* buffer, std::size_t size, std::size_t count, std::FILE* file);
int __real_fflush(std::FILE* file);
int __real_fclose(std::FILE* file);

std::size_t __wrap_fread(void* buffer, std::size_t size, std::size_t count, std::FILE* file) {
    const int chosen = fault_for("fread", EIO);
    if (chosen == end_of_file) {
        std::fseek(file, 0, SEEK_END);
        std::fgetc(file); // the stream's end-of-file flag, set as a real end sets it
        return 0;
    }
    if (chosen > 0)
        errno = chosen;
    return chosen > 0 ? 0 : __real_fread(buffer, size, count, file);
}

std::size_t __wrap_fwrite(const void* buffer, std::size_t size, std::size_t count,
                          std::FILE* file) {
    return should_fail("fwrite", ENOSPC) ? 0 : __real_fwrite(buffer, size, count, file);
}

int __wrap_fflush(std::FILE* file) {
    return should_fail("fflush", ENOSPC) ? EOF : __real_fflush(file);
}

// A failed close still releases the stream, as the real one does.
int __wrap_fclose(std::FILE* file) {
    const int result = __real_fclose(file);
    return should_fail("fclose", EIO) ? EOF : result;
}

#ifdef _WIN32

DWORD windows_error(int error) {
    switch (error) {
    case EXDEV:
        return ERROR_NOT_SAME_DEVICE;
    case EBUSY:
        return ERROR_SHARING_VIOLATION;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case EIO:
        return ERROR_IO_DEVICE;
    }
    return ERROR_ACCESS_DENIED;
}

bool should_fail_windows(const char* name, int error) {
    const int chosen = fault_for(name, error);
    if (chosen > 0)
        SetLastError(windows_error(chosen));
    return chosen > 0;
}

extern FILE* (*__real___imp__wfopen)(const wchar_t*, const wchar_t*);
extern HANDLE(WINAPI* __real___imp_CreateFileW)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD,
                                                DWORD, HANDLE);
extern BOOL(WINAPI* __real___imp_MoveFileExW)(LPCWSTR, LPCWSTR, DWORD);
extern BOOL(WINAPI* __real___imp_GetFileInformationByHandleEx)(HANDLE, FILE_INFO_BY_HANDLE_CLASS,
                                                               LPVOID, DWORD);

FILE* wrap_wfopen(const wchar_t* path, const wchar_t* mode) {
    return should_fail("fopen", EACCES) ? nullptr : __real___imp__wfopen(path, mode);
}

HANDLE WINAPI wrap_CreateFileW(LPCWSTR path, DWORD access, DWORD share,
                               LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                               HANDLE model) {
    const int fault = fault_for("open", EIO);
    if (fault > 0) {
        SetLastError(windows_error(fault));
        return INVALID_HANDLE_VALUE;
    }
    const HANDLE handle =
        __real___imp_CreateFileW(path, access, share, security, disposition, flags, model);
    if (fault == kill_after)
        TerminateProcess(GetCurrentProcess(), 9);
    return handle;
}

BOOL WINAPI wrap_MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
    return !should_fail_windows("rename", EACCES) && __real___imp_MoveFileExW(from, to, flags);
}

BOOL WINAPI wrap_GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind,
                                              LPVOID info, DWORD size) {
    return !should_fail_windows("fstat", EIO) &&
           __real___imp_GetFileInformationByHandleEx(file, kind, info, size);
}

FILE* (*__wrap___imp__wfopen)(const wchar_t*, const wchar_t*) = wrap_wfopen;
HANDLE(WINAPI* __wrap___imp_CreateFileW)
(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) = wrap_CreateFileW;
BOOL(WINAPI* __wrap___imp_MoveFileExW)(LPCWSTR, LPCWSTR, DWORD) = wrap_MoveFileExW;
BOOL(WINAPI* __wrap___imp_GetFileInformationByHandleEx)
(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD) = wrap_GetFileInformationByHandleEx;

} // extern "C"

void pause_here() {
    CloseHandle(__real___imp_CreateFileW(L"vormesta-paused", GENERIC_WRITE, 0, nullptr,
                                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    while (GetFileAttributesW(L"vormesta-paused") != INVALID_FILE_ATTRIBUTES)
        Sleep(1);
}

#else

std::FILE* __real_fopen64(const char* path, const char* mode);
int __real_fstat64(int descriptor, struct stat* info);
int __real_fstatat64(int folder, const char* path, struct stat* info, int flags);
int __real_open64(const char* path, int flags, ...);
int __real_openat64(int folder, const char* path, int flags, ...);
int __real_renameat(int from_folder, const char* from, int to_folder, const char* to);

std::FILE* __wrap_fopen64(const char* path, const char* mode) {
    return should_fail("fopen", EACCES) ? nullptr : __real_fopen64(path, mode);
}

int __wrap_fstat64(int descriptor, struct stat* info) {
    return should_fail("fstat", EIO) ? -1 : __real_fstat64(descriptor, info);
}

int __wrap_fstatat64(int folder, const char* path, struct stat* info, int flags) {
    return should_fail("fstatat", EIO) ? -1 : __real_fstatat64(folder, path, info, flags);
}

// open and openat count as one call: which of them a step takes is the host's business.
int __wrap_openat64(int folder, const char* path, int flags, ...) {
    const int fault = fault_for("open", EIO);
    if (fault > 0) {
        errno = fault;
        return -1;
    }
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = (flags & O_CREAT) ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    const int descriptor = __real_openat64(folder, path, flags, mode);
    if (fault == kill_after)
        raise(SIGKILL);
    return descriptor;
}

int __wrap_open64(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = (flags & O_CREAT) ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    return __wrap_openat64(AT_FDCWD, path, flags, mode);
}

int __wrap_renameat(int from_folder, const char* from, int to_folder, const char* to) {
    return should_fail("rename", EACCES) ? -1 : __real_renameat(from_folder, from, to_folder, to);
}

} // extern "C"

void pause_here() {
    close(__real_open64("vormesta-paused", O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    while (access("vormesta-paused", F_OK) == 0)
        usleep(1000);
}

#endif

void* operator new(std::size_t size) {
    if (fault_for("new", ENOMEM) > 0)
        throw std::bad_alloc();
    if (void* memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

// Arrays too: some runtimes (AddressSanitizer's) do not route new[] through new.
void* operator new[](std::size_t size) {
    return operator new(size);
}

void operator delete[](void* memory) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}
