// What every command of vormesta-step does with files: errors in one form, inputs read with a
// check that they did not change, outputs replaced whole and only when their bytes differ.
#pragma once

#include "object_file.hpp"
#include "output.hpp"
#include "platform.hpp"

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vormesta::step {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// "vormesta-step: FILE: MESSAGE" on the error stream; false.
bool fail(const std::string& file, const std::string& message);
// The same, with the cause errno gives as the system words it: "WHAT: CAUSE".
bool fail_because(const std::string& file, const std::string& what);

// Whether two looks at a file saw one version of it: the same file, size and times.
bool same_version(const platform::InputFacts& a, const platform::InputFacts& b);

// A file's header path and array name, by the tool's own rule.
// How a file's bytes lie in what is written: a NUL after them (in the array's bound) for text,
// and their alignment.
struct ByteLayout {
    bool text = false;
    std::uint32_t align = 16;
};

// `word` as an alignment: decimal digits giving a power of two up to 4096 (the caller says
// why not, naming where it was).
bool parse_alignment(const std::string& word, std::uint32_t& align);

struct Names {
    std::string header;
    std::string array;
};
// The names of `relative`; refuses a name no build file can carry (a control character).
bool names_of(const std::string& relative, Names& names);
// Whether `path` ends at the header `names` give, below some folder; says so where not.
bool placed_right(const std::string& path, const Names& names);

struct Input {
    File file;
    platform::InputFacts facts;
};

// Opens `path` for reading; refuses a folder, and a FIFO or device (nothing to wait on).
bool open_input(const std::string& path, Input& input);
// The whole of `path`.
bool read_whole(const std::string& path, std::string& bytes);
// Shown the bytes of an input as they are read, a block at a time.
using Seen = std::function<void(std::string_view)>;

// Copies exactly the input's size to `out`, but the first `skip` bytes, showing them to `seen`;
// fewer or more means it changed while it was read.
bool copy_input(const std::string& path, Input& input, const std::string& object, std::FILE* out,
                const Seen& seen = {}, std::uint64_t skip = 0);
// Copies the next `size` bytes of the input (an output of an earlier run) to `out`.
bool copy_next(const std::string& path, Input& input, std::uint64_t size, const std::string& to,
               std::FILE* out);
// Writes the input's bytes to `out` as the C array `array` (and a 0 item after them where
// `nul_after`), each line ended by `line_end`; says what failed, and when the input changed
// while it was read.
bool write_array_text(const std::string& path, Input& input, const std::string& to, std::FILE* out,
                      const std::string& array, std::string_view line_end, bool nul_after,
                      const Seen& seen = {});
// Writes `bytes` to `out`, or says `path` could not be written.
bool put(std::FILE* out, const std::string& bytes, const std::string& path);
// Prints `text` on standard output, flushed, or says why it could not be (a full disk, a reader
// that went away).
bool print_out(const std::string& text);

// Writes `path` through `write`, replacing what was there only once all of it is written.
bool write_file(const std::string& path, const platform::FileId& input,
                const std::function<bool(std::FILE*)>& write);
// Writes `text` at `path` unless it holds that already.
bool write_text(const std::string& path, const std::string& text,
                const platform::FileId& input = platform::FileId{});

// `text` cut at each `separator`: one field more than there are separators.
std::vector<std::string> split(const std::string& text, char separator);
// Appends which version of a file a look saw (its size, times and identity, each number followed
// by `after`) to `out`; the step's record and cache both key what they keep by it.
std::string& append_version(std::string& out, const platform::InputFacts& facts, char after);

// The folder part of `path`, with its last separator ('/' or '\\'); empty for a bare name.
std::string folder_of(const std::string& path);

// The target read off a probe: an object, or an archive (thin ones too) holding one.
bool read_probe(const std::string& path, ObjectTarget& target);

} // namespace vormesta::step
