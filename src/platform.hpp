// What each host provides, and all that differs between hosts. Each host implements the whole of
// it in a file of its own (platform_posix.cpp, platform_windows.cpp). Paths and the command line
// are UTF-8 byte strings here, whatever the host holds them in.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

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

// Called first thing: from then on a stop (Ctrl-C, SIGTERM, SIGHUP; on Windows Ctrl-Break and
// closing the console too) removes the temporary being written, if any, and ends the run with
// the status that stop gives, also where the system would ignore it (process 1 of a container).
// A reader that went away or a file-size limit makes a write fail instead of ending the run.
void handle_stops();

// Holds stops back while a temporary is made or becomes the header, so that no stop comes
// between the two halves of such a step. Nests.
class StopsHeld {
  public:
    StopsHeld();
    ~StopsHeld();
    StopsHeld(const StopsHeld&) = delete;
    StopsHeld& operator=(const StopsHeld&) = delete;
};

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

// Opens a file by path for binary reading.
std::FILE* open_input(const char* path);

// Moves an input opened for reading to `offset` bytes from its start; false when it cannot.
bool seek_input(std::FILE* file, std::uint64_t offset);

// What one look at the open input tells.
struct InputFacts {
    bool is_directory = false;
    bool is_regular = false;    // a file with a size; pipes and devices have none
    std::uint64_t size = 0;     // regular files only
    std::uint64_t modified = 0; // when its bytes last changed, in the host's own units
    std::uint64_t changed = 0;  // when anything about it last changed (cp -p keeps `modified`)
    FileId id;
};

// False when the open input cannot be looked at.
bool facts_of_input(std::FILE* file, InputFacts& facts);

// Whether a regular input read to its end, `bytes_read` bytes, is the file it was at open: the
// same size and time of change, and as many bytes as that size. Files of the kernel's own
// (/proc, /sys) that give other counts than their sizes are read as they come.
bool input_unchanged(std::FILE* file, const InputFacts& at_open, std::uint64_t bytes_read);

// One entry of a folder, as a walk sees it: links are not followed.
struct FolderEntry {
    enum class Kind { file, folder, link, other };
    std::string name;
    Kind kind = Kind::other;
    int error = 0; // where it could not be looked at (kind `other`), the errno that said why
};

// The entries of `folder`, "." and ".." left out. False, with errno set, when it cannot be read.
bool list_folder(const std::string& folder, std::vector<FolderEntry>& entries);

// What `path` names, links followed, as `facts_of_input` tells it, without opening it. False,
// with errno set, when nothing can be looked at there (a dangling link among others).
bool facts_of_path(const std::string& path, InputFacts& facts);

// `path` with every link, "." and ".." resolved. False, with errno set, when it cannot be.
bool resolve_path(const std::string& path, std::string& resolved);

// Removes the file at `path`; false, with errno set, when it cannot be.
bool remove_path(const std::string& path);
// Whether `name` is one this tool gives its temporaries: ".vormesta-" and 16 hex digits, ".tmp".
inline bool is_temporary_name(std::string_view name) {
    return name.size() == 30 && name.substr(0, 10) == ".vormesta-" && name.substr(26) == ".tmp";
}
// Removes the temporary at `path` if a run left it when it was killed: a run still writing one
// holds it, and it is left alone. Whether it was removed.
bool remove_if_abandoned(const std::string& path);

// Makes `folder` and the folders above it that are not there yet. False, with errno set, when
// one cannot be made.
bool make_folders(const std::string& folder);

// The file a header's path ends at, links followed, and the folder it is in.
class Target {
  public:
    enum class Kind {
        nothing,      // nothing there yet
        file,         // a file this user may write
        device,       // a device or FIFO: written as it is, never replaced
        input,        // the input itself, under another name
        not_writable, // a file this user may not write, or a folder
        failed,       // the path could not be looked at
    };

    Target() = default;
    ~Target();
    Target(const Target&) = delete;
    Target& operator=(const Target&) = delete;

    // What `path` is to a writer, looked at once. Throws std::bad_alloc.
    Kind classify(const char* path, const FileId& input);
    // The file, opened for writing and emptied; null when that fails.
    std::FILE* open_emptied();

  private:
    friend class Temporary;
#ifdef _WIN32
    std::wstring path_;        // in the form the system calls take
    bool replaceable_ = false; // a file on a disk, not a device
#else
    // The folder, held open (so that a renamed folder or a long path changes nothing), and the
    // name in it.
    int folder_ = -1;
    std::string name_;
    std::FILE* opened_ = nullptr; // the file, where looking at it opened it for writing
    int permissions_ = -1;        // an existing file's permission bits
#endif
};

// A file of this run's own, under a name nobody can guess, that the header is written to first.
// It is removed when it goes, unless it has become the header.
class Temporary {
  public:
    Temporary() = default;
    ~Temporary() { remove(); }
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;

    // Beside the target, with no more permission bits than the header will have: it becomes
    // the header by a rename. Throws std::bad_alloc.
    bool create_beside(const Target& target);
    // In the host's temporary folder, for this user alone, gone once closed: its bytes are
    // copied into the header. Throws std::bad_alloc.
    bool create_elsewhere();
    std::FILE* file() const { return file_; }
    // Closes the file; false when that fails.
    bool close();
    // The bytes written, from the start; null when they cannot be read.
    std::FILE* read_back();
    // Puts a closed temporary made beside the target in its place; false when the system
    // refuses, and the temporary is then as it was.
    bool rename_over(Target& target);
    // Closes the file and removes the temporary.
    void remove();

  private:
    std::FILE* file_ = nullptr;
#ifdef _WIN32
    std::wstring path_; // empty when there is nothing to remove by name
#else
    int folder_ = -1;             // the target's
    std::string name_;            // empty when there is nothing to remove by name
    char buffer_[8192];           // the stream's: no allocation, and no look at the file to size it
#endif
};

} // namespace vormesta::platform
