// The header text: one constant byte array, sixteen items to a line, streamed from the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

namespace vormesta {

enum class WriteResult { ok, read_failed, write_failed, out_of_memory };

// Room `format_items` needs for `count` bytes, whatever line position it starts at.
std::size_t max_formatted_size(std::size_t count, std::size_t line_end_size);

// Formats `count` bytes as items ("0xAB,"), the first of them having index `first_index` in the
// whole input, so that indents and line ends fall where they would in one pass over the input.
// Returns the number of characters written to `out`.
std::size_t format_items(const unsigned char* bytes, std::size_t count, std::uint64_t first_index,
                         std::string_view line_end, char* out);

// Reads `in` to its end and writes the whole header text to `out`, each line closed by
// `line_end`. Stops at the first failed read or write; flushing and closing are the caller's.
// `expected_size`, the input's size where it is known (0 otherwise), only sizes the buffers;
// `bytes_read`, where given, gets the number of bytes read. `nul_after` adds a 0 item after the
// input's bytes (a text's NUL, or the one item C needs for an empty input). `seen`, where given,
// is shown the bytes read, a block at a time.
WriteResult write_array(std::FILE* in, std::FILE* out, const std::string& array_name,
                        std::string_view line_end, std::uint64_t expected_size = 0,
                        std::uint64_t* bytes_read = nullptr, bool nul_after = false,
                        const std::function<void(std::string_view)>& seen = {});

} // namespace vormesta
