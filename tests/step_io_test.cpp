#include "step_io.hpp"

#include "scratch.hpp"

#include <gtest/gtest.h>

namespace {

using namespace vormesta;

TEST(StepIo, SplitKeepsEveryField) {
    const struct {
        std::string text;
        std::vector<std::string> fields;
    } rows[] = {{"", {""}},
                {"a\tb", {"a", "b"}},
                {"a\t", {"a", ""}},
                {"\t\tc", {"", "", "c"}},
                {std::string("x\0y", 3), {std::string("x\0y", 3)}}};
    for (const auto& row : rows)
        EXPECT_EQ(step::split(row.text, '\t'), row.fields) << row.text;
    EXPECT_EQ(step::folder_of("a/b\\c.txt"), "a/b\\");
    EXPECT_EQ(step::folder_of("c.txt"), "");
}

TEST(StepIo, AlignmentIsAPowerOfTwoInDigits) {
    const struct {
        const char* word;
        bool taken;
        std::uint32_t align;
    } rows[] = {{"1", true, 1},
                {"16", true, 16},
                {"4096", true, 4096},
                {"8192", false, 0},
                {"0", false, 0},
                {"24", false, 0},
                {"16k", false, 0},
                {"", false, 0},
                {"-16", false, 0},
                {"0x10", false, 0},
                {"99999999999999999999", false, 0}};
    for (const auto& row : rows) {
        std::uint32_t align = 0;
        EXPECT_EQ(step::parse_alignment(row.word, align), row.taken) << row.word;
        if (row.taken) {
            EXPECT_EQ(align, row.align) << row.word;
        }
    }
}

// Two looks see one version only where every fact agrees.
TEST(StepIo, SameVersionNeedsEveryFact) {
    platform::InputFacts a;
    a.size = 5, a.modified = 7, a.changed = 9, a.id = {1, 2, 3};
    void (*changes[])(platform::InputFacts&) = {
        [](platform::InputFacts& f) { ++f.size; }, [](platform::InputFacts& f) { ++f.modified; },
        [](platform::InputFacts& f) { ++f.changed; }, [](platform::InputFacts& f) { ++f.id.low; },
        [](platform::InputFacts& f) { ++f.id.volume; }};
    EXPECT_TRUE(step::same_version(a, a));
    for (auto change : changes) {
        platform::InputFacts b = a;
        change(b);
        EXPECT_FALSE(step::same_version(a, b));
    }
}

// The same text leaves the file as it is (a build sees nothing new); other text replaces it.
TEST(StepIo, WriteTextReplacesOnlyWhatDiffers) {
    const std::string path = scratch::folder("step_io") + "out.h";
    ASSERT_TRUE(step::write_text(path, "one\n"));
    platform::InputFacts before, after;
    ASSERT_TRUE(platform::facts_of_path(path, before));
    ASSERT_TRUE(step::write_text(path, "one\n"));
    ASSERT_TRUE(platform::facts_of_path(path, after));
    EXPECT_TRUE(step::same_version(before, after));
    ASSERT_TRUE(step::write_text(path, "two\n"));
    EXPECT_EQ(scratch::bytes(path), "two\n");
    std::string read;
    EXPECT_TRUE(step::read_whole(path, read));
    EXPECT_EQ(read, "two\n");
    EXPECT_FALSE(step::read_whole(path + ".missing", read));
}

} // namespace
