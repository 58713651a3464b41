// Checks that the embedded arrays hold exactly the bytes of the files they came from.
#include <cstdio> // includes the system's <features.h>, which "features.h" must not hide

#include "8bit.h"        // array _8bit
#include "assets/logo.h" // array assets_logo
#include "features.h"    // array features
#include "gen/blob.h"    // array gen_blob, from a file the build made
#include "icons/app.h"   // array icons_app, from ../shared/icons/app.ico

#include "library/greeting.h" // declarations of the library's arrays
#include "library/table.h"

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

extern "C" int library_c_sizes(std::size_t* greeting_size, std::size_t* table_size);
const unsigned char* library_greeting_from_cpp();
std::size_t library_table_size_from_cpp();

// Every caller sees the one array, with its bound.
static bool library_agrees() {
    std::size_t greeting_size = 0;
    std::size_t table_size = 0;
    const bool agrees = library_c_sizes(&greeting_size, &table_size) &&
                        greeting_size == sizeof library_greeting &&
                        table_size == sizeof library_table &&
                        library_table_size_from_cpp() == sizeof library_table &&
                        library_greeting_from_cpp() == library_greeting;
    std::printf("library: callers %s\n", agrees ? "agree" : "DISAGREE");
    return agrees;
}

int main() {
    const std::string source = EXAMPLE_SOURCE_DIR;
    const std::string binary = EXAMPLE_BINARY_DIR;
    bool all = same_as_file(assets_logo, sizeof assets_logo, source + "/assets/logo.bin");
    all &= same_as_file(_8bit, sizeof _8bit, source + "/8bit.wav");
    all &= same_as_file(features, sizeof features, source + "/features.json");
    all &= same_as_file(gen_blob, sizeof gen_blob, binary + "/gen/blob.bin");
    all &= same_as_file(icons_app, sizeof icons_app, source + "/../shared/icons/app.ico");
    all &=
        same_as_file(library_greeting, sizeof library_greeting, source + "/library/greeting.txt");
    all &= same_as_file(library_table, sizeof library_table, source + "/library/table.bin");
    all &= library_agrees();
    return all ? 0 : 1;
}
