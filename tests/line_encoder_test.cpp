#include "line_encoder.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

// Whichever encoder this processor runs must write what the portable one writes, for every
// byte value in every column, with either line end.
TEST(EncodeLines, MatchesThePortableEncoder) {
    std::vector<unsigned char> bytes(16 * 256 + 16 * 37);
    for (std::size_t i = 0; i < 16 * 256; ++i)
        bytes[i] = static_cast<unsigned char>(i / 16 + i); // each value once in each column
    std::mt19937 generator(3);
    for (std::size_t i = 16 * 256; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>(generator());
    const std::size_t lines = bytes.size() / 16;

    for (const std::string line_end : {"\n", "\r\n"}) {
        const std::size_t size = lines * (82 + line_end.size());
        std::vector<char> fast(size + vormesta::encode_slack);
        std::vector<char> portable(size + vormesta::encode_slack);
        char* fast_end = vormesta::encode_lines(bytes.data(), lines, line_end, fast.data());
        char* portable_end =
            vormesta::encode_lines_portable(bytes.data(), lines, line_end, portable.data());
        ASSERT_EQ(fast_end - fast.data(), static_cast<std::ptrdiff_t>(size));
        ASSERT_EQ(portable_end - portable.data(), static_cast<std::ptrdiff_t>(size));
        EXPECT_EQ(std::string(fast.data(), size), std::string(portable.data(), size));
        EXPECT_EQ(std::string(portable.data(), 82 + line_end.size()),
                  "  0x00,0x01,0x02,0x03,0x04,0x05,0x06,0x07,0x08,0x09,0x0A,0x0B,0x0C,0x0D,0x0E,"
                  "0x0F," +
                      line_end);
    }
}

} // namespace
