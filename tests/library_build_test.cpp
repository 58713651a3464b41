#include "library_build.hpp"

#include "scratch.hpp"

#include <gtest/gtest.h>

namespace {

// Whatever became of the outputs and the record since the last build, the next one leaves what
// a build from nothing would.
TEST(LibraryBuild, OutputsComeBackAsTheRecordSays) {
    const std::string folder = scratch::folder("library_build");
    scratch::put(folder + "site/index.html", "<!doctype html>");
    std::filesystem::create_directories(folder + "site/css");
    scratch::put(folder + "site/css/site.css", "p {}");
    const std::string out = folder + "out/";
    const std::vector<std::string> settings{
        "name\tsite", "source\t" + out + "site.c", "header\t" + out + "vormesta/site.h",
        "record\t" + out + "record", "folder\t" + folder + "site\t\tetag"};
    const std::vector<std::string> outputs{out + "site.c", out + "vormesta/site.h",
                                           out + "vormesta/files.hpp"};
    ASSERT_EQ(vormesta::library_command("-", settings), 0);
    std::vector<std::string> built;
    for (const std::string& path : outputs)
        built.push_back(scratch::bytes(path));
    const struct {
        const char* row;
        std::string path;
        const char* bytes; // null: removed
    } rows[] = {{"nothing changed", out + "site.c", built[0].c_str()},
                {"source edited", out + "site.c", "int edited;"},
                {"header removed", out + "vormesta/site.h", nullptr},
                {"header edited", out + "vormesta/site.h", "#error edited"},
                {"view removed", out + "vormesta/files.hpp", nullptr},
                {"record garbage", out + "record", "garbage"},
                {"record removed", out + "record", nullptr}};
    for (const auto& row : rows) {
        if (row.bytes)
            scratch::put(row.path, row.bytes);
        else
            std::filesystem::remove(row.path);
        ASSERT_EQ(vormesta::library_command("-", settings), 0) << row.row;
        for (std::size_t i = 0; i < outputs.size(); ++i)
            EXPECT_EQ(scratch::bytes(outputs[i]), built[i]) << row.row << ": " << outputs[i];
    }
}

} // namespace
