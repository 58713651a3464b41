#include "platform.hpp"

#include "scratch.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

namespace {

using namespace vormesta::platform;

TEST(Platform, TemporaryNamesAreTheToolsAlone) {
    const struct {
        const char* name;
        bool temporary;
    } rows[] = {{".vormesta-0123456789abcdef.tmp", true},
                {".vormesta-0123456789abcde.tmp", false},
                {"vormesta-0123456789abcdefg.tmp", false},
                {".vormesta-0123456789abcdef.txt", false},
                {"site.css", false}};
    for (const auto& row : rows)
        EXPECT_EQ(is_temporary_name(row.name), row.temporary) << row.name;
}

// A walk's view of a folder, and the calls a step makes on what it finds.
TEST(Platform, FoldersFilesAndWhatIsNotThere) {
    const std::string folder = scratch::folder("platform");
    ASSERT_TRUE(make_folders(folder + "a/b/c"));
    ASSERT_TRUE(make_folders(folder + "a/b/c")); // there already
    scratch::put(folder + "a/file.txt", "12345");
    std::vector<FolderEntry> entries;
    ASSERT_TRUE(list_folder(folder + "a", entries));
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& x, const FolderEntry& y) { return x.name < y.name; });
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "b");
    EXPECT_EQ(entries[0].kind, FolderEntry::Kind::folder);
    EXPECT_EQ(entries[1].name, "file.txt");
    EXPECT_EQ(entries[1].kind, FolderEntry::Kind::file);

    InputFacts facts;
    ASSERT_TRUE(facts_of_path(folder + "a/file.txt", facts));
    EXPECT_TRUE(facts.is_regular);
    EXPECT_EQ(facts.size, 5u);
    ASSERT_TRUE(facts_of_path(folder + "a/b", facts));
    EXPECT_TRUE(facts.is_directory);
    errno = 0;
    EXPECT_FALSE(facts_of_path(folder + "a/none", facts));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(list_folder(folder + "a/none", entries));

    const std::string left = folder + "a/.vormesta-0123456789abcdef.tmp";
    scratch::put(left, "a killed run's");
    EXPECT_TRUE(remove_if_abandoned(left));
    EXPECT_FALSE(facts_of_path(left, facts));
    EXPECT_TRUE(remove_path(folder + "a/file.txt"));
    EXPECT_FALSE(remove_path(folder + "a/file.txt"));
}

} // namespace
