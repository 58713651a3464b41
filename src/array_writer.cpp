#include "array_writer.hpp"

#include <cstring>
#include <new>
#include <vector>

namespace vormesta {
namespace {

constexpr std::size_t items_per_line = 16;
constexpr std::size_t item_size = 5; // "0xAB,"
constexpr std::string_view indent = "  ";

// Every item text, precomputed: formatting a byte is one small copy instead of a printf.
struct ItemTable {
    char text[256][item_size];
};

constexpr ItemTable make_item_table() {
    constexpr char digits[] = "0123456789ABCDEF";
    ItemTable table{};
    for (int b = 0; b < 256; ++b) {
        table.text[b][0] = '0';
        table.text[b][1] = 'x';
        table.text[b][2] = digits[b >> 4];
        table.text[b][3] = digits[b & 0xF];
        table.text[b][4] = ',';
    }
    return table;
}

constexpr ItemTable item_table = make_item_table();

char* put_text(char* out, std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

char* put_item(char* out, unsigned char byte) {
    std::memcpy(out, item_table.text[byte], item_size);
    return out + item_size;
}

// The hot path: one whole line, with a fixed trip count the compiler can unroll.
char* put_line(char* out, const unsigned char* bytes, std::string_view line_end) {
    out = put_text(out, indent);
    for (std::size_t i = 0; i < items_per_line; ++i)
        out = put_item(out, bytes[i]);
    return put_text(out, line_end);
}

bool put(std::FILE* out, std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), out) == text.size();
}

} // namespace

std::size_t max_formatted_size(std::size_t count, std::size_t line_end_size) {
    const std::size_t lines = count / items_per_line + 1;
    return count * item_size + lines * (indent.size() + line_end_size);
}

std::size_t format_items(const unsigned char* bytes, std::size_t count, std::uint64_t first_index,
                         std::string_view line_end, char* out) {
    char* const start = out;
    std::size_t position = static_cast<std::size_t>(first_index % items_per_line);
    std::size_t i = 0;
    while (i < count) {
        if (position == 0 && count - i >= items_per_line) {
            out = put_line(out, bytes + i, line_end);
            i += items_per_line;
            continue;
        }
        if (position == 0)
            out = put_text(out, indent);
        out = put_item(out, bytes[i++]);
        if (++position == items_per_line) {
            out = put_text(out, line_end);
            position = 0;
        }
    }
    return static_cast<std::size_t>(out - start);
}

WriteResult write_array(std::FILE* in, std::FILE* out, const std::string& array_name,
                        std::string_view line_end) {
    // A multiple of the line length, so that every block but the last formats whole lines.
    constexpr std::size_t block_size = 64 * 1024;
    static_assert(block_size % items_per_line == 0);

    std::vector<unsigned char> block;
    std::vector<char> text;
    try {
        block.resize(block_size);
        text.resize(max_formatted_size(block_size, line_end.size()));
    } catch (const std::bad_alloc&) {
        return WriteResult::out_of_memory;
    }

    if (!put(out, "const unsigned char ") || !put(out, array_name) || !put(out, "[] = {") ||
        !put(out, line_end))
        return WriteResult::write_failed;

    std::uint64_t index = 0;
    for (;;) {
        const std::size_t got = std::fread(block.data(), 1, block_size, in);
        if (got > 0) {
            const std::size_t length = format_items(block.data(), got, index, line_end, text.data());
            if (std::fwrite(text.data(), 1, length, out) != length)
                return WriteResult::write_failed;
            index += got;
        }
        if (std::ferror(in))
            return WriteResult::read_failed;
        if (got < block_size && std::feof(in))
            break;
    }

    if (index % items_per_line != 0 && !put(out, line_end))
        return WriteResult::write_failed;
    if (!put(out, "};") || !put(out, line_end))
        return WriteResult::write_failed;
    return WriteResult::ok;
}

} // namespace vormesta
