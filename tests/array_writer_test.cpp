#include "array_writer.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace {

// A file of the test's own in the working folder, removed when it goes: no std::tmpfile, which
// Windows' C runtime makes in the drive's root, where parallel tests collide or may not write.
class Scratch {
  public:
    explicit Scratch(const char* role, const char* mode = "w+b") {
        const auto* test = testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::string("scratch-") + test->test_suite_name() + "-" + test->name() + "-" + role;
        for (char& c : path_)
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '-';
        file_ = std::fopen(path_.c_str(), mode);
    }
    ~Scratch() {
        if (file_)
            std::fclose(file_);
        std::remove(path_.c_str());
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    std::FILE* get() const { return file_; }

  private:
    std::string path_;
    std::FILE* file_ = nullptr;
};

std::string read_all(std::FILE* file) {
    std::rewind(file);
    std::string text;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, got);
    return text;
}

// The header text for `bytes`, produced through real streams as the tool does.
std::string header_for(const std::string& bytes, const std::string& name,
                       std::string_view line_end = "\n", std::uint64_t expected_size = 0,
                       bool nul_after = false) {
    Scratch in("in");
    Scratch out("out");
    EXPECT_TRUE(in.get() && out.get());
    EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), in.get()), bytes.size());
    std::rewind(in.get());
    EXPECT_EQ(vormesta::write_array(in.get(), out.get(), name, line_end, expected_size, nullptr,
                                    nul_after),
              vormesta::WriteResult::ok);
    return read_all(out.get());
}

// The layout one item at a time, as plainly as it can be said, to hold the fast formatter to.
std::string reference_items(const std::string& bytes, std::string_view line_end) {
    std::string text;
    char item[8];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i % 16 == 0)
            text += "  ";
        std::snprintf(item, sizeof item, "0x%02X,", static_cast<unsigned char>(bytes[i]));
        text += item;
        if (i % 16 == 15)
            text += line_end;
    }
    if (bytes.size() % 16 != 0)
        text += line_end;
    return text;
}

std::string random_bytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string bytes(size, '\0');
    for (char& b : bytes)
        b = static_cast<char>(byte(generator));
    return bytes;
}

const std::string full_line = "  0x00,0x01,0x02,0x03,0x04,0x05,0x06,0x07,0x08,0x09,0x0A,0x0B,0x0C,"
                              "0x0D,0x0E,0x0F,\n";

struct LayoutCase {
    const char* what;
    std::string bytes;
    std::string expected;
    bool nul_after = false;
};

std::ostream& operator<<(std::ostream& out, const LayoutCase& c) {
    return out << c.what;
}

class Layout : public testing::TestWithParam<LayoutCase> {};

TEST_P(Layout, WritesTheExactHeaderText) {
    EXPECT_EQ(header_for(GetParam().bytes, "abc", "\n", 0, GetParam().nul_after),
              GetParam().expected);
}

std::string counting(std::size_t size) {
    std::string bytes;
    for (std::size_t i = 0; i < size; ++i)
        bytes += static_cast<char>(i);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, Layout,
    testing::Values(
        LayoutCase{"empty", "", "const unsigned char abc[] = {\n};\n"},
        LayoutCase{"three", "ABC", "const unsigned char abc[] = {\n  0x41,0x42,0x43,\n};\n"},
        LayoutCase{"full line", counting(16),
                   "const unsigned char abc[] = {\n" + full_line + "};\n"},
        LayoutCase{"one past", counting(17),
                   "const unsigned char abc[] = {\n" + full_line + "  0x10,\n};\n"},
        // Line ends, end-of-file marks and NUL are data like any other byte.
        LayoutCase{"special bytes", std::string("\x0A\x0D\x1A\xFF\x00\xAB", 6),
                   "const unsigned char abc[] = {\n  0x0A,0x0D,0x1A,0xFF,0x00,0xAB,\n};\n"},
        // A NUL item after the bytes: a text's, or the one C needs for an empty file.
        LayoutCase{"empty, NUL after", "", "const unsigned char abc[] = {\n  0x00,\n};\n", true},
        LayoutCase{"NUL ends the line", counting(15),
                   "const unsigned char abc[] = {\n" + full_line.substr(0, full_line.size() - 6) +
                       "0x00,\n};\n",
                   true},
        LayoutCase{"NUL on a line of its own", counting(16),
                   "const unsigned char abc[] = {\n" + full_line + "  0x00,\n};\n", true}));

TEST(WriteArray, EndsEveryLineWithTheGivenLineEnd) {
    EXPECT_EQ(header_for(counting(17), "crlf", "\r\n"),
              "const unsigned char crlf[] = {\r\n" + full_line.substr(0, full_line.size() - 1) +
                  "\r\n  0x10,\r\n};\r\n");
}

// Sizes around the line length and the largest block (32 KiB), so that lines split across
// blocks show; each with the size known, unknown (a pipe), and wrong both ways (a file that
// grew or shrank while it was read), which size the blocks differently.
TEST(WriteArray, MatchesOneItemAtATimeAcrossBlocks) {
    for (std::size_t size : {15u, 31u, 4111u, 32768u, 32775u, 65545u, 200003u, 524295u}) {
        const std::string bytes = random_bytes(size, static_cast<unsigned>(size));
        const std::string expected =
            "const unsigned char r[] = {\n" + reference_items(bytes, "\n") + "};\n";
        for (std::uint64_t expected_size : {std::size_t{0}, size, size / 3, 2 * size})
            EXPECT_EQ(header_for(bytes, "r", "\n", expected_size), expected)
                << size << " bytes, " << expected_size << " expected";
    }
}

// A stream may hand over any number of bytes at a time; the layout must not depend on it.
TEST(FormatItems, ChunksStartingMidLineContinueTheLayout) {
    const std::string bytes = random_bytes(100, 7);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t chunk : {1u, 3u, 15u, 16u, 17u, 40u}) {
        std::string text;
        for (std::size_t start = 0; start < bytes.size(); start += chunk) {
            const std::size_t count = std::min(chunk, bytes.size() - start);
            std::vector<char> out(vormesta::max_formatted_size(count, 2));
            text.append(out.data(),
                        vormesta::format_items(data + start, count, start, "\r\n", out.data()));
        }
        EXPECT_EQ(text + "\r\n", reference_items(bytes, "\r\n")) << "chunks of " << chunk;
    }
}

TEST(WriteArray, ReportsAFailedReadAsSuch) {
    // A stream opened for writing only cannot be read: every read fails.
    Scratch in("in", "wb");
    Scratch out("out");
    ASSERT_TRUE(in.get() && out.get());
    EXPECT_EQ(vormesta::write_array(in.get(), out.get(), "a", "\n"),
              vormesta::WriteResult::read_failed);
}

} // namespace
