// The index of a library of files found by path: which files it holds, the rules a folder is
// walked by, and the C sources and headers that let a program find a file by its path. The index
// is the library's API: each file's bytes sit behind a symbol of the library's own, so no file
// name, no other library and no index function can clash with them.
#pragma once

#include "object_file.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace vormesta {

// A compressed form of a file, as Content-Encoding names it, reached like the file's bytes.
struct IndexForm {
    std::string name;
    std::string symbol;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::string etag;
};

struct IndexEntry {
    std::string relative;    // the path below the base, '/' between folders
    std::string from;        // where it was read, for messages
    std::uint64_t size = 0;  // the file's, without a text file's NUL
    bool text = false;       // a NUL follows the bytes
    std::string symbol;      // the C name the bytes are reached through
    std::uint64_t offset = 0; // from that symbol
    std::string array;       // the array its declaration gives, where it is declared
    std::string type;        // the media type, for Content-Type
    std::string etag;        // a strong validator, quotes included; empty where not asked
    std::vector<IndexForm> forms; // smallest first, each smaller than the bytes
};

// The layout of `struct vormesta_file` the headers give, as index/shared.h states it: a program
// refuses libraries of two.
extern const int index_layout;

// The C identifier of a library's functions (`<id>_find`), from its name.
std::string library_identifier(const std::string& library);
// The hidden symbol of the library's packed data, and of one file's own object.
std::string library_data_symbol(const std::string& library);
// The hidden symbol of the library's table of files, where the object holds it.
std::string library_table_symbol(const std::string& library);
std::string library_file_symbol(const std::string& library, const std::string& relative);

// Whether a file of library `library` may be declared as `array`: not as one of the index's own
// functions. Says why not in `refused`.
bool array_allowed(const std::string& library, const std::string& array, std::string& refused);

// Entries as the index's writers take them: pointers, so that a library of many files is not
// copied to be written.
using EntryList = std::vector<const IndexEntry*>;
EntryList entry_list(const std::vector<IndexEntry>& entries);

// Refuses, in `refused`, among entries sorted by path: the same path twice, two declared files
// giving one array, and an array the index's own functions take.
bool refuse_clashes(const std::string& library, const EntryList& sorted, std::string& refused);
// Sorts the entries by path (byte by byte), then refuses as `refuse_clashes` does.
bool sort_entries(const std::string& library, std::vector<IndexEntry>& entries,
                  std::string& refused);

// Whether a folder walk leaves the file or folder `name` out: litter always (editors' lock,
// autosave, backup and swap files, `.DS_Store`, `Thumbs.db`, `desktop.ini`), hidden names (a
// leading '.') unless `hidden` is asked.
bool left_out(const std::string& name, bool hidden);

// Whether `relative` is picked by `pattern`: a pattern without '/' matches the file's name in any
// folder; one with '/' matches a leading folder part and then the name, at any depth below it.
// '*' and '?' do not cross '/'; "[abc]" is a set; a '\' takes the next character as it is.
bool pattern_matches(const std::string& pattern, const std::string& relative);

// What a walk does with one entry of a folder: the same rules a live library walks by.
enum class WalkStep { pass, enter, take };

// One folder's walk settings. It keeps pointers into the strings it is given.
class WalkRules {
  public:
    WalkRules(const std::vector<std::string>& patterns, const std::vector<std::string>& excludes,
              const std::vector<std::string>& skipped, bool hidden);
    // The entry `name` at `relative` below the top; `folder` where it is a folder itself, not a
    // link to one. `take` leaves the walker to check that it is a file, or a link to one inside.
    WalkStep step(const std::string& name, const std::string& relative, bool folder) const;

  private:
    std::vector<const char*> patterns_, excludes_, skipped_;
    bool hidden_;
};

// Whether `path` lies below the folder `root`, both resolved: where a link may lead.
bool inside(const std::string& path, const std::string& root);

// The bound of a file's array: its bytes and a text file's NUL; an empty file's array holds one
// NUL, since C has no arrays of size 0.
inline std::uint64_t array_size(std::uint64_t size, bool text) {
    return size + (text || size == 0 ? 1 : 0);
}

// The declaration of one file's array, `array` of `bound` bytes, for C and C++.
std::string declaration_text(const std::string& relative, const std::string& array,
                             std::uint64_t bound);

// `path` as a C string literal, every byte but plain printable ASCII as an octal escape.
std::string c_string(const std::string& text);
// `text` safe inside a C comment.
std::string as_comment(const std::string& text);

// "vormesta/<library>.h": the index's declarations for C and C++.
std::string index_header(const std::string& library);
// "vormesta/files.hpp": the C++ view of any library.
extern const char files_header[];
// The index's source where other objects hold the bytes: its includes, the symbols it reaches
// and the table.
std::string index_source(const std::string& library, const EntryList& entries);
// Its parts, for a source that defines the arrays itself between them: the includes, and the
// table of the sorted entries with the functions that read it.
std::string index_source_includes(const std::string& library);
std::string index_source_table(const std::string& library, const EntryList& entries);
// The index's source where the object holds the table as well (`index_table`): the includes, the
// table's declaration and the functions that read it. It changes only with the number of files.
std::string index_source_over_table(const std::string& library, std::size_t count);
// The table of `struct vormesta_file` (and of their forms) for the object, as the compiler would
// lay it out: every field a word, pointers to the data (where the entries' offsets say, from the
// data's start) or to the table's own words and strings.
ObjectTable index_table(const std::string& library, const EntryList& entries);

// Where a live library reads its files from at run time: its folders as the build named them,
// with the walk's settings, and the files it names on its own.
struct LiveFolder {
    std::string path;
    std::string prefix;
    bool hidden = false;
    bool etag = false;
    std::vector<std::string> patterns;
    std::vector<std::string> excludes;
    std::vector<std::string> skipped; // folders below it, by their paths below it
};
struct LiveListed {
    std::string path;
    std::string relative;
    bool etag = false;
};
struct LiveLibrary {
    std::vector<LiveFolder> folders;
    std::vector<LiveListed> listed;
};
// What a live library's index source begins and ends with, around the rest of it, for a build
// that defines VORMESTA_LIVE; nothing of it is compiled otherwise. The start renames the functions
// over the embedded table; the end defines the library's functions over its folders, as the step
// walks them.
std::string live_source_start(const std::string& library);
std::string live_source_end(const std::string& library, const LiveLibrary& live);

} // namespace vormesta
