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

#include <cerrno>
#include <cstdint>
#include <cstdio>
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
    "       vormesta-step object PROBE INPUT RELATIVE OBJECT [DECLARATION]\n"
    "       vormesta-step declare INPUT RELATIVE DECLARATION\n"
    "RELATIVE is the input's path below its base: it names the array and the header.\n";

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

bool is_separator(char c) {
    return c == '/' || c == '\\';
}

// Whether `path` is `tail`, or `tail` below some folder (either separator counts), so that a build
// file's idea of where the header goes never differs from the tool's.
bool ends_with_path(const std::string& path, const std::string& tail) {
    if (path.size() < tail.size() ||
        (path.size() > tail.size() && !is_separator(path[path.size() - tail.size() - 1])))
        return false;
    for (std::size_t i = 0; i < tail.size(); ++i) {
        const char a = path[path.size() - tail.size() + i];
        if (a != tail[i] && !(is_separator(a) && is_separator(tail[i])))
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
    return !std::ferror(input.file.get()) || fail(path, "could not be read");
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

// The declaration callers include: the bound makes `sizeof` work, C linkage matches the object's
// symbol. Rewritten only when its text changes, so that callers compile again only when the
// size does.
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
    if (is_same_text(path, text))
        return true;
    return write_file(path, input, [&](std::FILE* out) {
        return std::fwrite(text.data(), 1, text.size(), out) == text.size() ||
               fail(path, "could not be written");
    });
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
        if (!is_separator(member[0]) && folder != std::string::npos)
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
    return write_file(path, platform::FileId{},
                      [&](std::FILE* out) {
                          return std::fwrite(text.data(), 1, text.size(), out) == text.size() ||
                                 fail(path, "could not be written");
                      })
               ? 0
               : 1;
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

int object_command(const std::string& probe, const std::string& path, const std::string& relative,
                   const std::string& object, const char* declaration) {
    Names names;
    Input input;
    vormesta::ObjectTarget target;
    if (!names_of(relative, names) || !read_probe(probe, target) || !open_input(path, input) ||
        !has_data(path, input))
        return 1;
    vormesta::ObjectLayout layout;
    std::string refused;
    if (!vormesta::lay_out_object(target, names.array, input.facts.size, 16, layout, refused))
        return fail(path, refused), 1;
    const bool written = write_file(object, input.facts.id, [&](std::FILE* out) {
        auto put = [&](const std::string& bytes) {
            return std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size() ||
                   fail(object, "could not be written");
        };
        return put(layout.before) && copy_data(path, input, object, out) && put(layout.after);
    });
    if (!written)
        return 1;
    return !declaration || declare(declaration, names, relative, input.facts.size, input.facts.id)
               ? 0
               : 1;
}

int declare_command(const std::string& path, const std::string& relative,
                    const std::string& declaration) {
    Names names;
    Input input;
    if (!names_of(relative, names) || !open_input(path, input) || !has_data(path, input))
        return 1;
    return declare(declaration, names, relative, input.facts.size, input.facts.id) ? 0 : 1;
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
    if (command == "object" && (argc == 6 || argc == 7))
        return object_command(argv[2], argv[3], argv[4], argv[5], argc == 7 ? argv[6] : nullptr);
    if (command == "declare" && argc == 5)
        return declare_command(argv[2], argv[3], argv[4]);
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
