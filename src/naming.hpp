// Where the header goes and what its array is called, both derived from the input path alone.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vormesta {

// Number of leading bytes of `path` left once its extension is cut off. Only the last dot of
// the last component counts, and a dot at the very start of the path never does.
std::size_t find_base_length(const std::string& path);

// The base followed by ".h": the header lands beside the input.
std::string make_output_path(const std::string& path, std::size_t base_length);

// Whether `c` separates folders in a path: '/' and '\\' alike, on every host.
bool is_separator(char c);

// `text` as a C identifier: every byte that is not an ASCII letter or digit becomes '_', and a
// leading digit gets '_' in front.
std::string make_identifier(std::string_view text);

// The base as a C and C++ identifier: every byte that is not an ASCII letter or digit becomes
// '_', a leading digit gets '_' in front and a keyword or reserved name gets '_' behind.
std::string make_array_name(const std::string& path, std::size_t base_length);

// Whether `name` is a keyword of C or C++ (or a name the preprocessor keeps), which no array
// may be called.
bool is_keyword(std::string_view name);

// Whether `name` is declared or defined by the C library, POSIX or the compilers (`index`,
// `log`, `main`, `unix`, `EOF`), so that an array of that name would clash in a program.
bool is_reserved(std::string_view name);

} // namespace vormesta
