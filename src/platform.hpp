// What differs between hosts, kept in one place. Each host has its own source file. Paths and
// the command line are UTF-8 byte strings here, whatever the host holds them in.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace vormesta::platform {

// The host's text line end: the header is written with it, as a text-mode stream would.
extern const std::string_view line_end;

// Replaces the arguments `main` was given with the command line as UTF-8, the program's name
// first. POSIX hosts hand it over as bytes already; Windows holds it in UTF-16. False when it
// cannot be had (no memory).
bool utf8_arguments(int& argc, char**& argv);

// Writes `text` to standard output. On a console the characters show as they are, not as the
// console's code page would take the bytes.
void print(std::string_view text);

// Opens a file by path: for binary reading, or created or truncated for binary writing.
std::FILE* open_input(const char* path);
std::FILE* open_output(const char* path);

// Removes a file by path; false when that failed.
bool remove_file(const char* path);

// Whether an open file is a directory (some hosts let a directory be opened for reading).
bool is_directory(std::FILE* file);

enum class FileMatch { different, same, unknown };

// Whether `path` names the very file that `file` has open: same device and file, so a link or
// a name differing only in case on a case-blind file system counts too. `different` when
// nothing is at `path`, `unknown` when either identity cannot be read.
FileMatch match_file(std::FILE* file, const char* path);

} // namespace vormesta::platform
