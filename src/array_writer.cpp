#include "array_writer.hpp"

#include "line_encoder.hpp"

#include <new>
#include <vector>

namespace vormesta {
namespace {

bool put(std::FILE* out, std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), out) == text.size();
}

} // namespace

std::size_t max_formatted_size(std::size_t count, std::size_t line_end_size) {
    const std::size_t lines = count / items_per_line + 1;
    return count * item_size + lines * (line_indent.size() + line_end_size) + encode_slack;
}

std::size_t format_items(const unsigned char* bytes, std::size_t count, std::uint64_t first_index,
                         std::string_view line_end, char* out) {
    char* const start = out;
    std::size_t position = static_cast<std::size_t>(first_index % items_per_line);
    std::size_t i = 0;
    // Item by item up to the first line boundary, whole lines, then item by item again.
    while (i < count) {
        if (position == 0 && count - i >= items_per_line) {
            const std::size_t lines = (count - i) / items_per_line;
            out = encode_lines(bytes + i, lines, line_end, out);
            i += lines * items_per_line;
            continue;
        }
        if (position == 0)
            out = put_text(out, line_indent);
        out = encode_item(out, bytes[i++]);
        if (++position == items_per_line) {
            out = put_text(out, line_end);
            position = 0;
        }
    }
    return static_cast<std::size_t>(out - start);
}

WriteResult write_array(std::FILE* in, std::FILE* out, const std::string& array_name,
                        std::string_view line_end) {
    // A multiple of the line length, so that every block but the last formats whole lines; the
    // text of a block (about 2.7 MiB) goes out in one large write, which the disk takes best.
    constexpr std::size_t block_size = 512 * 1024;
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
            const std::size_t length =
                format_items(block.data(), got, index, line_end, text.data());
            if (std::fwrite(text.data(), 1, length, out) != length)
                return WriteResult::write_failed;
            index += got;
        }
        if (got == block_size)
            continue;
        // A short read is the end of the input only when the stream says so; some C runtimes
        // flag neither end nor error on a stream that cannot be read at all.
        if (std::ferror(in) || !std::feof(in))
            return WriteResult::read_failed;
        break;
    }

    if (index % items_per_line != 0 && !put(out, line_end))
        return WriteResult::write_failed;
    if (!put(out, "};") || !put(out, line_end))
        return WriteResult::write_failed;
    return WriteResult::ok;
}

} // namespace vormesta
