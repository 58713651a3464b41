#include "naming.hpp"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

struct NamingCase {
    std::string path;
    std::size_t base_length;
    std::string output_path;
    std::string array_name;
};

std::ostream& operator<<(std::ostream& out, const NamingCase& c) {
    return out << c.path;
}

class Naming : public testing::TestWithParam<NamingCase> {};

TEST_P(Naming, DerivesBaseOutputPathAndArrayName) {
    const NamingCase& c = GetParam();
    const std::size_t base = vormesta::find_base_length(c.path);
    EXPECT_EQ(base, c.base_length);
    EXPECT_EQ(vormesta::make_output_path(c.path, base), c.output_path);
    EXPECT_EQ(vormesta::make_array_name(c.path, base), c.array_name);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, Naming,
    testing::Values(
        NamingCase{"logo.png", 4, "logo.h", "logo"},
        NamingCase{"archive.tar.gz", 11, "archive.tar.h", "archive_tar"},
        NamingCase{"README", 6, "README.h", "README"},
        NamingCase{"data\\font.bin", 9, "data\\font.h", "data_font"},
        NamingCase{"../assets/icon.ico", 14, "../assets/icon.h", "___assets_icon"},
        // A dot in a folder name never starts the extension.
        NamingCase{"C:\\in.dir\\raw", 13, "C:\\in.dir\\raw.h", "C__in_dir_raw"},
        NamingCase{"a.b/c", 5, "a.b/c.h", "a_b_c"},
        // A dot at the start of the path does not count; one opening a later component does.
        NamingCase{".profile", 8, ".profile.h", "_profile"},
        NamingCase{"cfg/.rc", 4, "cfg/.h", "cfg_"}, NamingCase{"name.", 4, "name.h", "name"},
        NamingCase{".", 1, "..h", "_"}, NamingCase{"my-file 2.dat", 9, "my-file 2.h", "my_file_2"},
        NamingCase{"x.h", 1, "x.h", "x"},
        // Bytes beyond ASCII are never letters, whatever the locale.
        NamingCase{"caf\xC3\xA9.txt", 5, "caf\xC3\xA9.h", "caf__"},
        // The name must compile: no leading digit, no keyword.
        NamingCase{"3d.obj", 2, "3d.h", "_3d"}, NamingCase{"8bit.wav", 4, "8bit.h", "_8bit"},
        NamingCase{"private.key", 7, "private.h", "private_"},
        NamingCase{"int", 3, "int.h", "int_"}, NamingCase{"xor.bin", 3, "xor.h", "xor_"},
        NamingCase{"char8_t.dat", 7, "char8_t.h", "char8_t_"},
        NamingCase{"typeof.c", 6, "typeof.h", "typeof_"},
        NamingCase{".Bool", 5, ".Bool.h", "_Bool_"},
        NamingCase{"__VA_ARGS__.txt", 11, "__VA_ARGS__.h", "__VA_ARGS___"},
        // Names the C library, POSIX or the compilers already use, as keywords are; a name
        // that is reserved with '_' behind too gets more.
        NamingCase{"index.html", 5, "index.h", "index_"}, NamingCase{"log.txt", 3, "log.h", "log_"},
        NamingCase{"main.bin", 4, "main.h", "main_"}, NamingCase{"unix.bin", 4, "unix.h", "unix_"},
        NamingCase{"__LINE__.bin", 8, "__LINE__.h", "__LINE___"},
        NamingCase{"NULL.bin", 4, "NULL.h", "NULL_"},
        NamingCase{"_SIZE_T.c", 7, "_SIZE_T.h", "_SIZE_T__"},
        // <windows.h>, other C libraries (musl, BSD, macOS) and the C++ library's global names.
        NamingCase{"interface.json", 9, "interface.h", "interface_"},
        NamingCase{"near.png", 4, "near.h", "near_"},
        NamingCase{"strlcpy.txt", 7, "strlcpy.h", "strlcpy_"},
        NamingCase{"abi.bin", 3, "abi.h", "abi_"},
        NamingCase{"icons/index.html", 11, "icons/index.h", "icons_index"},
        // Only whole keywords are changed.
        NamingCase{"dir/int", 7, "dir/int.h", "dir_int"}, NamingCase{"Int.png", 3, "Int.h", "Int"},
        NamingCase{"integer.png", 7, "integer.h", "integer"}));

TEST(FindBaseLength, EmptyPathHasEmptyBase) {
    EXPECT_EQ(vormesta::find_base_length(""), 0u);
}

TEST(FindBaseLength, LongExtensionIsCutWhole) {
    const std::string path = "f." + std::string(5000, 'e');
    EXPECT_EQ(vormesta::find_base_length(path), 1u);
}

} // namespace
