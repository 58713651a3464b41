// Checks that the embedded arrays hold exactly the bytes of the files they came from.
#include "8bit.h"        // array _8bit
#include "assets/logo.h" // array assets_logo

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

bool same_as_file(const unsigned char* array, std::size_t size, const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), {}};
    const bool same = file.good() || file.eof() ? bytes == std::string(array, array + size) : false;
    std::printf("%s: %s (%zu bytes embedded)\n", path.c_str(), same ? "same" : "DIFFERENT", size);
    return same;
}

} // namespace

int main() {
    const std::string dir = EXAMPLE_SOURCE_DIR;
    const bool logo = same_as_file(assets_logo, sizeof assets_logo, dir + "/assets/logo.bin");
    const bool wav = same_as_file(_8bit, sizeof _8bit, dir + "/8bit.wav");
    return logo && wav ? 0 : 1;
}
