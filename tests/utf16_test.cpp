#include "utf16.hpp"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

struct Utf16Case {
    const char* what;
    std::u16string utf16;
    std::string utf8;
};

std::ostream& operator<<(std::ostream& out, const Utf16Case& c) {
    return out << c.what;
}

class Utf16 : public testing::TestWithParam<Utf16Case> {};

// Both ways, exactly: a name must come back to the very UTF-16 it was given as.
TEST_P(Utf16, ConvertsLosslesslyBothWays) {
    EXPECT_EQ(vormesta::utf16_to_utf8(GetParam().utf16), GetParam().utf8);
    EXPECT_EQ(vormesta::utf8_to_utf16(GetParam().utf8), GetParam().utf16);
}

INSTANTIATE_TEST_SUITE_P(
    Names, Utf16,
    testing::Values(Utf16Case{"ascii", u"logo.png", "logo.png"},
                    Utf16Case{"latin", u"caf\u00E9.txt", "caf\xC3\xA9.txt"},
                    Utf16Case{"cjk", u"\u65E5\u672C.bin", "\xE6\x97\xA5\xE6\x9C\xAC.bin"},
                    Utf16Case{"pair", u"\xD83D\xDE00.png", "\xF0\x9F\x98\x80.png"},
                    Utf16Case{"lone high",
                              u"a\xD800"
                              "b",
                              "a\xED\xA0\x80"
                              "b"},
                    Utf16Case{"lone low at end", u"a\xDC00", "a\xED\xB0\x80"},
                    Utf16Case{"pair reversed", u"\xDC00\xD800", "\xED\xB0\x80\xED\xA0\x80"}));

// Never written by utf16_to_utf8, but must not crash or vanish: each bad byte is U+FFFD.
TEST(Utf8ToUtf16, MalformedBytesBecomeReplacementCharacters) {
    EXPECT_EQ(vormesta::utf8_to_utf16("a\xFF"
                                      "b"),
              u"a\uFFFD"
              "b");
    EXPECT_EQ(vormesta::utf8_to_utf16("\xC0\x80"), u"\uFFFD\uFFFD");
    EXPECT_EQ(vormesta::utf8_to_utf16("\xE6\x97"), u"\uFFFD\uFFFD");
}

} // namespace
