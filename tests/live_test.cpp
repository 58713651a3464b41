// A live library's index compiled here as the step writes it (with this project's warnings):
// the embedded table as its fallback, and the folder scratch/live as its source.
#include "scratch.hpp"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#endif
#include <stdio.h>

#include <cstdio>

namespace live {
extern "C" {
#include "../src/index/shared.h"
const unsigned char built[] = "one";
const struct vormesta_file table[] = {{"a.txt", built, 3, "text/plain", nullptr, nullptr, 0}};
#define VORMESTA_TABLE table
#define VORMESTA_COUNT 1
#define LIBRARY_find vormesta_LIBRARY_embedded_find
#define LIBRARY_count vormesta_LIBRARY_embedded_count
#define LIBRARY_at vormesta_LIBRARY_embedded_at
#define LIBRARY_below vormesta_LIBRARY_embedded_below
const struct vormesta_file* LIBRARY_find(const char* path);
size_t LIBRARY_count(void);
const struct vormesta_file* LIBRARY_at(size_t i);
const struct vormesta_file* LIBRARY_below(const char* folder, size_t* count);
#include "../src/index/functions.c"
#undef LIBRARY_find
#undef LIBRARY_count
#undef LIBRARY_at
#undef LIBRARY_below
// Named apart from the other pieces' test, whose functions have these names too.
#define LIBRARY_find live_find
#define LIBRARY_count live_count
#define LIBRARY_at live_at
#define LIBRARY_below live_below
const struct vormesta_file* LIBRARY_find(const char* path);
size_t LIBRARY_count(void);
const struct vormesta_file* LIBRARY_at(size_t i);
const struct vormesta_file* LIBRARY_below(const char* folder, size_t* count);
// The walk's rules first, as the step writes them.
#include "../src/index/rules.c"

#include "../src/index/live.h"
const char* const none[] = {nullptr};
const char* const drafts[] = {"drafts/*", nullptr};
const struct vormesta_live_folder vormesta_LIBRARY_live_folders[] = {
    {"scratch/live", "", 1, {none, drafts, none, 0}}, {nullptr, nullptr, 0, {none, none, none, 0}}};
const struct vormesta_live_listed vormesta_LIBRARY_live_listed[] = {{nullptr, nullptr, 0}};
const struct vormesta_live_type vormesta_LIBRARY_live_types[] = {
    {"txt", "text/plain", "text/plain; charset=utf-8"}};
#define VORMESTA_LIBRARY_NAME "live"
#include "../src/index/live.c"
}
} // namespace live

namespace {

// A look goes by what it saw only once the thing has stood still a while since it changed.
TEST(Live, WhatChangedJustBeforeALookIsLookedAtAgain) {
    using live::vormesta_live_version;
    const unsigned long long second = VORMESTA_LIVE_SECOND;
    const vormesta_live_version seen{1, 5, 100 * second, 100 * second, 7, 103 * second};
    const struct {
        vormesta_live_version now;
        vormesta_live_version kept;
        bool settled;
    } rows[] = {
        {seen, seen, true},
        {{1, 5, 100 * second, 90 * second, 7, 0},
         {1, 5, 100 * second, 90 * second, 7, 101 * second},
         false}, // written just before the look
        {{1, 5, 90 * second, 102 * second, 7, 0},
         {1, 5, 90 * second, 102 * second, 7, 103 * second},
         false}, // changed (renamed, its mode) just before
        {{1, 6, 100 * second, 100 * second, 7, 0}, seen, false}, // another size
        {{1, 5, 100 * second, 100 * second, 8, 0}, seen, false}, // another file
        {{0, 0, 0, 0, 0, 0}, seen, false},                       // gone
    };
    for (const auto& row : rows)
        EXPECT_EQ(live::vormesta_live_settled(&row.now, &row.kept) != 0, row.settled);
}

bool serves(const char* path, const char* text) {
    const live::vormesta_file* file = live::live_find(path);
    return text ? file && file->size == strlen(text) && memcmp(file->data, text, file->size) == 0
                : !file;
}

// The library follows its folder as the program runs, by the walk's rules; once the folder is
// gone, the embedded files serve.
TEST(Live, FollowsTheFolderThenFallsBackToWhatItEmbedded) {
    const std::string folder = scratch::folder("live");
    scratch::put(folder + "a.txt", "two");
    const live::vormesta_file* first = live::live_find("a.txt");
    ASSERT_TRUE(first);
    EXPECT_EQ(std::string(first->type), "text/plain; charset=utf-8");
    EXPECT_EQ(std::string(first->etag).substr(0, 3), "W/\"");
    scratch::put(folder + "a.txt", "six");
    EXPECT_TRUE(serves("a.txt", "six"));
    EXPECT_EQ(memcmp(first->data, "two", 3), 0);
    scratch::put(folder + "b.txt", "bee");
    scratch::put(folder + ".c.txt", "hidden");
    scratch::put(folder + "c.txt~", "backup");
    std::filesystem::create_directories(folder + "drafts");
    scratch::put(folder + "drafts/d.txt", "draft");
    EXPECT_TRUE(serves("b.txt", "bee"));
    EXPECT_TRUE(serves(".c.txt", nullptr) && serves("c.txt~", nullptr) &&
                serves("drafts/d.txt", nullptr));
    EXPECT_EQ(live::live_count(), 2u);
    EXPECT_EQ(live::live_find("b.txt"), live::live_find("b.txt")); // walked again, found the same
    std::filesystem::remove(folder + "a.txt");
    EXPECT_TRUE(serves("a.txt", nullptr));
    std::size_t count = 0;
    const live::vormesta_file* all = live::live_below("", &count);
    EXPECT_EQ(count, 1u);
    EXPECT_TRUE(all && std::string(all->path) == "b.txt" && live::live_at(1) == nullptr);
    std::filesystem::remove_all(folder);
    EXPECT_TRUE(serves("a.txt", "one"));
    EXPECT_EQ(live::live_count(), 1u);
}

// A relative folder is found below the workspace a `bazel run` names, by its name as it is
// (on Windows, one the ANSI code page cannot hold); an absolute one, or no workspace, as named.
TEST(Live, RelativeFoldersAreBelowTheWorkspaceBazelNames) {
#ifdef _WIN32
    const std::string workspace = "C:\\\xe8\xaa\x9e";
    ASSERT_EQ(_wputenv_s(L"BUILD_WORKSPACE_DIRECTORY", L"C:\\\u8a9e"), 0);
#else
    const std::string workspace = "/w\xe8\xaa\x9e";
    ASSERT_EQ(setenv("BUILD_WORKSPACE_DIRECTORY", workspace.c_str(), 1), 0);
#endif
    for (const auto& [path, where] :
         {std::pair<std::string, std::string>{"site", workspace + "/site"},
          {"/abs/site", "/abs/site"}}) {
        char* found = live::vormesta_live_where(path.c_str());
        EXPECT_EQ(found ? std::string(found) : "(none)", where);
        free(found);
    }
#ifdef _WIN32
    _wputenv_s(L"BUILD_WORKSPACE_DIRECTORY", L"");
#else
    unsetenv("BUILD_WORKSPACE_DIRECTORY");
#endif
    char* found = live::vormesta_live_where("site");
    EXPECT_EQ(found ? std::string(found) : "(none)", "site");
    free(found);
}

} // namespace
