#include "output.hpp"

#include "scratch.hpp"

#include <gtest/gtest.h>

namespace {

using vormesta::Output;

// What the path holds after a header is written to it, committed or not, and when the path is
// the input itself.
TEST(Output, ThePathHoldsTheOldHeaderUntilTheNewIsWhole) {
    const std::string folder = scratch::folder("output");
    const struct {
        const char* row;
        bool existed, commit, is_input;
        const char* after;
    } rows[] = {{"new", false, true, false, "new text"},
                {"replaced", true, true, false, "new text"},
                {"discarded", true, false, false, "old text"},
                {"discarded, none before", false, false, false, "(none)"},
                {"the input", true, true, true, "old text"}};
    for (const auto& row : rows) {
        const std::string path = folder + row.row + ".h";
        if (row.existed)
            scratch::put(path, "old text");
        vormesta::platform::InputFacts input;
        if (row.is_input) {
            ASSERT_TRUE(vormesta::platform::facts_of_path(path, input));
        }
        {
            Output out;
            const Output::Opened opened = out.open(path.c_str(), input.id);
            ASSERT_EQ(opened, row.is_input ? Output::Opened::is_input : Output::Opened::ok)
                << row.row;
            if (opened == Output::Opened::ok) {
                std::fputs("new text", out.file());
                EXPECT_EQ(scratch::bytes(path), row.existed ? "old text" : "(none)") << row.row;
                if (row.commit) {
                    EXPECT_TRUE(out.commit()) << row.row;
                }
            }
        }
        EXPECT_EQ(scratch::bytes(path), row.after) << row.row;
    }
    // Nothing but the headers: no temporary left behind.
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        files += !entry.path().filename().string().empty();
    EXPECT_EQ(files, 4u);
}

} // namespace
