#include "array_writer.hpp"

#include "line_encoder.hpp"

#include <algorithm>
#include <memory>
#include <new>

namespace vormesta {
namespace {

bool put(std::FILE* out, std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), out) == text.size();
}

// Blocks are whole lines, so that every block but the last formats whole lines. The largest
// block's text (about 170 KB) stays in the processor's cache from formatting to the write:
// measured on 64 MiB, 32 KiB blocks took a quarter less time than 512 KiB ones to a file, and
// half as long to /dev/null. Smaller inputs get blocks of their own size, so that a small run
// touches little memory.
constexpr std::size_t max_block_size = 32 * 1024;
constexpr std::size_t min_block_size = 4 * 1024;
static_assert(max_block_size % items_per_line == 0 && min_block_size % items_per_line == 0);

// One byte more than expected, so that a file of the expected size ends in the first read.
std::size_t first_block_size(std::uint64_t expected_size) {
    if (expected_size >= max_block_size)
        return max_block_size;
    const auto wanted = static_cast<std::size_t>(expected_size) + items_per_line;
    return std::max(min_block_size, wanted - wanted % items_per_line);
}

// Neither buffer is cleared: each byte is written before it is read.
template <typename T> std::unique_ptr<T[]> uninitialised(std::size_t count) {
    return std::unique_ptr<T[]>(new T[count]);
}

struct Buffers {
    std::size_t block_size = 0;
    std::unique_ptr<unsigned char[]> block;
    std::unique_ptr<char[]> text;

    bool fit(std::size_t size, std::string_view line_end) {
        try {
            block.reset();
            text.reset();
            block = uninitialised<unsigned char>(size);
            text = uninitialised<char>(max_formatted_size(size, line_end.size()));
            block_size = size;
            return true;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
};

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
                        std::string_view line_end, std::uint64_t expected_size,
                        std::uint64_t* bytes_read, bool nul_after,
                        const std::function<void(std::string_view)>& seen) {
    Buffers buffers;
    if (!buffers.fit(first_block_size(expected_size), line_end))
        return WriteResult::out_of_memory;

    if (!put(out, "const unsigned char ") || !put(out, array_name) || !put(out, "[] = {") ||
        !put(out, line_end))
        return WriteResult::write_failed;

    std::uint64_t index = 0;
    for (;;) {
        const std::size_t got = std::fread(buffers.block.get(), 1, buffers.block_size, in);
        if (got > 0) {
            if (seen)
                seen({reinterpret_cast<const char*>(buffers.block.get()), got});
            const std::size_t length =
                format_items(buffers.block.get(), got, index, line_end, buffers.text.get());
            if (std::fwrite(buffers.text.get(), 1, length, out) != length)
                return WriteResult::write_failed;
            index += got;
        }
        if (got == buffers.block_size) {
            // More than expected (a pipe, or a file that grew): larger blocks from here on.
            if (buffers.block_size < max_block_size &&
                !buffers.fit(2 * buffers.block_size, line_end))
                return WriteResult::out_of_memory;
            continue;
        }
        // A short read is the end of the input only when the stream says so; some C runtimes
        // flag neither end nor error on a stream that cannot be read at all.
        if (std::ferror(in) || !std::feof(in))
            return WriteResult::read_failed;
        break;
    }
    if (bytes_read)
        *bytes_read = index;

    if (nul_after) {
        static const unsigned char nul = 0;
        const std::size_t length = format_items(&nul, 1, index, line_end, buffers.text.get());
        if (std::fwrite(buffers.text.get(), 1, length, out) != length)
            return WriteResult::write_failed;
        ++index;
    }
    if (index % items_per_line != 0 && !put(out, line_end))
        return WriteResult::write_failed;
    if (!put(out, "};") || !put(out, line_end))
        return WriteResult::write_failed;
    return WriteResult::ok;
}

} // namespace vormesta
