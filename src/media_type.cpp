#include "media_type.hpp"

#include <cstdint>
#include <cstring>
#include <iterator>

namespace vormesta {
namespace {

using Known = KnownType;

// The types browsers act on (RFC 9239 for JavaScript); formats that compress their own bytes
// are marked so, and get no compressed form.
const Known known[] = {
    {"html", {"text/html", true, false}},
    {"htm", {"text/html", true, false}},
    {"css", {"text/css", true, false}},
    {"js", {"text/javascript", true, false}},
    {"mjs", {"text/javascript", true, false}},
    {"cjs", {"text/javascript", true, false}},
    {"txt", {"text/plain", true, false}},
    {"md", {"text/markdown", true, false}},
    {"csv", {"text/csv", true, false}},
    {"ics", {"text/calendar", true, false}},
    {"vtt", {"text/vtt", true, false}},
    {"json", {"application/json", false, false}},
    {"map", {"application/json", false, false}},
    {"jsonld", {"application/ld+json", false, false}},
    {"webmanifest", {"application/manifest+json", false, false}},
    {"xml", {"application/xml", false, false}},
    {"xhtml", {"application/xhtml+xml", false, false}},
    {"yaml", {"application/yaml", false, false}},
    {"yml", {"application/yaml", false, false}},
    {"wasm", {"application/wasm", false, false}},
    {"svg", {"image/svg+xml", false, false}},
    {"ico", {"image/vnd.microsoft.icon", false, false}},
    {"bmp", {"image/bmp", false, false}},
    {"ttf", {"font/ttf", false, false}},
    {"otf", {"font/otf", false, false}},
    {"eot", {"application/vnd.ms-fontobject", false, false}},
    {"pdf", {"application/pdf", false, false}},
    {"wav", {"audio/wav", false, false}},
    {"tar", {"application/x-tar", false, false}},
    {"png", {"image/png", false, true}},
    {"apng", {"image/apng", false, true}},
    {"jpg", {"image/jpeg", false, true}},
    {"jpeg", {"image/jpeg", false, true}},
    {"gif", {"image/gif", false, true}},
    {"webp", {"image/webp", false, true}},
    {"avif", {"image/avif", false, true}},
    {"jxl", {"image/jxl", false, true}},
    {"woff", {"font/woff", false, true}},
    {"woff2", {"font/woff2", false, true}},
    {"mp3", {"audio/mpeg", false, true}},
    {"ogg", {"audio/ogg", false, true}},
    {"opus", {"audio/ogg", false, true}},
    {"mp4", {"video/mp4", false, true}},
    {"webm", {"video/webm", false, true}},
    {"zip", {"application/zip", false, true}},
    {"gz", {"application/gzip", false, true}},
    {"br", {"application/octet-stream", false, true}},
    {"zst", {"application/zstd", false, true}},
    {"xz", {"application/x-xz", false, true}},
    {"bz2", {"application/x-bzip2", false, true}},
    {"7z", {"application/x-7z-compressed", false, true}},
};

bool same_in_any_case(std::string_view a, const char* b) {
    if (a.size() != std::strlen(b))
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char c = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        if (c != b[i])
            return false;
    }
    return true;
}

} // namespace

const KnownType* known_media_types(std::size_t& count) {
    count = std::size(known);
    return known;
}

MediaType media_type_of(std::string_view relative) {
    const std::size_t slash = relative.rfind('/');
    const std::string_view name = relative.substr(slash == std::string_view::npos ? 0 : slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return {};
    const std::string_view extension = name.substr(dot + 1);
    for (const Known& entry : known)
        if (same_in_any_case(extension, entry.extension))
            return entry.type;
    return {};
}

std::string content_type(const MediaType& type, bool utf8) {
    return std::string(type.name) + (type.text && utf8 ? "; charset=utf-8" : "");
}

void Utf8Check::add(std::string_view bytes) {
    for (std::size_t i = 0; valid_ && i < bytes.size(); ++i) {
        // Plain ASCII, eight bytes at a time.
        for (std::uint64_t eight; needed_ == 0 && i + 8 <= bytes.size(); i += 8) {
            std::memcpy(&eight, bytes.data() + i, 8);
            if (eight & 0x8080808080808080u)
                break;
        }
        if (i == bytes.size())
            break;
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (needed_ > 0) {
            valid_ = byte >= low_ && byte <= high_;
            low_ = 0x80;
            high_ = 0xBF;
            --needed_;
        } else if (byte >= 0x80) {
            // The second byte's range rules out overlong forms, surrogates and past U+10FFFF.
            needed_ = byte >= 0xC2 && byte <= 0xDF   ? 1
                      : byte >= 0xE0 && byte <= 0xEF ? 2
                      : byte >= 0xF0 && byte <= 0xF4 ? 3
                                                     : 0;
            valid_ = needed_ > 0;
            low_ = byte == 0xE0 ? 0xA0 : byte == 0xF0 ? 0x90 : 0x80;
            high_ = byte == 0xED ? 0x9F : byte == 0xF4 ? 0x8F : 0xBF;
        }
    }
}

bool valid_utf8(std::string_view bytes) {
    Utf8Check check;
    check.add(bytes);
    return check.valid();
}

bool starts_compressed(std::string_view bytes) {
    static const std::string_view magics[] = {
        {"\x89PNG", 4},
        {"\xFF\xD8\xFF", 3},
        {"GIF8", 4},
        {"\x1F\x8B", 2},
        {"PK\x03\x04", 4},
        {"\x28\xB5\x2F\xFD", 4},
        {"wOFF", 4},
        {"wOF2", 4},
        {"7z\xBC\xAF", 4},
        {"\xFD"
         "7zXZ",
         5},
        {"BZh", 3},
        {"OggS", 4},
        {"\x1A\x45\xDF\xA3", 4},
        {"ID3", 3},
    };
    for (const std::string_view magic : magics)
        if (bytes.substr(0, magic.size()) == magic)
            return true;
    // WebP in RIFF; MP4, AVIF and HEIF by their ftyp box.
    return bytes.size() >= 12 && ((bytes.substr(0, 4) == "RIFF" && bytes.substr(8, 4) == "WEBP") ||
                                  bytes.substr(4, 4) == "ftyp");
}

} // namespace vormesta
