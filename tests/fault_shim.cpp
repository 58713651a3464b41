// Linked into a test build of the tool only: makes one chosen call fail, so that every I/O step
// of a run can be shown to fail cleanly. VORMESTA_FAULT=fread:2 fails the second fread, and
// likewise fopen, fwrite, fflush, fclose, fstat, stat, rename, and new (an allocation).
// The C library calls are reached through the linker's --wrap, under the names that 64-bit file
// offsets give them (fopen64, fstat64, stat64); `new` is replaced outright.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <sys/stat.h>

namespace {

// Counts calls of `name`; true for the call the environment names.
bool should_fail(const char* name) {
    static const char* const fault = std::getenv("VORMESTA_FAULT");
    static unsigned long calls = 0;
    if (!fault)
        return false;
    const char* colon = std::strchr(fault, ':');
    const std::size_t length = colon ? static_cast<std::size_t>(colon - fault) : 0;
    if (!colon || std::strlen(name) != length || std::strncmp(fault, name, length) != 0)
        return false;
    return ++calls == std::strtoul(colon + 1, nullptr, 10);
}

} // namespace

extern "C" {

std::FILE* __real_fopen64(const char* path, const char* mode);
std::size_t __real_fread(void* buffer, std::size_t size, std::size_t count, std::FILE* file);
std::size_t __real_fwrite(const void* buffer, std::size_t size, std::size_t count, std::FILE* file);
int __real_fflush(std::FILE* file);
int __real_fclose(std::FILE* file);
int __real_fstat64(int descriptor, struct stat* info);
int __real_stat64(const char* path, struct stat* info);
int __real_rename(const char* from, const char* to);

std::FILE* __wrap_fopen64(const char* path, const char* mode) {
    if (should_fail("fopen")) {
        errno = EACCES;
        return nullptr;
    }
    return __real_fopen64(path, mode);
}

std::size_t __wrap_fread(void* buffer, std::size_t size, std::size_t count, std::FILE* file) {
    if (should_fail("fread")) {
        errno = EIO;
        return 0;
    }
    return __real_fread(buffer, size, count, file);
}

std::size_t __wrap_fwrite(const void* buffer, std::size_t size, std::size_t count,
                          std::FILE* file) {
    if (should_fail("fwrite")) {
        errno = ENOSPC;
        return 0;
    }
    return __real_fwrite(buffer, size, count, file);
}

int __wrap_fflush(std::FILE* file) {
    if (should_fail("fflush")) {
        errno = ENOSPC;
        return EOF;
    }
    return __real_fflush(file);
}

// A failed close still releases the stream, as the real one does.
int __wrap_fclose(std::FILE* file) {
    const int result = __real_fclose(file);
    if (should_fail("fclose")) {
        errno = EIO;
        return EOF;
    }
    return result;
}

int __wrap_fstat64(int descriptor, struct stat* info) {
    if (should_fail("fstat")) {
        errno = EIO;
        return -1;
    }
    return __real_fstat64(descriptor, info);
}

int __wrap_stat64(const char* path, struct stat* info) {
    if (should_fail("stat")) {
        errno = EIO;
        return -1;
    }
    return __real_stat64(path, info);
}

int __wrap_rename(const char* from, const char* to) {
    if (should_fail("rename")) {
        errno = EACCES;
        return -1;
    }
    return __real_rename(from, to);
}

} // extern "C"

void* operator new(std::size_t size) {
    if (should_fail("new"))
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
