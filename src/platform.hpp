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

// Which file an open file or a path is: the same on both sides means one file, whatever the
// names (a link, a name differing only in case on a case-blind file system).
struct FileId {
    std::uint64_t volume = 0;
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    bool operator==(const FileId& other) const {
        return volume == other.volume && high == other.high && low == other.low;
    }
};

// What one look at the open input tells.
struct InputFacts {
    bool is_directory = false;
    std::uint64_t size = 0; // regular files only: 0 for a pipe or a device
    FileId id;
};

// False when the open input cannot be looked at.
bool inspect_input(std::FILE* file, InputFacts& facts);

// The header on its way to its path. It is written to a new temporary file beside the file the
// path ends at (links followed), and renamed over it only once complete: the path holds the
// previous header whole or the new one whole, whatever becomes of the run. A stop signal
// (Ctrl-C) removes the temporary. A path that is there and cannot be replaced (a device, a
// FIFO) is written in place, and so is an existing header the user may write where the folder
// refuses the temporary or the rename, as a plain write would. An output neither committed nor
// discarded is discarded when it goes.
class Output {
  public:
    enum class Opened { ok, is_input, failed };

    Output() = default;
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    ~Output() { discard(); }

    // Makes ready to write the header at `path`, unless that is the file `input` (then
    // `is_input`). On `failed`, errno ENOMEM means no memory.
    Opened open(const char* path, const FileId& input);
    std::FILE* file() const { return file_; }
    // Flushes and closes the file and puts it at the path; false when any of that failed, and
    // the output is then discarded.
    bool commit();
    // Closes the file and removes the temporary: the path keeps what it held, but for a header
    // being written in place.
    void discard();

  private:
    enum class Replaced { done, refused, failed };

    // Each host's own. Finds the file the path ends at (`target_`) and, for an existing
    // header, its permission bits; a path that cannot be replaced gets `file_` at once.
    Opened find_target(const char* path, const FileId& input, int& permissions);
    // Makes a new file beside the target, puts it over the target (`refused` where the folder
    // forbids it but the header may still be written), removes it.
    // `permissions`: the existing header's bits, or -1 for a new header.
    bool create_temporary(int permissions);
    Replaced replace_target();
    void remove_temporary();
    // Opens the existing header for writing, unless that is done already.
    bool open_in_place();
    // Where the temporary is refused: the existing header, emptied, becomes the output.
    bool write_in_place();
    bool copy_temporary_in_place();

    std::FILE* file_ = nullptr;
    std::FILE* in_place_ = nullptr; // the existing header, open for writing, where it may be
    std::string target_;            // the file the path ends at
    std::string temporary_;         // empty when there is none (written in place)
    char buffer_[8192];             // the temporary's stream buffer: no allocation, no look
};

// Empties an open file.
bool truncate(std::FILE* file);

} // namespace vormesta::platform
