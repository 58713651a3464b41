// `vormesta-step library SETTINGS`: a whole library in one step. It walks the library's folders
// at every build, keeps a record of what it read (paths, sizes, times, the target), and writes
// its outputs again only when that record changes, so that an unchanged build rebuilds nothing
// downstream and no file name ever passes through a build file or a command line.
#pragma once

#include <string>
#include <vector>

namespace vormesta {

// Writes a library's index header, `header` ("vormesta/<library>.h"), and the C++ view beside
// it, each only when its text changes.
bool write_index_headers(const std::string& library, const std::string& header);

// `vormesta-step index`: the index alone of files each in an object of its own, listed in
// `list` (or, for "-", in `more`) as INPUT, RELATIVE and KIND ("text" or "binary") a line,
// through the library's own checks, refusals, order and writers; the exit status.
int index_command(const std::string& library, const std::string& list, const std::string& source,
                  const std::string& header, const std::vector<std::string>& more);

// Runs the step the settings at `path` describe, or, for "-", `lines` (a build system that
// writes no files while configuring gives them as arguments); the exit status.
int library_command(const std::string& path, const std::vector<std::string>& lines = {});

} // namespace vormesta
