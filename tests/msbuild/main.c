/* The program of the package's rows. It has no C runtime (there is no Visual C++ here), so it
   has an entry point of its own and writes with kernel32. It prints what it holds, one line a
   file: the embedded header's array, the declared array, and every file its two libraries'
   indexes list, each with its size and a hash of its bytes; msbuild_test.py compares them with
   the files. A mismatch between an index and the arrays it should point at is its status. */
#include "assets/logo.h"
#include "data/table.h"
#include "vormesta/App.h"
#include "vormesta/www.h"

__declspec(dllimport) void* __stdcall GetStdHandle(unsigned long handle);
__declspec(dllimport) int __stdcall WriteFile(void* file, const void* data, unsigned long size,
                                              unsigned long* written, void* overlapped);

static void say(const char* text, size_t size) {
    unsigned long written = 0;
    WriteFile(GetStdHandle((unsigned long)-11), text, (unsigned long)size, &written, 0);
}

static void say_number(unsigned long number, unsigned base) {
    char digits[16];
    size_t at = sizeof digits;
    do {
        digits[--at] = "0123456789abcdef"[number % base];
        number /= base;
    } while (number);
    say(digits + at, sizeof digits - at);
}

/* FNV-1a, 32 bits. */
static unsigned long hash(const unsigned char* data, size_t size) {
    unsigned long value = 2166136261u;
    size_t i;
    for (i = 0; i < size; ++i)
        value = ((value ^ data[i]) * 16777619u) & 0xffffffffu;
    return value;
}

static void say_file(const char* path, const unsigned char* data, size_t size) {
    size_t length = 0;
    while (path[length])
        ++length;
    say(path, length);
    say("\t", 1);
    say_number((unsigned long)size, 10);
    say("\t", 1);
    say_number(hash(data, size), 16);
    say("\n", 1);
}

int start(void) {
    const struct vormesta_file* table = App_find("data/table.bin");
    size_t i, count;
    say_file("header assets_logo", assets_logo, sizeof assets_logo);
    say_file("declared data_table", data_table, sizeof data_table);
    if (!table || table->data != data_table || App_find("data/none") || App_at(App_count()))
        return 2;
    for (i = 0; i < App_count(); ++i)
        say_file(App_at(i)->path, App_at(i)->data, App_at(i)->size);
    for (i = 0; i < www_count(); ++i) {
        const struct vormesta_file* file = www_at(i);
        if (www_find(file->path) != file || file->data[file->size] != 0)
            return 3;
        say("www/", 4);
        say_file(file->path, file->data, file->size);
        if (file->encoding_count) {
            if (!file->etag || file->encodings[0].etag == file->etag)
                return 5;
            say("form www/", 9);
            say_file(file->path, file->encodings[0].data, file->encodings[0].size);
        }
    }
    if (www_below("", &count) != www_at(0) || count != www_count())
        return 4;
    return 0;
}
