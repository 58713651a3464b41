#include "compress.hpp"

#include <gtest/gtest.h>

#ifdef VORMESTA_HAS_ZLIB
#include <zlib.h>
#endif
#ifdef VORMESTA_HAS_ZSTD
#include <zstd.h>
#endif

#include <string>

namespace {

using vormesta::Coding;

// Text that compresses, longer than a compressor's first block.
std::string some_text() {
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += "line " + std::to_string(i % 97) + " of the stylesheet\n";
    return text;
}

// `form` decoded, where this build can; false where it cannot tell.
bool decoded(Coding coding, const std::string& form, std::string& bytes) {
#ifdef VORMESTA_HAS_ZLIB
    if (coding == Coding::gzip) {
        z_stream stream{};
        if (inflateInit2(&stream, 15 + 16) != Z_OK)
            return false;
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(form.data()));
        stream.avail_in = static_cast<uInt>(form.size());
        int status = Z_OK;
        while (status == Z_OK) {
            char block[4096];
            stream.next_out = reinterpret_cast<Bytef*>(block);
            stream.avail_out = sizeof block;
            status = inflate(&stream, Z_NO_FLUSH);
            bytes.append(block, sizeof block - stream.avail_out);
        }
        inflateEnd(&stream);
        return status == Z_STREAM_END && stream.avail_in == 0;
    }
#endif
#ifdef VORMESTA_HAS_ZSTD
    if (coding == Coding::zstd) {
        bytes.resize(static_cast<std::size_t>(ZSTD_getFrameContentSize(form.data(), form.size())));
        return ZSTD_decompress(&bytes[0], bytes.size(), form.data(), form.size()) == bytes.size();
    }
#endif
    (void)coding, (void)form, (void)bytes;
    return false;
}

// Each coding this build has: the form decodes to the bytes (where the test can decode it), a
// stream fed in pieces writes the same form, and gzip's header holds no name, time or system.
TEST(Compress, FormsGiveTheBytesBackAndTheSameBytesEveryTime) {
    const std::string text = some_text();
    for (const Coding coding : vormesta::codings) {
        if (!vormesta::coding_available(coding))
            continue;
        const char* name = vormesta::coding_name(coding);
        std::string whole;
        ASSERT_TRUE(vormesta::compress(coding, text, whole)) << name;
        EXPECT_LT(whole.size(), text.size() / 4) << name;
        std::string back;
        if (decoded(coding, whole, back)) {
            EXPECT_EQ(back, text) << name;
        }
        auto pieces = vormesta::start_compressing(coding, text.size());
        ASSERT_TRUE(pieces) << name;
        std::string streamed;
        for (std::size_t at = 0; at < text.size(); at += 100000)
            ASSERT_TRUE(pieces->add(std::string_view(text).substr(at, 100000),
                                    at + 100000 >= text.size(), streamed));
        EXPECT_EQ(streamed, whole) << name;
        if (coding == Coding::gzip) {
            EXPECT_EQ(whole.substr(0, 10), std::string("\x1f\x8b\x08\0\0\0\0\0\x02\xff", 10));
        }
    }
}

TEST(Compress, NamesAndLevels) {
    const struct {
        const char* name;
        bool known;
        int small_level, large_level;
    } rows[] = {{"gzip", true, 9, 6},     {"br", true, 11, 9},   {"zstd", true, 19, 12},
                {"deflate", false, 0, 0}, {"GZIP", false, 0, 0}, {"", false, 0, 0}};
    for (const auto& row : rows) {
        Coding coding = Coding::gzip;
        ASSERT_EQ(vormesta::coding_named(row.name, coding), row.known) << row.name;
        if (!row.known)
            continue;
        EXPECT_STREQ(vormesta::coding_name(coding), row.name);
        EXPECT_EQ(vormesta::coding_level(coding, vormesta::fastest_above), row.small_level);
        EXPECT_EQ(vormesta::coding_level(coding, vormesta::fastest_above + 1), row.large_level);
    }
}

} // namespace
