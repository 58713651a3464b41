// What a web server says of a file: its media type, from its name's extension, and whether its
// bytes are worth compressing.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vormesta {

struct MediaType {
    const char* name = "application/octet-stream";
    bool text = false;       // text/*: a charset may follow
    bool compressed = false; // a format compressed already (images, fonts, archives, media)
};

// The type of `relative` by its extension, in any case; application/octet-stream when unknown.
MediaType media_type_of(std::string_view relative);
// Each extension `media_type_of` knows, with its type: `count` of them.
struct KnownType {
    const char* extension;
    MediaType type;
};
const KnownType* known_media_types(std::size_t& count);
// The Content-Type: "; charset=utf-8" after a text type whose bytes are valid UTF-8.
std::string content_type(const MediaType& type, bool utf8);
// Whether bytes are UTF-8 as RFC 3629 has it (no overlong forms, surrogates, or past
// U+10FFFF), told a piece at a time: a character may span two pieces.
class Utf8Check {
  public:
    void add(std::string_view bytes);
    bool valid() const { return valid_ && needed_ == 0; }

  private:
    bool valid_ = true;
    int needed_ = 0;                         // continuation bytes still to come
    unsigned char low_ = 0x80, high_ = 0xBF; // the next continuation byte's range
};
// Whether `bytes` are UTF-8, whole.
bool valid_utf8(std::string_view bytes);
// Whether `bytes` begin as a compressed format does, whatever the file's name says.
bool starts_compressed(std::string_view bytes);

} // namespace vormesta
