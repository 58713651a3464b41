// What differs between hosts, kept in one place. Each host has its own source file. Paths and
// the command line are UTF-8 byte strings here, whatever the host holds them in.
#pragma once

#include <cstdint>
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

// Opens a file by path for binary reading.
std::FILE* open_input(const char* path);

// The header on its way to its path. It is written to a new temporary file beside the file the
// path ends at (links followed), and renamed over it only once complete: the path holds the
// previous header whole or the new one whole, whatever becomes of the run. A stop signal
// (Ctrl-C) removes the temporary. A path that is there and cannot be replaced (a device, a
// FIFO) is written in place. An output neither committed nor discarded is discarded when it
// goes.
class Output {
  public:
    Output() = default;
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    ~Output() { discard(); }

    // Creates the temporary for `path`; false when it cannot be (errno ENOMEM: no memory).
    bool open(const char* path);
    std::FILE* file() const { return file_; }
    // Flushes and closes the file and puts it at the path; false when any of that failed, and
    // the output is then discarded.
    bool commit();
    // Closes the file and removes the temporary: the path keeps what it held.
    void discard();

  private:
    // Each host's own: make a new file beside the target, put it over the target, remove it.
    bool create_temporary();
    bool replace_target();
    void remove_temporary();

    std::FILE* file_ = nullptr;
    std::string target_;    // the file the path ends at
    std::string temporary_; // empty when there is none (written in place)
};

// Whether an open file is a directory (some hosts let a directory be opened for reading).
bool is_directory(std::FILE* file);

// The size of an open regular file; 0 for anything else (a pipe, a device) or when unknown.
std::uint64_t file_size(std::FILE* file);

enum class FileMatch { different, same, unknown };

// Whether `path` names the very file that `file` has open: same device and file, so a link or
// a name differing only in case on a case-blind file system counts too. `different` when
// nothing is at `path`, `unknown` when either identity cannot be read.
FileMatch match_file(std::FILE* file, const char* path);

} // namespace vormesta::platform
