// Linked into a test build of the tool only: makes one chosen call fail, so that every I/O step
// of a run can be shown to fail cleanly. VORMESTA_FAULT=fread:2 fails the second fread, and
// likewise fopen, open, fwrite, fflush, fclose, fstat, lstat, rename, and new (an allocation);
// VORMESTA_FAULT=rename:1:EXDEV fails it with that error instead of the call's usual one, and
// open:2:KILL lets the second open happen and then kills the process outright.
// The C library calls are reached through the linker's --wrap, under the names that 64-bit file
// offsets give them (fopen64, open64, fstat64, lstat64); `new` is replaced outright.
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

constexpr int kill_after = -1;

// Counts calls of `name`; for the call the environment names, the error it fails with (the
// call's own `usual` one unless the environment names another), else 0.
int fault_for(const char* name, int usual) {
    static const char* const fault = std::getenv("VORMESTA_FAULT");
    static unsigned long calls = 0;
    if (!fault)
        return 0;
    const char* colon = std::strchr(fault, ':');
    const std::size_t length = colon ? static_cast<std::size_t>(colon - fault) : 0;
    if (!colon || std::strlen(name) != length || std::strncmp(fault, name, length) != 0)
        return 0;
    char* rest = nullptr;
    if (++calls != std::strtoul(colon + 1, &rest, 10))
        return 0;
    static const struct {
        const char* name;
        int value;
    } errors[] = {{":EACCES", EACCES},
                  {":EPERM", EPERM},
                  {":EXDEV", EXDEV},
                  {":EBUSY", EBUSY},
                  {":KILL", kill_after}};
    for (const auto& error : errors)
        if (std::strcmp(rest, error.name) == 0)
            return error.value;
    return usual;
}

// Sets errno and says so when this call is to fail.
bool should_fail(const char* name, int error) {
    const int chosen = fault_for(name, error);
    if (chosen)
        errno = chosen;
    return chosen != 0;
}

} // namespace

extern "C" {

std::FILE* __real_fopen64(const char* path, const char* mode);
std::size_t __real_fread(void* buffer, std::size_t size, std::size_t count, std::FILE* file);
std::size_t __real_fwrite(const void* buffer, std::size_t size, std::size_t count, std::FILE* file);
int __real_fflush(std::FILE* file);
int __real_fclose(std::FILE* file);
int __real_fstat64(int descriptor, struct stat* info);
int __real_open64(const char* path, int flags, ...);
int __real_lstat64(const char* path, struct stat* info);
int __real_rename(const char* from, const char* to);

std::FILE* __wrap_fopen64(const char* path, const char* mode) {
    if (should_fail("fopen", EACCES)) {
        return nullptr;
    }
    return __real_fopen64(path, mode);
}

std::size_t __wrap_fread(void* buffer, std::size_t size, std::size_t count, std::FILE* file) {
    if (should_fail("fread", EIO)) {
        return 0;
    }
    return __real_fread(buffer, size, count, file);
}

std::size_t __wrap_fwrite(const void* buffer, std::size_t size, std::size_t count,
                          std::FILE* file) {
    if (should_fail("fwrite", ENOSPC)) {
        return 0;
    }
    return __real_fwrite(buffer, size, count, file);
}

int __wrap_fflush(std::FILE* file) {
    if (should_fail("fflush", ENOSPC)) {
        return EOF;
    }
    return __real_fflush(file);
}

// A failed close still releases the stream, as the real one does.
int __wrap_fclose(std::FILE* file) {
    const int result = __real_fclose(file);
    if (should_fail("fclose", EIO)) {
        return EOF;
    }
    return result;
}

int __wrap_fstat64(int descriptor, struct stat* info) {
    if (should_fail("fstat", EIO)) {
        return -1;
    }
    return __real_fstat64(descriptor, info);
}

int __wrap_open64(const char* path, int flags, ...) {
    const int fault = fault_for("open", EIO);
    if (fault > 0) {
        errno = fault;
        return -1;
    }
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = (flags & O_CREAT) ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    const int descriptor = __real_open64(path, flags, mode);
    if (fault == kill_after)
        raise(SIGKILL);
    return descriptor;
}

int __wrap_lstat64(const char* path, struct stat* info) {
    if (should_fail("lstat", EIO))
        return -1;
    return __real_lstat64(path, info);
}

int __wrap_rename(const char* from, const char* to) {
    if (should_fail("rename", EACCES)) {
        return -1;
    }
    return __real_rename(from, to);
}

} // extern "C"

void* operator new(std::size_t size) {
    if (fault_for("new", ENOMEM))
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
