// vormesta-step: the build step every build integration runs. It names headers and arrays with
// the tool's own rule, writes the tool's header for a file, and writes a file's bytes straight
// into an object for the target's linker, with the declaration callers include. No compiler or
// assembler ever reads the data, so no compiler cache, distributed compiler or LTO can serve
// other bytes than the file's own.
#include "array_writer.hpp"
#include "compress.hpp"
#include "library_build.hpp"
#include "library_index.hpp"
#include "naming.hpp"
#include "object_file.hpp"
#include "platform.hpp"
#include "step_io.hpp"
#include "web_forms.hpp"

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
using namespace vormesta::step;

const char usage[] =
    "usage: vormesta-step names RELATIVE...\n"
    "       vormesta-step probe OBJECT\n"
    "       vormesta-step codings\n"
    "       vormesta-step forms INPUT RELATIVE MADE CODING...\n"
    "       vormesta-step probe-source SOURCE\n"
    "       vormesta-step embed INPUT RELATIVE HEADER\n"
    "       vormesta-step object [--text] [--align N] [--library NAME] [--linker gnu-ld]\n"
    "                            PROBE INPUT RELATIVE OBJECT [DECLARATION]\n"
    "       vormesta-step declare [--text] INPUT RELATIVE DECLARATION [INPUT RELATIVE ...]\n"
    "       vormesta-step index LIBRARY LIST SOURCE HEADER\n"
    "       vormesta-step index LIBRARY - SOURCE HEADER [INPUT RELATIVE KIND]...\n"
    "       vormesta-step library SETTINGS\n"
    "       vormesta-step library - [LINE]...\n"
    "codings: the content codings this build compresses with (gzip, br, zstd), or none.\n"
    "forms: INPUT compressed with each CODING into MADE.<coding>, empty where not worth\n"
    "keeping, for a library step told \"forms RELATIVE MADE\".\n"
    "RELATIVE is the input's path below its base: it names the array and the header.\n"
    "--text puts a NUL after the bytes; --align N aligns them to N (a power of two to 4096).\n"
    "--library NAME: the file is reached through library NAME's index (objects of one library\n"
    "must all say so).\n"
    "--linker gnu-ld: the object goes to GNU ld for Windows (MinGW), which is told to keep its\n"
    "arrays out of a DLL's exports.\n"
    "LIST holds a line per file of the library: INPUT, RELATIVE and text or bytes, by tabs.\n"
    "SETTINGS describes a library of listed files and folders, a setting a line; with -, the\n"
    "lines follow as arguments. See README.md, \"The library step\".\n";

// What a file's object holds besides its bytes.
struct Options {
    ByteLayout bytes;
    std::string library; // the library whose symbol the object defines
    bool gnu_ld = false; // the object goes to GNU ld for Windows
};

// Takes the options that lead `args`; false for one it does not know.
bool take_options(std::vector<std::string>& args, Options& options) {
    while (!args.empty() && args[0].rfind("--", 0) == 0) {
        if (args[0] == "--text") {
            options.bytes.text = true;
            args.erase(args.begin());
            continue;
        }
        if (args[0] == "--linker" && args.size() >= 2 && args[1] == "gnu-ld") {
            options.gnu_ld = true;
            args.erase(args.begin(), args.begin() + 2);
            continue;
        }
        if (args[0] == "--library" && args.size() >= 2) {
            options.library = args[1];
            args.erase(args.begin(), args.begin() + 2);
            continue;
        }
        if (args[0] != "--align" || args.size() < 2)
            return fail(args[0], "is no option here");
        if (!parse_alignment(args[1], options.bytes.align))
            return fail(args[1], "is no alignment: a power of two up to 4096");
        args.erase(args.begin(), args.begin() + 2);
    }
    return true;
}

// The declaration callers include: the bound makes `sizeof` work, C linkage matches the object's
// symbol. Rewritten only when its text changes, so that callers compile again only when the
// size does. A text file's bound holds its NUL.
bool declare(const std::string& path, const Names& names, const std::string& relative,
             std::uint64_t size, const platform::FileId& input) {
    if (!placed_right(path, names))
        return false;
    // Its folder is made, as the library step makes its declarations' (a make rule names the
    // header alone).
    if (!platform::make_folders(folder_of(path)))
        return fail(path, std::string("cannot be made: ") + std::strerror(errno));
    return write_text(path, vormesta::declaration_text(relative, names.array, size), input);
}

bool has_data(const std::string& path, const Input& input) {
    return input.facts.is_regular ||
           fail(path, "is not a regular file: its size is not known before it is read");
}

int names_command(int argc, char** argv) {
    bool all = true;
    std::string lines;
    for (int i = 2; i < argc; ++i) {
        Names names;
        if (names_of(argv[i], names))
            lines += names.header + '\t' + names.array + '\n';
        else
            all = false;
    }
    return print_out(lines) && all ? 0 : 1;
}

int probe_command(const std::string& path) {
    vormesta::ObjectTarget target;
    return read_probe(path, target) && print_out(vormesta::describe(target) + '\n') ? 0 : 1;
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
        return write_array_text(path, input, header, out, names.array, platform::line_end, false);
    });
    return written ? 0 : 1;
}

int object_command(const Options& options, const std::string& probe, const std::string& path,
                   const std::string& relative, const std::string& object,
                   const char* declaration) {
    Names names;
    Input input;
    vormesta::ObjectTarget target;
    std::string refused;
    if (!names_of(relative, names) || !read_probe(probe, target) || !open_input(path, input) ||
        !has_data(path, input))
        return 1;
    // Declared in a library, its array must not be one of the index's functions.
    if (!options.library.empty() && declaration &&
        !vormesta::array_allowed(options.library, names.array, refused))
        return fail(path, refused) ? 0 : 1;
    target.gnu_ld = options.gnu_ld;
    const std::uint64_t size = vormesta::array_size(input.facts.size, options.bytes.text);
    // A file of a library is reached through the library's own symbol; its array name is
    // defined too where a declaration names it.
    std::vector<vormesta::ObjectSymbol> symbols;
    if (!options.library.empty())
        symbols.push_back({vormesta::library_file_symbol(options.library, relative), 0, size});
    if (options.library.empty() || declaration)
        symbols.push_back({names.array, 0, size});
    vormesta::ObjectLayout layout;
    if (!vormesta::lay_out_object(target, symbols, size, options.bytes.align, layout, refused))
        return fail(path, refused) ? 0 : 1;
    // The text's NUL (or an empty file's one byte) comes right after the file's bytes.
    const std::string nul(size - input.facts.size, '\0');
    const bool written = write_file(object, input.facts.id, [&](std::FILE* out) {
        return put(out, layout.before, object) && copy_input(path, input, object, out) &&
               put(out, nul, object) && put(out, layout.after, object);
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
              declare(args[i + 2], names, args[i + 1],
                      vormesta::array_size(input.facts.size, options.bytes.text), input.facts.id) &&
              all;
    }
    return all ? 0 : 1;
}

// A file's compressed forms, one step per file (Bazel caches each): "MADE.<coding>" for each
// coding asked, empty where the form is not worth keeping; the library step takes them.
int forms_command(const std::string& path, const std::string& relative, const std::string& premade,
                  const std::vector<std::string>& names) {
    unsigned asked = 0;
    for (const std::string& name : names) {
        vormesta::Coding coding;
        if (!vormesta::coding_named(name, coding) || !vormesta::coding_available(coding))
            return fail(name, "is not a coding this vormesta-step has (it has: " +
                                  vormesta::available_codings() + ")")
                       ? 0
                       : 1;
        asked |= 1u << static_cast<unsigned>(coding);
    }
    return vormesta::write_forms(path, relative, asked, premade) ? 0 : 1;
}

int run(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "names" && argc > 2)
        return names_command(argc, argv);
    if (command == "probe" && argc == 3)
        return probe_command(argv[2]);
    if (command == "forms" && argc >= 6)
        return forms_command(argv[2], argv[3], argv[4],
                             std::vector<std::string>(argv + 5, argv + argc));
    if (command == "codings" && argc == 2)
        return print_out(vormesta::available_codings() + '\n') ? 0 : 1;
    if (command == "probe-source" && argc == 3)
        return probe_source_command(argv[2]);
    if (command == "embed" && argc == 5)
        return embed_command(argv[2], argv[3], argv[4]);
    std::vector<std::string> args(argv + std::min(argc, 2), argv + argc);
    Options options;
    if ((command == "object" || command == "declare") && !take_options(args, options))
        return 2;
    if (command == "object" && (args.size() == 4 || args.size() == 5))
        return object_command(options, args[0], args[1], args[2], args[3],
                              args.size() == 5 ? args[4].c_str() : nullptr);
    if (command == "declare" && !args.empty() && args.size() % 3 == 0)
        return declare_command(options, args);
    if (command == "library" && (args.size() == 1 || (!args.empty() && args[0] == "-")))
        return vormesta::library_command(args[0],
                                         std::vector<std::string>(args.begin() + 1, args.end()));
    if (command == "index" && (args.size() == 4 || (args.size() % 3 == 1 && args[1] == "-")))
        return vormesta::index_command(args[0], args[1], args[2], args[3],
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
