// Every array holds the bytes of its file, and its bound is the file's size.
#include "large.h" // large
#include "small.h" // small
#include "日本.h"  // ______

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

static bool same_as_file(const unsigned char* array, std::size_t size, const char* name) {
    // Named in UTF-8, whatever the system's code page.
    std::ifstream file(std::filesystem::u8path(std::string(DATA_DIR) + "/" + name),
                       std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), {}};
    const bool same = bytes == std::string(array, array + size);
    std::printf("%s: %s (%zu bytes embedded)\n", name, same ? "same" : "DIFFERENT", size);
    return same;
}

int main() {
    bool all = same_as_file(large, sizeof large, "large.bin");
    all &= same_as_file(small, sizeof small, "small.txt");
    all &= same_as_file(______, sizeof ______, "日本.txt");
    return all ? 0 : 1;
}
