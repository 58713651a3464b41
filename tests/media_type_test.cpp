#include "media_type.hpp"

#include <gtest/gtest.h>

namespace {

TEST(MediaType, ByExtensionInAnyCaseWithACharsetForUtf8Text) {
    const struct {
        const char* relative;
        bool utf8;
        const char* type;
        bool compressed;
    } rows[] = {
        {"index.html", true, "text/html; charset=utf-8", false},
        {"css/site.CSS", true, "text/css; charset=utf-8", false},
        {"app.mjs", true, "text/javascript; charset=utf-8", false},
        {"notes.txt", false, "text/plain", false},      // not UTF-8: no charset
        {"data.json", true, "application/json", false}, // JSON takes no charset
        {"icon.svg", true, "image/svg+xml", false},
        {"module.wasm", false, "application/wasm", false},
        {"photo.JPG", false, "image/jpeg", true},
        {"font.woff2", false, "font/woff2", true},
        {"a.tar.gz", false, "application/gzip", true},
        {"README", true, "application/octet-stream", false},
        {".htaccess", true, "application/octet-stream", false}, // a name, not an extension
        {"dir.html/file", true, "application/octet-stream", false},
        {"x.unknown", true, "application/octet-stream", false},
    };
    for (const auto& row : rows) {
        const vormesta::MediaType type = vormesta::media_type_of(row.relative);
        EXPECT_EQ(vormesta::content_type(type, row.utf8), row.type) << row.relative;
        EXPECT_EQ(type.compressed, row.compressed) << row.relative;
    }
}

TEST(MediaType, Utf8IsCheckedAsRfc3629HasIt) {
    const struct {
        const char* bytes;
        bool valid;
    } rows[] = {
        {"plain", true},
        {"caf\xc3\xa9", true},
        {"\xe2\x82\xac", true},
        {"\xf0\x9f\x98\x80", true},
        {"caf\xe9", false},
        {"\xc0\xaf", false}, // overlong
        {"\xed\xa0\x80", false},
        /* a surrogate */ {"\xf4\x90\x80\x80", false},
        {"\xe2\x82", false},
        /* cut short */ {"\x80", false},
        // Past eight bytes of plain ASCII, read eight at a time.
        {"an ASCII run, then caf\xc3\xa9 and more ASCII", true},
        {"an ASCII run, then \xff", false},
        {"0123456\xff"
         "01234567",
         false},
        {"sixteen ASCII by\xed\xa0\x80", false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(vormesta::valid_utf8(row.bytes), row.valid) << row.bytes;
        // Told a byte at a time, as a file read in blocks splits a character.
        vormesta::Utf8Check pieces;
        for (const char* at = row.bytes; *at; ++at)
            pieces.add({at, 1});
        EXPECT_EQ(pieces.valid(), row.valid) << row.bytes;
    }
}

TEST(MediaType, CompressedFormatsAreKnownByTheirBytes) {
    using namespace std::string_literals;
    const struct {
        std::string bytes;
        bool compressed;
    } rows[] = {
        {"\x89PNG\r\n\x1a\n"s, true},
        {"\xff\xd8\xff\xe0"s, true},
        {"\x1f\x8b\x08\0"s, true},
        {"RIFF\0\0\0\0WEBPVP8 "s, true},
        {"\0\0\0\x20"
         "ftypavif"s,
         true},
        {"RIFF\0\0\0\0WAVEfmt "s, false},
        {"<!doctype html>"s, false},
        {""s, false},
        {"\x89P"s, false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(vormesta::starts_compressed(row.bytes), row.compressed) << row.bytes;
}

} // namespace
