// Checks that the embedded arrays hold exactly the bytes of the files they came from.
#include <cstdio> // includes the system's <features.h>, which "features.h" must not hide

#include "8bit.h"        // array _8bit
#include "assets/logo.h" // array assets_logo
#include "features.h"    // array features
#include "gen/blob.h"    // array gen_blob, from a file the build made
#include "icons/app.h"   // array icons_app, from ../shared/icons/app.ico

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
    const std::string source = EXAMPLE_SOURCE_DIR;
    const std::string binary = EXAMPLE_BINARY_DIR;
    bool all = same_as_file(assets_logo, sizeof assets_logo, source + "/assets/logo.bin");
    all &= same_as_file(_8bit, sizeof _8bit, source + "/8bit.wav");
    all &= same_as_file(features, sizeof features, source + "/features.json");
    all &= same_as_file(gen_blob, sizeof gen_blob, binary + "/gen/blob.bin");
    all &= same_as_file(icons_app, sizeof icons_app, source + "/../shared/icons/app.ico");
    return all ? 0 : 1;
}
