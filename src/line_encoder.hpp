// The inner loop of the writer: bytes to item text, a whole line at a time where possible.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace vormesta {

constexpr std::size_t items_per_line = 16;
constexpr std::size_t item_size = 5; // "0xAB,"
constexpr std::string_view line_indent = "  ";

// Room `encode_lines` and `encode_item` may scribble on past the end of what they write; the
// next write, or nothing, covers it.
constexpr std::size_t encode_slack = 16;

// Copies fixed text (an indent, a line end) and returns the position after it.
inline char* put_text(char* out, std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

// Writes one item ("0xAB,") and returns the position after it.
char* encode_item(char* out, unsigned char byte);

// Writes `lines` whole lines, each the indent, sixteen items and `line_end` (at most two
// characters), for the next `lines * 16` bytes. Returns the position after the last line.
// Uses the processor's vector instructions where it has them.
char* encode_lines(const unsigned char* bytes, std::size_t lines, std::string_view line_end,
                   char* out);

// The same without vector instructions: what processors without them run.
char* encode_lines_portable(const unsigned char* bytes, std::size_t lines,
                            std::string_view line_end, char* out);

} // namespace vormesta
