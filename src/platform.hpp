// What differs between hosts, kept in one place. Each host has its own source file.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace vormesta::platform {

// The host's text line end: the header is written with it, as a text-mode stream would.
extern const std::string_view line_end;

// Whether an open file is a directory (some hosts let a directory be opened for reading).
bool is_directory(std::FILE* file);

enum class FileMatch { different, same, unknown };

// Whether `path` names the very file that `file` has open: same device and file, so a link or
// a name differing only in case on a case-blind file system counts too. `different` when
// nothing is at `path`, `unknown` when either identity cannot be read.
FileMatch match_file(std::FILE* file, const std::string& path);

} // namespace vormesta::platform
