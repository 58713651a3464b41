#include "web_forms.hpp"

#include "scratch.hpp"

#include <gtest/gtest.h>

namespace {

using vormesta::Coding;

vormesta::WebInput input_of(const std::string& from, const std::string& relative, bool gzip) {
    vormesta::WebInput input{
        from, relative, {}, {gzip ? 1u << static_cast<unsigned>(Coding::gzip) : 0u, true}, ""};
    EXPECT_TRUE(vormesta::platform::facts_of_path(from, input.facts)) << from;
    return input;
}

// A watch fed in pieces learns what one look at the whole would.
TEST(WebForms, ByteWatchSeesTheWholeInPieces) {
    const struct {
        std::string bytes;
        bool utf8, compressed;
    } rows[] = {{"caf\xc3\xa9 au lait", true, false},
                {"caf\xe9", false, false},
                {std::string("\x1f\x8b\x08\0rest", 8), false, true},
                {"", true, false}};
    for (const auto& row : rows) {
        vormesta::ByteWatch watch(true, true);
        for (std::size_t at = 0; at < row.bytes.size(); at += 3)
            watch.add(std::string_view(row.bytes).substr(at, 3));
        const vormesta::ByteFacts facts = watch.finish();
        EXPECT_EQ(facts.digest, vormesta::sha256_hex(row.bytes)) << row.bytes;
        EXPECT_EQ(facts.utf8, row.utf8) << row.bytes;
        EXPECT_EQ(facts.starts_compressed, row.compressed) << row.bytes;
    }
}

// Each way the cache can be found after a run: the facts come out as from no cache, each form
// is the bytes compressed and its digest its own, and nothing lies outside the cache.
TEST(WebForms, FormsComeFromTheBytesWhateverTheCacheHolds) {
    const struct {
        const char* row;
        void (*change)(const std::string& cache, const std::string& form);
    } rows[] = {
        {"kept", [](const std::string&, const std::string&) {}},
        {"form gone",
         [](const std::string&, const std::string& form) { std::remove(form.c_str()); }},
        {"record unreadable", [](const std::string& cache,
                                 const std::string&) { scratch::put(cache + ".files", "junk"); }},
        {"digest a path",
         [](const std::string& cache, const std::string& form) {
             std::string record = scratch::bytes(cache + ".files");
             const std::string digest = form.substr(form.rfind('/') + 1, 64);
             record.replace(record.find(digest), 64, "../../../escaped" + std::string(48, 'a'));
             scratch::put(cache + ".files", record);
         }},
    };
    if (!vormesta::coding_available(Coding::gzip))
        GTEST_SKIP() << "this build's step has no gzip";
    const std::string folder = scratch::folder("web_forms");
    std::string text;
    for (int i = 0; i < 400; ++i)
        text += "p { margin: " + std::to_string(i % 7) + "px }\n";
    scratch::put(folder + "site.css", text);
    scratch::put(folder + "noise.css", scratch::noise(5000));
    const std::string cache = folder + "record";
    const std::vector<vormesta::WebInput> inputs{input_of(folder + "site.css", "site.css", true),
                                                 input_of(folder + "noise.css", "noise.css", true)};
    for (const auto& row : rows) {
        std::vector<vormesta::WebFacts> facts;
        ASSERT_TRUE(vormesta::make_web_facts(cache, inputs, facts)) << row.row;
        ASSERT_EQ(facts[0].forms.size(), 1u) << row.row;
        row.change(cache, facts[0].forms[0].path);
        ASSERT_TRUE(vormesta::make_web_facts(cache, inputs, facts)) << row.row;
        EXPECT_EQ(facts[0].type, "text/css; charset=utf-8");
        EXPECT_EQ(facts[0].etag, vormesta::entity_tag(vormesta::sha256_hex(text)));
        ASSERT_EQ(facts[0].forms.size(), 1u) << row.row;
        const vormesta::WebForm& form = facts[0].forms[0];
        const std::string made = scratch::bytes(form.path);
        std::string expected;
        ASSERT_TRUE(vormesta::compress(Coding::gzip, text, expected));
        EXPECT_EQ(made, expected) << row.row;
        EXPECT_EQ(form.size, made.size()) << row.row;
        EXPECT_EQ(form.digest, vormesta::sha256_hex(made)) << row.row;
        // No form of the noise: none kept, and none left in the cache.
        EXPECT_TRUE(facts[1].forms.empty()) << row.row;
        std::size_t held = 0;
        for (const auto& entry : std::filesystem::directory_iterator(cache + ".forms"))
            held += entry.path().filename() != std::filesystem::path(form.path).filename();
        EXPECT_EQ(held, 0u) << row.row;
        EXPECT_FALSE(std::filesystem::exists("escaped" + std::string(48, 'a') + ".gzip"))
            << row.row;
    }
}

// A file that is not the version the walk saw is not read as if it were; bytes that hash to
// other than what was learnt are said to have changed.
TEST(WebForms, AFileChangedSinceTheWalkFailsTheStep) {
    const std::string folder = scratch::folder("web_forms_changed");
    scratch::put(folder + "a.txt", "first words");
    std::vector<vormesta::WebInput> inputs{input_of(folder + "a.txt", "a.txt", false)};
    std::vector<vormesta::WebFacts> facts;
    ASSERT_TRUE(vormesta::make_web_facts("", inputs, facts));
    EXPECT_TRUE(vormesta::bytes_as_learnt("a.txt", facts[0], facts[0].bytes));
    vormesta::ByteFacts other = facts[0].bytes;
    other.digest = vormesta::sha256_hex("other words");
    EXPECT_FALSE(vormesta::bytes_as_learnt("a.txt", facts[0], other));
    inputs[0].facts.modified += 1;
    EXPECT_FALSE(vormesta::make_web_facts("", inputs, facts));
    inputs[0].facts.modified -= 1;
    inputs[0].facts.size += 1;
    EXPECT_FALSE(vormesta::make_web_facts("", inputs, facts));
}

} // namespace
