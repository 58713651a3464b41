// vormesta-step: the build step every build integration runs. It names headers and arrays with
// the tool's own rule, writes the tool's header for a file, and writes a file's bytes straight
// into an object for the target's linker, with the declaration callers include. No compiler or
// assembler ever reads the data, so no compiler cache, distributed compiler or LTO can serve
// other bytes than the file's own.
#include "array_writer.hpp"
#include "naming.hpp"
#include "object_file.hpp"
#include "output.hpp"
#include "platform.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace platform = vormesta::platform;

const char usage[] =
    "usage: vormesta-step names RELATIVE...\n"
    "       vormesta-step probe OBJECT\n"
    "       vormesta-step probe-source SOURCE\n"
    "       vormesta-step embed INPUT RELATIVE HEADER\n"
    "       vormesta-step object [--text] [--align N] PROBE INPUT RELATIVE OBJECT [DECLARATION]\n"
    "       vormesta-step declare [--text] INPUT RELATIVE DECLARATION [INPUT RELATIVE ...]\n"
    "       vormesta-step index LIBRARY LIST SOURCE HEADER\n"
    "       vormesta-step index LIBRARY - SOURCE HEADER [INPUT RELATIVE KIND]...\n"
    "RELATIVE is the input's path below its base: it names the array and the header.\n"
    "--text puts a NUL after the bytes; --align N aligns them to N (a power of two to 4096).\n"
    "LIST holds a line per file of the library: INPUT, RELATIVE and text or bytes, by tabs.\n";

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Errors as the classic tools give them: the program, the file, what went wrong.
bool fail(const std::string& file, const std::string& message) {
    std::fprintf(stderr, "vormesta-step: %s: %s\n", file.c_str(), message.c_str());
    return false;
}

struct Names {
    std::string header;
    std::string array;
};

// A character no build file can carry in a name: control characters (a newline ends a line in
// every build file there is).
bool acceptable(const std::string& relative) {
    for (const char c : relative) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char code[8];
            std::snprintf(code, sizeof code, "0x%02X", byte);
            return fail(relative, std::string("holds the control character ") + code +
                                      ", which no build file can name; rename it");
        }
    }
    if (relative.empty())
        return fail(relative, "is no path");
    return true;
}

bool names_of(const std::string& relative, Names& names) {
    if (!acceptable(relative))
        return false;
    const std::size_t base = vormesta::find_base_length(relative);
    names.header = vormesta::make_output_path(relative, base);
    names.array = vormesta::make_array_name(relative, base);
    if (names.header == relative)
        return fail(relative, "would be its own header; give it another extension");
    return true;
}

// Whether `path` is `tail`, or `tail` below some folder (either separator counts), so that a build
// file's idea of where the header goes never differs from the tool's.
bool ends_with_path(const std::string& path, const std::string& tail) {
    if (path.size() < tail.size() ||
        (path.size() > tail.size() && !vormesta::is_separator(path[path.size() - tail.size() - 1])))
        return false;
    for (std::size_t i = 0; i < tail.size(); ++i) {
        const char a = path[path.size() - tail.size() + i];
        if (a != tail[i] && !(vormesta::is_separator(a) && vormesta::is_separator(tail[i])))
            return false;
    }
    return true;
}

bool placed_right(const std::string& path, const Names& names) {
    return ends_with_path(path, names.header) ||
           fail(path, "is not " + names.header + " below a folder, where the header belongs");
}

struct Input {
    File file;
    platform::InputFacts facts;
};

bool open_input(const std::string& path, Input& input) {
    input.file.reset(platform::open_input(path.c_str()));
    if (!input.file)
        return fail(path, std::strerror(errno));
    if (!platform::inspect_input(input.file.get(), input.facts) || input.facts.is_directory)
        return fail(path, "cannot be read as a file");
    return true;
}

bool read_whole(const std::string& path, std::string& bytes) {
    Input input;
    if (!open_input(path, input))
        return false;
    char block[65536];
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof block, input.file.get())) > 0)
        bytes.append(block, got);
    // The end only where the stream says so: a read can fail unflagged.
    return (std::feof(input.file.get()) && !std::ferror(input.file.get())) ||
           fail(path, "could not be read");
}

// Writes `path` through `write`, replacing what was there only once all of it is written.
template <typename Write>
bool write_file(const std::string& path, const platform::FileId& input, Write write) {
    vormesta::Output out;
    switch (out.open(path.c_str(), input)) {
    case vormesta::Output::Opened::ok:
        break;
    case vormesta::Output::Opened::is_input:
        return fail(path, "is the input itself");
    case vormesta::Output::Opened::failed:
        return fail(path, "cannot be written");
    case vormesta::Output::Opened::out_of_memory:
        return fail(path, "out of memory");
    }
    if (!write(out.file()))
        return false;
    return out.commit() || fail(path, "could not be written");
}

bool is_same_text(const std::string& path, const std::string& text) {
    File file(platform::open_input(path.c_str()));
    if (!file)
        return false;
    std::string now(text.size() + 1, '\0');
    const std::size_t got = std::fread(now.data(), 1, now.size(), file.get());
    return got == text.size() && now.compare(0, got, text) == 0;
}

// A comment may not end early, nor hold a trigraph.
std::string as_comment(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if ((c == '/' && !out.empty() && out.back() == '*') ||
            (c == '?' && !out.empty() && out.back() == '?'))
            out += '_';
        out += c;
    }
    return out;
}

// What a file's object holds besides its bytes.
struct Options {
    bool text = false;        // a NUL after the bytes, in the array's bound
    std::uint32_t align = 16; // the bytes' alignment
};

// Takes the options that lead `args`; false for one it does not know.
bool take_options(std::vector<std::string>& args, Options& options) {
    while (!args.empty() && args[0].rfind("--", 0) == 0) {
        if (args[0] == "--text") {
            options.text = true;
            args.erase(args.begin());
            continue;
        }
        if (args[0] != "--align" || args.size() < 2)
            return fail(args[0], "is no option here");
        const unsigned long align = std::strtoul(args[1].c_str(), nullptr, 10);
        if (align == 0 || align > 4096 || (align & (align - 1)) != 0)
            return fail(args[1], "is no alignment: a power of two up to 4096");
        options.align = static_cast<std::uint32_t>(align);
        args.erase(args.begin(), args.begin() + 2);
    }
    return true;
}

// Writes `text` at `path` unless it holds that already.
bool write_text(const std::string& path, const std::string& text, const platform::FileId& input) {
    if (is_same_text(path, text))
        return true;
    return write_file(path, input, [&](std::FILE* out) {
        return std::fwrite(text.data(), 1, text.size(), out) == text.size() ||
               fail(path, "could not be written");
    });
}

// The declaration callers include: the bound makes `sizeof` work, C linkage matches the object's
// symbol. Rewritten only when its text changes, so that callers compile again only when the
// size does. A text file's bound holds its NUL.
bool declare(const std::string& path, const Names& names, const std::string& relative,
             std::uint64_t size, const platform::FileId& input) {
    if (!placed_right(path, names))
        return false;
    const std::string guard = "VORMESTA_DECLARES_" + names.array;
    const std::string text = "/* The bytes of " + as_comment(relative) +
                             ", embedded by vormesta. */\n#ifndef " + guard + "\n#define " + guard +
                             "\n#ifdef __cplusplus\nextern \"C\" {\n#endif\n"
                             "extern const unsigned char " +
                             names.array + "[" + std::to_string(size) +
                             "];\n#ifdef __cplusplus\n}\n#endif\n#endif\n";
    return write_text(path, text, input);
}

bool has_data(const std::string& path, const Input& input) {
    if (!input.facts.is_regular)
        return fail(path, "is not a regular file: its size is not known before it is read");
    if (input.facts.size == 0)
        return fail(path, "is empty, and C has no arrays of size 0");
    return true;
}

// Copies exactly the input's size in bytes; fewer or more means it changed while it was read.
bool copy_data(const std::string& path, Input& input, const std::string& object, std::FILE* out) {
    std::vector<char> block(1 << 20);
    std::uint64_t copied = 0;
    std::size_t got;
    while ((got = std::fread(block.data(), 1, block.size(), input.file.get())) > 0) {
        copied += got;
        if (copied > input.facts.size)
            break;
        if (std::fwrite(block.data(), 1, got, out) != got)
            return fail(object, "could not be written");
    }
    if (std::ferror(input.file.get()))
        return fail(path, "could not be read");
    if (copied != input.facts.size ||
        !platform::input_unchanged(input.file.get(), input.facts, copied))
        return fail(path, "changed while it was read");
    return true;
}

int names_command(int argc, char** argv) {
    bool all = true;
    for (int i = 2; i < argc; ++i) {
        Names names;
        if (names_of(argv[i], names))
            std::printf("%s\t%s\n", names.header.c_str(), names.array.c_str());
        else
            all = false;
    }
    return all && std::fflush(stdout) == 0 ? 0 : 1;
}

bool read_probe(const std::string& path, vormesta::ObjectTarget& target) {
    std::string bytes;
    std::string seen;
    if (!read_whole(path, bytes))
        return false;
    // A thin archive (Meson makes them) names its objects instead of holding them.
    std::string member;
    if (vormesta::first_thin_member(bytes, member)) {
        const std::size_t folder = path.find_last_of("/\\");
        if (!vormesta::is_separator(member[0]) && folder != std::string::npos)
            member = path.substr(0, folder + 1) + member;
        bytes.clear();
        if (!read_whole(member, bytes))
            return false;
    }
    return vormesta::read_object_target(bytes, target, seen) ||
           fail(path, "cannot be matched: " + seen);
}

int probe_command(const std::string& path) {
    vormesta::ObjectTarget target;
    if (!read_probe(path, target))
        return 1;
    std::printf("%s\n", vormesta::describe(target).c_str());
    return 0;
}

// The source the target's compiler makes the probe from (as C; C++ compiles it too).
int probe_source_command(const std::string& path) {
    const std::string text = "#ifdef __cplusplus\nextern \"C\"\n#endif\nconst unsigned char " +
                             std::string(vormesta::probe_symbol) + "[1] = {1};\n";
    return write_text(path, text, platform::FileId{}) ? 0 : 1;
}

int embed_command(const std::string& path, const std::string& relative, const std::string& header) {
    Names names;
    Input input;
    if (!names_of(relative, names) || !placed_right(header, names) || !open_input(path, input))
        return 1;
    const bool written = write_file(header, input.facts.id, [&](std::FILE* out) {
        std::uint64_t read = 0;
        switch (vormesta::write_array(input.file.get(), out, names.array, platform::line_end,
                                      input.facts.size, &read)) {
        case vormesta::WriteResult::ok:
            return platform::input_unchanged(input.file.get(), input.facts, read) ||
                   fail(path, "changed while it was read");
        case vormesta::WriteResult::read_failed:
            return fail(path, "could not be read");
        case vormesta::WriteResult::out_of_memory:
            return fail(header, "out of memory");
        case vormesta::WriteResult::write_failed:
            break;
        }
        return fail(header, "could not be written");
    });
    return written ? 0 : 1;
}

int object_command(const Options& options, const std::string& probe, const std::string& path,
                   const std::string& relative, const std::string& object,
                   const char* declaration) {
    Names names;
    Input input;
    vormesta::ObjectTarget target;
    if (!names_of(relative, names) || !read_probe(probe, target) || !open_input(path, input) ||
        !has_data(path, input))
        return 1;
    const std::uint64_t size = input.facts.size + (options.text ? 1 : 0);
    vormesta::ObjectLayout layout;
    std::string refused;
    if (!vormesta::lay_out_object(target, names.array, size, options.align, layout, refused))
        return fail(path, refused), 1;
    // The text's NUL comes right after the file's bytes, inside the array.
    const std::string nul = options.text ? std::string(1, '\0') : std::string();
    const bool written = write_file(object, input.facts.id, [&](std::FILE* out) {
        auto put = [&](const std::string& bytes) {
            return std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size() ||
                   fail(object, "could not be written");
        };
        return put(layout.before) && copy_data(path, input, object, out) && put(nul) &&
               put(layout.after);
    });
    if (!written)
        return 1;
    return !declaration || declare(declaration, names, relative, size, input.facts.id) ? 0 : 1;
}

// Each (INPUT RELATIVE DECLARATION) in turn: many files in one run while configuring.
int declare_command(const Options& options, const std::vector<std::string>& args) {
    bool all = true;
    for (std::size_t i = 0; i + 2 < args.size(); i += 3) {
        Names names;
        Input input;
        all = names_of(args[i + 1], names) && open_input(args[i], input) &&
              has_data(args[i], input) &&
              declare(args[i + 2], names, args[i + 1], input.facts.size + (options.text ? 1 : 0),
                      input.facts.id) &&
              all;
    }
    return all ? 0 : 1;
}

// A path as a C string literal: octal escapes for all but plain printable ASCII, so that no
// trigraph, quote or backslash is read as anything but itself.
std::string c_string(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && c != '"' && c != '\\' && c != '?') {
            out += c;
            continue;
        }
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\%03o", byte);
        out += escaped;
    }
    return out + "\"";
}

std::string index_header(const std::string& library, const std::string& id) {
    const std::string guard = "VORMESTA_LIBRARY_" + id + "_H";
    return "/* The files of library " + as_comment(library) +
           ", embedded by vormesta: found by their paths below the base, or walked in order. */\n"
           "#ifndef " +
           guard + "\n#define " + guard +
           "\n#include <stddef.h>\n"
           "#ifndef VORMESTA_FILE_DEFINED\n#define VORMESTA_FILE_DEFINED\n"
           "struct vormesta_file {\n    const char* path; /* below the base, '/' between folders "
           "*/\n"
           "    const unsigned char* data;\n    size_t size; /* a text file's NUL not counted "
           "*/\n};\n"
           "#endif\n#ifdef __cplusplus\nextern \"C\" {\n#endif\n"
           "/* The file at `path`, or null. */\n"
           "const struct vormesta_file* " +
           id +
           "_find(const char* path);\n"
           "size_t " +
           id +
           "_count(void);\n"
           "/* The files sorted by path (byte by byte), for i below the count; null past it. */\n"
           "const struct vormesta_file* " +
           id +
           "_at(size_t i);\n"
           "#ifdef __cplusplus\n}\n#include \"vormesta/files.hpp\"\n"
           "inline const vormesta::files " +
           id + "_files{&" + id + "_count, &" + id +
           "_at};\n"
           "#endif\n#endif\n";
}

// The C++ view of any library, written once beside the libraries' headers.
const char files_header[] =
    R"(/* A library of files embedded by vormesta, for C++: a sorted range of vormesta_file. */
#ifndef VORMESTA_FILES_HPP
#define VORMESTA_FILES_HPP
#include <cstddef>
#include <string_view>
#if __has_include(<span>) && (__cplusplus >= 202002L || (defined(_MSVC_LANG) && _MSVC_LANG >= 202002L))
#include <span>
#define VORMESTA_HAS_SPAN 1
#endif
namespace vormesta {
class files {
  public:
    constexpr files(std::size_t (*count)(), const vormesta_file* (*at)(std::size_t))
        : count_(count), at_(at) {}
    std::size_t size() const { return count_(); }
    const vormesta_file* begin() const { return at_(0); }
    const vormesta_file* end() const { return begin() + size(); }
    const vormesta_file& operator[](std::size_t i) const { return *at_(i); }
    // The file at `path` below the base, or null: a binary search, by bytes.
    const vormesta_file* find(std::string_view path) const {
        const vormesta_file* first = begin();
        std::size_t count = size();
        while (count > 0) {
            const std::size_t half = count / 2;
            if (std::string_view(first[half].path) < path) {
                first += half + 1;
                count -= half + 1;
            } else {
                count = half;
            }
        }
        return first != end() && path == first->path ? first : nullptr;
    }

  private:
    std::size_t (*count_)();
    const vormesta_file* (*at_)(std::size_t);
};
// The bytes as text, without a text file's NUL.
inline std::string_view text(const vormesta_file& file) {
    return {reinterpret_cast<const char*>(file.data), file.size};
}
#ifdef VORMESTA_HAS_SPAN
inline std::span<const unsigned char> bytes(const vormesta_file& file) {
    return {file.data, file.size};
}
#endif
} // namespace vormesta
#endif
)";

// The index of a library: its header, the C++ view, and the source of its table, sorted by path,
// each written only when its text changes. The table names each array with its size, so it is
// compiled again only when a size or the set of files changes; it never holds the bytes.
int index_command(const std::string& library, const std::string& list, const std::string& source,
                  const std::string& header, const std::vector<std::string>& more) {
    // "-": the files follow as arguments, three for each (for build systems that write no
    // files while configuring).
    std::string listed;
    if (list != "-" && !read_whole(list, listed))
        return 1;
    for (std::size_t i = 0; list == "-" && i + 2 < more.size(); i += 3)
        listed += more[i] + '\t' + more[i + 1] + '\t' + more[i + 2] + '\n';
    struct Entry {
        std::string relative;
        Names names;
        std::uint64_t size; // the array's, a text file's NUL included
        bool text;
    };
    std::vector<Entry> entries;
    for (std::size_t at = 0, end; at < listed.size(); at = end + 1) {
        end = std::min(listed.find('\n', at), listed.size());
        const std::string line = listed.substr(at, end - at);
        const std::size_t first = line.find('\t');
        const std::size_t last = line.rfind('\t');
        if (line.empty())
            continue;
        if (first == last)
            return fail(list, "holds a line that is not INPUT, RELATIVE and KIND"), 1;
        Entry entry{
            line.substr(first + 1, last - first - 1), {}, 0, line.substr(last + 1) == "text"};
        Input input;
        const std::string path = line.substr(0, first);
        if (!names_of(entry.relative, entry.names) || !open_input(path, input) ||
            !has_data(path, input))
            return 1;
        entry.size = input.facts.size + (entry.text ? 1 : 0);
        entries.push_back(std::move(entry));
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.relative < b.relative; });
    const std::string id = vormesta::make_identifier(library);
    std::string text = "/* The index of library " + as_comment(library) +
                       ", embedded by vormesta. */\n#include <stdlib.h>\n#include <string.h>\n"
                       "#include \"vormesta/" +
                       library +
                       ".h\"\n"
                       "#ifdef __cplusplus\nextern \"C\" {\n#endif\n";
    for (const Entry& entry : entries)
        text += "extern const unsigned char " + entry.names.array + "[" +
                std::to_string(entry.size) + "];\n";
    text += "#ifdef __cplusplus\n}\n#endif\n"
            "static const struct vormesta_file vormesta_files[" +
            std::to_string(std::max<std::size_t>(entries.size(), 1)) + "] = {\n";
    for (const Entry& entry : entries)
        text += "    {" + c_string(entry.relative) + ", " + entry.names.array + ", " +
                std::to_string(entry.size - (entry.text ? 1 : 0)) + "},\n";
    if (entries.empty())
        text += "    {0, 0, 0},\n";
    const std::string count = std::to_string(entries.size());
    text += "};\n"
            "static int vormesta_order(const void* path, const void* file) {\n"
            "    return strcmp((const char*)path, ((const struct vormesta_file*)file)->path);\n}\n"
            "const struct vormesta_file* " +
            id +
            "_find(const char* path) {\n"
            "    return path ? (const struct vormesta_file*)bsearch(path, vormesta_files, " +
            count +
            ", sizeof vormesta_files[0], vormesta_order) : 0;\n}\n"
            "size_t " +
            id + "_count(void) {\n    return " + count +
            ";\n}\n"
            "const struct vormesta_file* " +
            id +
            "_at(size_t i) {\n"
            "    return i < " +
            count + " ? &vormesta_files[i] : 0;\n}\n";
    const std::size_t folder = header.find_last_of("/\\");
    const std::string beside = folder == std::string::npos ? "" : header.substr(0, folder + 1);
    return write_text(header, index_header(library, id), platform::FileId{}) &&
                   write_text(beside + "files.hpp", files_header, platform::FileId{}) &&
                   write_text(source, text, platform::FileId{})
               ? 0
               : 1;
}

int run(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "names" && argc > 2)
        return names_command(argc, argv);
    if (command == "probe" && argc == 3)
        return probe_command(argv[2]);
    if (command == "probe-source" && argc == 3)
        return probe_source_command(argv[2]);
    if (command == "embed" && argc == 5)
        return embed_command(argv[2], argv[3], argv[4]);
    std::vector<std::string> args(argv + 2, argv + argc);
    Options options;
    if ((command == "object" || command == "declare") && !take_options(args, options))
        return 2;
    if (command == "object" && (args.size() == 4 || args.size() == 5))
        return object_command(options, args[0], args[1], args[2], args[3],
                              args.size() == 5 ? args[4].c_str() : nullptr);
    if (command == "declare" && !args.empty() && args.size() % 3 == 0)
        return declare_command(options, args);
    if (command == "index" && (args.size() == 4 || (args.size() % 3 == 1 && args[1] == "-")))
        return index_command(args[0], args[1], args[2], args[3],
                             std::vector<std::string>(args.begin() + 4, args.end()));
    std::fputs(usage, stderr);
    return 2;
}

} // namespace

int main(int argc, char* argv[]) {
    platform::handle_stops();
    if (!platform::utf8_arguments(argc, argv)) {
        std::fputs("vormesta-step: out of memory\n", stderr);
        return 1;
    }
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fputs("vormesta-step: out of memory\n", stderr);
        return 1;
    }
}
