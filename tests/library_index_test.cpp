#include "library_index.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using vormesta::IndexEntry;

TEST(LibraryIndex, PatternsPickWhatAFolderWalkShouldTake) {
    const struct {
        const char* pattern;
        const char* relative;
        bool matches;
    } rows[] = {
        {"*.html", "index.html", true},
        {"*.html", "deep/er/page.html", true}, // a bare pattern: the name, in any folder
        {"*.html", "index.htm", false},
        {"*.html", "index.html.bak", false},
        {"drafts/*", "drafts/wip.html", true},
        {"drafts/*", "drafts/old/wip.html", true}, // any depth below the folder
        {"drafts/*", "site/drafts/wip.html", false},
        {"drafts/*", "drafts", false},
        {"*/x.txt", "a/x.txt", true},
        {"?.txt", "a.txt", true},
        {"?.txt", "ab.txt", false},
        {"[ab].txt", "b.txt", true},
        {"[!ab].txt", "b.txt", false},
        {"[a-c].txt", "c.txt", true},
        {"\\[slug\\].html", "[slug].html", true},
        {"[slug].html", "s.html", true},
        {"*", "a;b.html", true},
        {"*", "new\nline", true},
        {"a*b", "a/b", false}, // '*' does not cross a folder
    };
    for (const auto& row : rows)
        EXPECT_EQ(vormesta::pattern_matches(row.pattern, row.relative), row.matches)
            << row.pattern << " ~ " << row.relative;
}

TEST(LibraryIndex, EditorDroppingsAreLeftOutAndHiddenNamesUnlessAsked) {
    const struct {
        const char* name;
        bool hidden;
        bool left_out;
    } rows[] = {
        {"index.html", false, false},   {".#index.html", true, true},
        {"#index.html#", true, true},   {"index.html~", true, true},
        {".gitkeep", false, true},      {".gitkeep", true, false},
        {"_app.js", false, false},      {"#", false, false},
        {"a#", false, false},           {".index.html.swp", true, true},
        {".a.swa", true, true},         {"index.swp", false, false},
        {"4913", false, true},          {"4913.txt", false, false},
        {"a___jb_tmp___", false, true}, {"a___jb_old___", false, true},
        {"a.kate-swp", false, true},    {".~lock.a.odt#", true, true},
        {".DS_Store", true, true},      {"THUMBS.DB", false, true},
        {"Desktop.ini", false, true},
    };
    for (const auto& row : rows)
        EXPECT_EQ(vormesta::left_out(row.name, row.hidden), row.left_out)
            << row.name << (row.hidden ? " (hidden asked)" : "");
}

IndexEntry entry(const char* relative, const char* array = "") {
    IndexEntry made;
    made.relative = relative;
    made.from = std::string("dir/") + relative;
    made.array = array;
    return made;
}

TEST(LibraryIndex, RefusesWhatWouldClashNamingBothFiles) {
    const struct {
        const char* what;
        std::vector<IndexEntry> entries;
        const char* refused; // empty: taken
    } rows[] = {
        {"one stem, two extensions", {entry("index.html"), entry("index.js")}, ""},
        {"the index's words as files", {entry("count.txt"), entry("find.txt"), entry("files.json")}, ""},
        {"one path twice", {entry("a.txt"), entry("b.txt"), entry("a.txt")}, "a.txt is in library"},
        {"two declared arrays alike", {entry("a-b.bin", "a_b"), entry("a_b.bin", "a_b")},
         "dir/a-b.bin and dir/a_b.bin both give the array a_b"},
        {"a declared array the index takes", {entry("assets/count.txt", "assets_count")},
         "is a function of library assets"},
        {"undeclared arrays may be alike", {entry("a-b.bin"), entry("a_b.bin")}, ""},
    };
    for (auto row : rows) {
        std::string refused;
        const bool taken = vormesta::sort_entries("assets", row.entries, refused);
        EXPECT_EQ(taken, *row.refused == '\0') << row.what << ": " << refused;
        EXPECT_NE(refused.find(row.refused), std::string::npos) << row.what << ": " << refused;
        for (std::size_t i = 1; taken && i < row.entries.size(); ++i)
            EXPECT_LT(row.entries[i - 1].relative, row.entries[i].relative) << row.what;
    }
}

TEST(LibraryIndex, SymbolsAreTheLibrarysAndThePathsNeverTheNameAlone) {
    const std::string a = vormesta::library_file_symbol("site", "index.html");
    EXPECT_EQ(a.rfind("vormesta_site_f", 0), 0u) << a;
    EXPECT_NE(a, vormesta::library_file_symbol("admin", "index.html"));
    EXPECT_NE(a, vormesta::library_file_symbol("site", "index.js"));
    EXPECT_NE(a, vormesta::library_file_symbol("site", "index_html"));
}

TEST(LibraryIndex, PathsAndCommentsStayWhatTheyAre) {
    EXPECT_EQ(vormesta::c_string("a\"b\\c?\?=\n\xc3\xbc"),
              "\"a\\042b\\134c\\077\\077=\\012\\303\\274\"");
    EXPECT_EQ(vormesta::as_comment("a*/b?\?/\nc"), "a*_/b?_?/ c");
}

TEST(LibraryIndex, TheTableReachesEachFileThroughItsSymbolAndOffset) {
    std::vector<IndexEntry> entries{entry("b.txt"), entry("a.txt")};
    entries[0].symbol = entries[1].symbol = "vormesta_site_data";
    entries[0].offset = 32;
    entries[0].size = 7;
    const std::string start = vormesta::index_source("site", vormesta::entry_list(entries));
    const std::string declared = "const unsigned char vormesta_site_data[];";
    EXPECT_EQ(start.find(declared), start.rfind(declared))
        << "one declaration per symbol:\n" << start;
    const std::string& table = start;
    EXPECT_NE(
        table.find(
            "{\"b.txt\", vormesta_site_data + 32, 7, \"application/octet-stream\", VORMESTA_NULL, "
            "VORMESTA_NULL, 0}"),
        std::string::npos)
        << table;
    EXPECT_NE(table.find("site_below(const char* folder, size_t* count)"), std::string::npos);
    EXPECT_NE(vormesta::index_source_table("site", {})
                  .find("{VORMESTA_NULL, VORMESTA_NULL, 0, VORMESTA_NULL, VORMESTA_NULL, "
                        "VORMESTA_NULL, 0}"),
              std::string::npos);
    // A file's forms, each reached like the bytes and with its own validator.
    entries[1].type = "text/plain";
    entries[1].etag = "\"t\"";
    entries[1].forms = {{"br", "vormesta_site_data", 64, 3, "\"b\""},
                        {"gzip", "vormesta_site_data", 67, 5, "\"g\""}};
    const std::string forms = vormesta::index_source_table("site", vormesta::entry_list(entries));
    EXPECT_NE(forms.find("vormesta_site_forms_1[] = {\n    {\"br\", vormesta_site_data + 64, 3, "
                         "\"\\042b\\042\"},\n    {\"gzip\""),
              std::string::npos)
        << forms;
    EXPECT_NE(forms.find("\"text/plain\", \"\\042t\\042\", vormesta_site_forms_1, 2}"),
              std::string::npos)
        << forms;
    // The C++ view only where the language has std::string_view.
    const std::string header = vormesta::index_header("site");
    EXPECT_LT(header.find("__cplusplus >= 201703L"), header.find("vormesta/files.hpp"));
    EXPECT_NE(header.find("#define VORMESTA_LAYOUT " + std::to_string(vormesta::index_layout)),
              std::string::npos);
}

} // namespace

// The pieces the step writes into every index, compiled here as sources of their own (with this
// project's warnings), over a table of three files.
namespace pieces {
extern "C" {
#include <stdlib.h>
#include <string.h>

#include "../src/index/shared.h"
const struct vormesta_file* LIBRARY_find(const char* path);
size_t LIBRARY_count(void);
const struct vormesta_file* LIBRARY_at(size_t i);
const struct vormesta_file* LIBRARY_below(const char* folder, size_t* count);
const unsigned char bytes[] = "abc";
const struct vormesta_file table[] = {
    {"css.txt", bytes, 1, "text/plain", nullptr, nullptr, 0},
    {"css/a.css", bytes, 1, "text/css", nullptr, nullptr, 0},
    {"css/deep/b.css", bytes, 1, "text/css", nullptr, nullptr, 0}};
#define VORMESTA_TABLE table
#define VORMESTA_COUNT 3
#include "../src/index/functions.c"
}
#include "../src/index/files.hpp"
} // namespace pieces

TEST(LibraryIndex, PiecesFindByPathAndBelowAFolder) {
    using namespace pieces;
    const pieces::vormesta::files files{&LIBRARY_count, &LIBRARY_at};
    std::size_t count = 9;
    EXPECT_EQ(LIBRARY_find("css/deep/b.css"), &table[2]);
    EXPECT_EQ(files.find("css.txt"), &table[0]);
    EXPECT_EQ(LIBRARY_find("css"), nullptr);
    EXPECT_EQ(LIBRARY_at(3), nullptr);
    EXPECT_EQ(LIBRARY_below("css/", &count), &table[1]);
    EXPECT_EQ(count, 2u); // not css.txt
    EXPECT_EQ(files.below("css").size(), 2u);
    EXPECT_EQ(LIBRARY_below("css/deep/b.css", &count), nullptr);
    EXPECT_EQ(count, 0u);
}
