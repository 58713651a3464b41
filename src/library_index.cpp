#include "library_index.hpp"

#include "media_type.hpp"
#include "naming.hpp"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace vormesta {

std::string library_identifier(const std::string& library) {
    return make_identifier(library);
}

std::string library_data_symbol(const std::string& library) {
    return "vormesta_" + library_identifier(library) + "_data";
}

std::string library_table_symbol(const std::string& library) {
    return "vormesta_" + library_identifier(library) + "_table";
}

// FNV-1a over the path: a file's symbol is the library's and the path's, whatever its name.
std::string library_file_symbol(const std::string& library, const std::string& relative) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const char c : relative) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3u;
    }
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
    return "vormesta_" + library_identifier(library) + "_f" + digits;
}

bool array_allowed(const std::string& library, const std::string& array, std::string& refused) {
    const std::string id = library_identifier(library);
    for (const char* word : {"_find", "_count", "_at", "_below", "_files"})
        if (array == id + word) {
            refused = "its array " + array + " is a function of library " + library +
                      "'s index; rename the file";
            return false;
        }
    return true;
}

EntryList entry_list(const std::vector<IndexEntry>& entries) {
    EntryList list;
    list.reserve(entries.size());
    for (const IndexEntry& entry : entries)
        list.push_back(&entry);
    return list;
}

bool sort_entries(const std::string& library, std::vector<IndexEntry>& entries,
                  std::string& refused) {
    std::sort(entries.begin(), entries.end(),
              [](const IndexEntry& a, const IndexEntry& b) { return a.relative < b.relative; });
    return refuse_clashes(library, entry_list(entries), refused);
}

bool refuse_clashes(const std::string& library, const EntryList& sorted, std::string& refused) {
    for (std::size_t i = 1; i < sorted.size(); ++i)
        if (sorted[i]->relative == sorted[i - 1]->relative) {
            refused = sorted[i]->from + ": " + sorted[i]->relative + " is in library " + library +
                      " twice (" + sorted[i - 1]->from + ")";
            return false;
        }
    std::vector<const IndexEntry*> declared;
    for (const IndexEntry* entry : sorted)
        if (!entry->array.empty())
            declared.push_back(entry);
    std::sort(declared.begin(), declared.end(),
              [](const IndexEntry* a, const IndexEntry* b) { return a->array < b->array; });
    for (std::size_t i = 0; i < declared.size(); ++i) {
        if (!array_allowed(library, declared[i]->array, refused)) {
            refused = declared[i]->from + ": " + refused;
            return false;
        }
        if (i > 0 && declared[i]->array == declared[i - 1]->array) {
            refused = declared[i - 1]->from + " and " + declared[i]->from +
                      " both give the array " + declared[i]->array + "; rename one of them";
            return false;
        }
    }
    return true;
}

namespace {

// The walk's rules, one implementation for the step and for a live library in a program.
#include "index/rules.c"

} // namespace

bool left_out(const std::string& name, bool hidden) {
    return vormesta_left_out(name.c_str(), hidden) != 0;
}

bool pattern_matches(const std::string& pattern, const std::string& relative) {
    return vormesta_pattern_matches(pattern.c_str(), relative.c_str()) != 0;
}

namespace {

std::vector<const char*> null_ended(const std::vector<std::string>& strings) {
    std::vector<const char*> pointers;
    for (const std::string& text : strings)
        pointers.push_back(text.c_str());
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

WalkRules::WalkRules(const std::vector<std::string>& patterns,
                     const std::vector<std::string>& excludes,
                     const std::vector<std::string>& skipped, bool hidden)
    : patterns_(null_ended(patterns)), excludes_(null_ended(excludes)),
      skipped_(null_ended(skipped)), hidden_(hidden) {}

WalkStep WalkRules::step(const std::string& name, const std::string& relative, bool folder) const {
    const vormesta_walk_rules rules{patterns_.data(), excludes_.data(), skipped_.data(), hidden_};
    switch (vormesta_walk_entry(&rules, name.c_str(), relative.c_str(), folder)) {
    case VORMESTA_WALK_ENTER:
        return WalkStep::enter;
    case VORMESTA_WALK_TAKE:
        return WalkStep::take;
    default:
        return WalkStep::pass;
    }
}

bool inside(const std::string& path, const std::string& root) {
    return vormesta_inside(path.c_str(), root.c_str()) != 0;
}

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

// A comment may not end early, nor hold a trigraph or a line end.
std::string as_comment(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if ((c == '/' && !out.empty() && out.back() == '*') ||
            (c == '?' && !out.empty() && out.back() == '?'))
            out += '_';
        out += c == '\n' || c == '\r' ? ' ' : c;
    }
    return out;
}

std::string declaration_text(const std::string& relative, const std::string& array,
                             std::uint64_t bound) {
    const std::string guard = "VORMESTA_DECLARES_" + array;
    return "/* The bytes of " + as_comment(relative) + ", embedded by vormesta. */\n#ifndef " +
           guard + "\n#define " + guard + "\n#ifdef __cplusplus\nextern \"C\" {\n#endif\n" +
           "extern const unsigned char " + array + "[" + std::to_string(bound) +
           "];\n#ifdef __cplusplus\n}\n#endif\n#endif\n";
}

namespace {

// The declarations every library's header shares, once in a program's translation unit: the
// file and form structs, in one layout every library made by this vormesta has, and the choice
// of a form for a request.
constexpr char shared_declarations[] =
#include "shared.h.inc"
    ;

// The number after `line` in `text`; -1 where it is not there.
constexpr int number_after(std::string_view text, std::string_view line) {
    const std::size_t at = text.find(line);
    if (at == std::string_view::npos)
        return -1;
    int number = 0;
    for (std::size_t i = at + line.size(); i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        number = number * 10 + (text[i] - '0');
    return number;
}

// The layout is stated once, where the declarations define it; their check of a second
// library's layout must name the same number.
constexpr std::string_view shared_text(shared_declarations, sizeof shared_declarations - 1);
constexpr int stated_layout = number_after(shared_text, "#define VORMESTA_LAYOUT ");
static_assert(stated_layout > 0 &&
                  number_after(shared_text, "#elif VORMESTA_LAYOUT != ") == stated_layout,
              "index/shared.h defines one layout and checks another");

} // namespace

const int index_layout = stated_layout;

std::string index_header(const std::string& library) {
    const std::string id = library_identifier(library);
    const std::string guard = "VORMESTA_LIBRARY_" + id + "_H";
    return "/* The files of library " + as_comment(library) +
           ", embedded by vormesta: found by their paths below the base, or walked in order. */\n"
           "#ifndef " + guard + "\n#define " + guard + "\n#include <stddef.h>\n" +
           shared_declarations +
           "#ifdef __cplusplus\nextern \"C\" {\n#endif\n"
           "/* The file at `path`, or null. */\n"
           "const struct vormesta_file* " + id + "_find(const char* path);\n"
           "size_t " + id + "_count(void);\n"
           "/* The files sorted by path (byte by byte), for i below the count; null past it. */\n"
           "const struct vormesta_file* " + id + "_at(size_t i);\n"
           "/* The files below `folder` (\"css\" or \"css/\"; \"\" for all), in order: the first, "
           "and their number in *count; null where there are none. */\n"
           "const struct vormesta_file* " + id + "_below(const char* folder, size_t* count);\n"
           "#ifdef __cplusplus\n}\n"
           "#if __cplusplus >= 201703L || (defined(_MSVC_LANG) && _MSVC_LANG >= 201703L)\n"
           "#include \"vormesta/files.hpp\"\n"
           "inline const vormesta::files " + id + "_files{&" + id + "_count, &" + id + "_at};\n"
           "#endif\n#endif\n#endif\n";
}

const char files_header[] =
#include "files.hpp.inc"
    ;

std::string index_source_includes(const std::string& library) {
    return "/* The index of library " + as_comment(library) +
           ", embedded by vormesta. */\n#include <stdlib.h>\n#include <string.h>\n"
           "#include \"vormesta/" + library + ".h\"\n";
}

std::string index_source(const std::string& library, const EntryList& entries) {
    std::string text = index_source_includes(library);
    // Hidden where the compiler can say so: position-independent code reaches them directly.
    text += "#if defined(__GNUC__) && !defined(_WIN32) && !defined(__CYGWIN__)\n"
            "#define VORMESTA_HIDDEN __attribute__((visibility(\"hidden\")))\n#else\n"
            "#define VORMESTA_HIDDEN\n#endif\n#ifdef __cplusplus\nextern \"C\" {\n#endif\n";
    std::set<std::string> declared;
    auto declare = [&](const std::string& symbol) {
        if (declared.insert(symbol).second)
            text += "extern VORMESTA_HIDDEN const unsigned char " + symbol + "[];\n";
    };
    for (const IndexEntry* entry : entries) {
        declare(entry->symbol);
        for (const IndexForm& form : entry->forms)
            declare(form.symbol);
    }
    return text + "#ifdef __cplusplus\n}\n#endif\n" + index_source_table(library, entries);
}

namespace {
// The functions that find a file in the sorted table `table` of `files` entries.
std::string index_functions(const std::string& library, std::size_t files,
                            const std::string& table);
} // namespace

std::string index_source_table(const std::string& library, const EntryList& entries) {
    // Named after the library, so that a debugger tells two libraries' apart.
    const std::string statics = "vormesta_" + library_identifier(library);
    std::string text;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i]->forms.empty())
            continue;
        text += "static const struct vormesta_encoding " + statics + "_forms_" + std::to_string(i) +
                "[] = {\n";
        for (const IndexForm& form : entries[i]->forms)
            text += "    {" + c_string(form.name) + ", " + form.symbol + " + " +
                    std::to_string(form.offset) + ", " + std::to_string(form.size) + ", " +
                    c_string(form.etag) + "},\n";
        text += "};\n";
    }
    text += "static const struct vormesta_file " + statics + "_files[" +
            std::to_string(std::max<std::size_t>(entries.size(), 1)) + "] = {\n";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const IndexEntry& entry = *entries[i];
        const std::string forms =
            entry.forms.empty() ? "VORMESTA_NULL" : statics + "_forms_" + std::to_string(i);
        text += "    {" + c_string(entry.relative) + ", " + entry.symbol + " + " +
                std::to_string(entry.offset) + ", " + std::to_string(entry.size) + ", " +
                c_string(entry.type.empty() ? "application/octet-stream" : entry.type) + ", " +
                (entry.etag.empty() ? "VORMESTA_NULL" : c_string(entry.etag)) + ", " + forms + ", " +
                std::to_string(entry.forms.size()) + "},\n";
    }
    if (entries.empty())
        text += "    {VORMESTA_NULL, VORMESTA_NULL, 0, VORMESTA_NULL, VORMESTA_NULL, VORMESTA_NULL, 0},\n";
    return text + "};\n" + index_functions(library, entries.size(), statics + "_files");
}

std::string index_source_over_table(const std::string& library, std::size_t count) {
    const std::string table = library_table_symbol(library);
    return index_source_includes(library) +
           "#ifdef __cplusplus\nextern \"C\" {\n#endif\n"
           "#if defined(__GNUC__) && !defined(_WIN32) && !defined(__CYGWIN__)\n"
           "__attribute__((visibility(\"hidden\")))\n#endif\n"
           "extern const struct vormesta_file " +
           table +
           "[];\n"
           "#ifdef __cplusplus\n}\n#endif\n" +
           index_functions(library, count, table);
}

ObjectTable index_table(const std::string& library, const EntryList& entries) {
    ObjectTable table;
    table.symbol = library_table_symbol(library);
    std::unordered_map<std::string_view, std::uint64_t> strings; // the entries outlive it
    strings.reserve(entries.size() * 2);
    auto string = [&](std::string_view text) {
        const auto at = strings.emplace(text, table.strings.size());
        if (at.second) {
            table.strings.append(text);
            table.strings += '\0';
        }
        return ObjectWord{ObjectWord::To::string, at.first->second};
    };
    using To = ObjectWord::To;
    constexpr std::uint64_t file_words = 7, form_words = 4;
    std::uint64_t form = file_words * entries.size();
    for (const IndexEntry* entry : entries) {
        const ObjectWord none{To::number, 0};
        table.words.insert(
            table.words.end(),
            {string(entry->relative),
             {To::data, entry->offset},
             {To::number, entry->size},
             string(entry->type.empty() ? std::string_view("application/octet-stream")
                                        : std::string_view(entry->type)),
             entry->etag.empty() ? none : string(entry->etag),
             entry->forms.empty() ? none : ObjectWord{To::word, form},
             {To::number, entry->forms.size()}});
        form += form_words * entry->forms.size();
    }
    for (const IndexEntry* entry : entries)
        for (const IndexForm& coded : entry->forms)
            table.words.insert(table.words.end(), {string(coded.name),
                                                   {To::data, coded.offset},
                                                   {To::number, coded.size},
                                                   string(coded.etag)});
    return table;
}

namespace {

// `text` with each stand-in replaced, in one pass (a name put in is never read again).
std::string fill(std::string_view text,
                 std::initializer_list<std::pair<std::string_view, std::string>> stand_ins) {
    std::string filled;
    for (std::size_t at = 0; at < text.size();) {
        auto found = std::find_if(stand_ins.begin(), stand_ins.end(), [&](const auto& stand_in) {
            return text.substr(at, stand_in.first.size()) == stand_in.first;
        });
        if (found != stand_ins.end()) {
            filled += found->second;
            at += found->first.size();
        } else {
            filled += text[at++];
        }
    }
    return filled;
}

std::string index_functions(const std::string& library, std::size_t files,
                            const std::string& table) {
    // The C as it reads, for C and C++ alike (no cast or 0 a strict C++ build warns of), with
    // the library's names, table and count in place of the file's stand-ins.
    const char functions[] =
#include "functions.c.inc"
        ;
    return fill(functions, {{"LIBRARY", library_identifier(library)},
                            {"VORMESTA_TABLE", table},
                            {"VORMESTA_COUNT", std::to_string(files)}});
}

// The public functions, as the header declares them.
std::string public_functions(const std::string& id) {
    return "const struct vormesta_file* " + id + "_find(const char* path);\nsize_t " + id +
           "_count(void);\nconst struct vormesta_file* " + id +
           "_at(size_t i);\nconst struct vormesta_file* " + id +
           "_below(const char* folder, size_t* count);\n";
}

// `names` as a null-ended array of C strings called `array`.
std::string string_array(const std::string& array, const std::vector<std::string>& names) {
    std::string text = "static const char* const " + array + "[] = {";
    for (const std::string& name : names)
        text += c_string(name) + ", ";
    return text + "VORMESTA_NULL};\n";
}

} // namespace

std::string live_source_start(const std::string& library) {
    const std::string id = library_identifier(library);
    std::string renames;
    for (const char* function : {"_find", "_count", "_at", "_below"})
        renames += "#define " + id + function + " vormesta_" + id + "_embedded" + function + "\n";
    return "#ifdef VORMESTA_LIVE\n#if !defined(_WIN32) && !defined(_XOPEN_SOURCE)\n"
           "#define _XOPEN_SOURCE 700\n#endif\n#include <stdlib.h>\n#include <string.h>\n"
           "#include \"vormesta/" +
           library + ".h\"\n" + renames + "#ifdef __cplusplus\nextern \"C\" {\n#endif\n" +
           public_functions(id) + "#ifdef __cplusplus\n}\n#endif\n#endif\n";
}

std::string live_source_end(const std::string& library, const LiveLibrary& live) {
    const char live_header[] =
#include "live.h.inc"
        ;
    const char rules[] =
#include "rules.c.inc"
        ;
    const char functions[] =
#include "live.c.inc"
        ;
    const std::string id = library_identifier(library);
    const std::string statics = "vormesta_" + id + "_live";
    std::string text = "#ifdef VORMESTA_LIVE\n";
    for (const char* function : {"_find", "_count", "_at", "_below"})
        text += "#undef " + id + function + "\n";
    text += rules;
    text += live_header;
    std::string folders;
    for (std::size_t i = 0; i < live.folders.size(); ++i) {
        const LiveFolder& folder = live.folders[i];
        const std::string n = std::to_string(i);
        text += string_array(statics + "_patterns_" + n, folder.patterns) +
                string_array(statics + "_excludes_" + n, folder.excludes) +
                string_array(statics + "_skipped_" + n, folder.skipped);
        folders += "    {" + c_string(folder.path) + ", " + c_string(folder.prefix) + ", " +
                   (folder.etag ? "1" : "0") + ", {" + statics + "_patterns_" + n + ", " + statics +
                   "_excludes_" + n + ", " + statics + "_skipped_" + n + ", " +
                   (folder.hidden ? "1" : "0") + "}},\n";
    }
    text += "static const struct vormesta_live_folder " + statics + "_folders[] = {\n" + folders +
            "    {VORMESTA_NULL, VORMESTA_NULL, 0, {VORMESTA_NULL, VORMESTA_NULL, VORMESTA_NULL, "
            "0}}};\n";
    text += "static const struct vormesta_live_listed " + statics + "_listed[] = {\n";
    for (const LiveListed& file : live.listed)
        text += "    {" + c_string(file.path) + ", " + c_string(file.relative) + ", " +
                (file.etag ? "1" : "0") + "},\n";
    text += "    {VORMESTA_NULL, VORMESTA_NULL, 0}};\n";
    text += "static const struct vormesta_live_type " + statics + "_types[] = {\n";
    std::size_t count = 0;
    const KnownType* known = known_media_types(count);
    for (std::size_t i = 0; i < count; ++i)
        text +=
            std::string("    {") + c_string(known[i].extension) + ", " +
            c_string(known[i].type.name) + ", " +
            (known[i].type.text ? c_string(content_type(known[i].type, true)) : "VORMESTA_NULL") +
            "},\n";
    text += "};\n";
    text += fill(functions, {{"VORMESTA_LIBRARY_NAME", c_string(library)}, {"LIBRARY", id}});
    return text + "#endif\n";
}

} // namespace vormesta
