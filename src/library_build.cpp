#include "library_build.hpp"

#include "library_index.hpp"
#include "naming.hpp"
#include "object_file.hpp"
#include "platform.hpp"
#include "step_io.hpp"
#include "web_forms.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <utility>
#include <vector>

namespace vormesta {
namespace {

using namespace step;

// The settings' first line: their format, which CMake's vormesta_add_library writes too.
constexpr char settings_first_line[] = "vormesta-library 1";

// How the files of one line of the settings are embedded.
struct Flags {
    ByteLayout bytes;
    bool declare = false;
    bool hidden = false;
    WebAsk web;
};

struct Folder {
    std::string path;
    std::string prefix; // its path below the library's base
    Flags flags;
    std::vector<std::string> patterns;
    std::vector<std::string> excludes;
};

struct Listed {
    std::string path;
    std::string relative;
    Flags flags;
};

struct Settings {
    std::string text; // as read: part of the record
    std::string name;
    std::string probe; // empty on the header road: the data compiled from a C source
    std::string object;
    std::string source;
    std::string header;
    std::string declarations;
    std::string record;
    bool gnu_ld = false; // the objects go to GNU ld for Windows
    bool live = false;   // a build may read the folders at run time (VORMESTA_LIVE)
    std::vector<Listed> files;
    std::vector<Folder> folders;
    std::vector<std::string> skipped;           // folders a walk leaves out: the build's own
    std::map<std::string, std::string> premade; // forms made beforehand: where, by file
};

// A file found, with what the record keeps of it.
struct Found {
    IndexEntry entry;
    Flags flags;
    platform::InputFacts facts;
    std::string declaration; // its header's path below the declarations, where declared
    WebFacts web;
};

EntryList entries_of(const std::vector<Found>& found) {
    EntryList entries;
    entries.reserve(found.size());
    for (const Found& file : found)
        entries.push_back(&file.entry);
    return entries;
}

bool parse_flags(const std::string& words, Flags& flags, const std::string& path) {
    for (const std::string& word : split(words, ' ')) {
        if (word == "text") {
            flags.bytes.text = true;
        } else if (word == "declare") {
            flags.declare = true;
        } else if (word == "hidden") {
            flags.hidden = true;
        } else if (word == "etag") {
            flags.web.etag = true;
        } else if (Coding coding; coding_named(word, coding)) {
            if (!coding_available(coding))
                return fail(path, word +
                                      " is not in this vormesta-step, which was built without "
                                      "its library; it compresses with: " +
                                      available_codings());
            // A form is sent under its own validator, and the bytes under theirs.
            flags.web.codings |= 1u << static_cast<unsigned>(coding);
            flags.web.etag = true;
        } else if (word.rfind("align=", 0) == 0) {
            if (!parse_alignment(word.substr(6), flags.bytes.align))
                return fail(path, word + " is no alignment: a power of two up to 4096");
        } else if (!word.empty()) {
            return fail(path, "'" + word +
                                  "' is no flag: text, declare, hidden, align=N, etag, "
                                  "gzip, br or zstd");
        }
    }
    return true;
}

// One setting a line, its words split by tabs; paths may hold anything but a line end.
bool read_settings(const std::string& path, Settings& settings) {
    if (path != "-" && !read_whole(path, settings.text))
        return false;
    const std::vector<std::string> lines = split(settings.text, '\n');
    if (lines.empty() || lines[0] != settings_first_line)
        return fail(path, std::string("is no library's settings (its first line is not '") +
                              settings_first_line + "')");
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::vector<std::string> words = split(lines[i], '\t');
        const std::string& key = words[0];
        std::string* single = key == "name"           ? &settings.name
                              : key == "probe"        ? &settings.probe
                              : key == "object"       ? &settings.object
                              : key == "source"       ? &settings.source
                              : key == "header"       ? &settings.header
                              : key == "declarations" ? &settings.declarations
                              : key == "record"       ? &settings.record
                                                      : nullptr;
        bool known = true;
        if (lines[i].empty()) {
            continue;
        } else if (single && words.size() == 2) {
            *single = words[1];
        } else if (key == "forms" && words.size() == 3) {
            settings.premade[words[1]] = words[2];
        } else if (key == "skip" && words.size() == 2) {
            settings.skipped.push_back(words[1]);
        } else if (key == "live" && words.size() == 1) {
            settings.live = true;
        } else if (key == "linker" && words.size() == 2 && words[1] == "gnu-ld") {
            settings.gnu_ld = true;
        } else if (key == "file" && words.size() == 4) {
            settings.files.push_back({words[1], words[2], {}});
            known = parse_flags(words[3], settings.files.back().flags, path);
        } else if (key == "folder" && words.size() == 4) {
            settings.folders.push_back({words[1], words[2], {}, {}, {}});
            known = parse_flags(words[3], settings.folders.back().flags, path);
        } else if ((key == "pattern" || key == "exclude") && words.size() == 2 &&
                   !settings.folders.empty()) {
            (key == "pattern" ? settings.folders.back().patterns : settings.folders.back().excludes)
                .push_back(words[1]);
        } else {
            return fail(path, "line " + std::to_string(i + 1) + " is no setting");
        }
        if (!known)
            return false;
    }
    if (settings.name.empty() || settings.source.empty() || settings.header.empty() ||
        settings.record.empty() || (!settings.probe.empty() && settings.object.empty()))
        return fail(path, "lacks a name, source, header or record (or the object for a probe)");
    if (!settings.premade.empty() && settings.probe.empty())
        return fail(path, "names forms made beforehand, which go into an object: it lacks a probe");
    return true;
}

// Walks `at` (`below` from the folder's top), in name order, into `found`, by `rules`; refuses
// what the rules take but is no file, or a link that leads outside the folder `root`.
bool walk(const Folder& folder, const WalkRules& rules, const std::string& root,
          const std::string& at, const std::string& below, std::vector<Found>& found) {
    std::vector<platform::FolderEntry> entries;
    if (!platform::list_folder(at, entries))
        return fail(at, std::string("cannot be listed: ") + std::strerror(errno));
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    bool all = true;
    for (const platform::FolderEntry& entry : entries) {
        const std::string path = at + "/" + entry.name;
        const std::string relative = below + entry.name;
        const bool is_folder = entry.kind == platform::FolderEntry::Kind::folder;
        const WalkStep step = rules.step(entry.name, relative, is_folder);
        if (step == WalkStep::enter)
            all = walk(folder, rules, root, path, relative + "/", found) && all;
        if (step != WalkStep::take)
            continue;
        Found file;
        if (entry.kind == platform::FolderEntry::Kind::link) {
            std::string target;
            if (!platform::resolve_path(path, target)) {
                all = fail(path, "is a link to nothing that can be read; remove it or leave it "
                                 "out with EXCLUDE");
                continue;
            }
            if (!inside(target, root)) {
                all = fail(path, "is a link to " + target + ", outside the folder " + folder.path +
                                     "; copy the file in or name it on its own");
                continue;
            }
        }
        if (entry.error != 0) {
            all = fail(path, std::strerror(entry.error));
            continue;
        }
        if (!platform::facts_of_path(path, file.facts)) {
            all = fail(path, std::strerror(errno));
            continue;
        }
        if (entry.kind == platform::FolderEntry::Kind::other || !file.facts.is_regular) {
            all = fail(path, file.facts.is_directory
                                 ? "is a link to a folder, which is not followed"
                                 : "is a FIFO, socket or device, not a file; nothing was read "
                                   "from it");
            continue;
        }
        file.entry.relative = folder.prefix + relative;
        file.entry.from = path;
        file.flags = folder.flags;
        found.push_back(std::move(file));
    }
    return all;
}

// The build's folders inside the folder `root` (resolved), by their paths below it: they hold
// what the build makes, this step's outputs among them, never the library's.
std::vector<std::string> skipped_below(const Settings& settings, const std::string& root) {
    std::vector<std::string> skipped;
    for (const std::string& path : settings.skipped) {
        std::string resolved;
        if (platform::resolve_path(path, resolved) && inside(resolved, root)) {
            std::replace(resolved.begin(), resolved.end(), '\\', '/');
            skipped.push_back(resolved.substr(root.size() + (root.back() == '/' ? 0 : 1)));
        }
    }
    return skipped;
}

// Every file of the library, sorted, with its array name where it is declared.
bool find_files(const Settings& settings, std::vector<Found>& found) {
    bool all = true;
    for (const Listed& listed : settings.files) {
        Found file;
        file.entry.relative = listed.relative;
        file.entry.from = listed.path;
        file.flags = listed.flags;
        if (!platform::facts_of_path(listed.path, file.facts))
            all = fail(listed.path, std::strerror(errno));
        else if (!file.facts.is_regular)
            all = fail(listed.path, "is a FIFO, socket, device or folder, not a file");
        else
            found.push_back(std::move(file));
    }
    for (const Folder& folder : settings.folders) {
        std::string root;
        if (!platform::resolve_path(folder.path, root)) {
            all = fail(folder.path, std::string("is no folder: ") + std::strerror(errno));
            continue;
        }
        const std::vector<std::string> skipped = skipped_below(settings, root);
        const WalkRules rules(folder.patterns, folder.excludes, skipped, folder.flags.hidden);
        all = walk(folder, rules, root, folder.path, "", found) && all;
    }
    if (!all)
        return false;
    for (Found& file : found) {
        file.entry.size = file.facts.size;
        file.entry.text = file.flags.bytes.text;
        Names names;
        if (file.flags.declare) {
            if (!names_of(file.entry.relative, names))
                return false;
            file.entry.array = names.array;
            file.declaration = settings.declarations + "/" + names.header;
        }
    }
    std::sort(found.begin(), found.end(),
              [](const Found& a, const Found& b) { return a.entry.relative < b.entry.relative; });
    std::string refused;
    return refuse_clashes(settings.name, entries_of(found), refused) ||
           fail(settings.name, refused);
}

std::string number(std::uint64_t value) {
    return std::to_string(value) + '\0';
}

// Where the pieces of the object are listed, by what each holds.
std::string pieces_path(const Settings& settings) {
    return settings.record + ".pieces";
}

// A version as a line's fields.
std::string version_line(const platform::InputFacts& facts) {
    std::string line;
    return append_version(line, facts, '\t');
}

// What the outputs are made of: the step's own text, the settings, the target, and each file's
// path, size and times.
// What a live build reads at run time: the folders and files the settings name.
LiveLibrary live_library(const Settings& settings) {
    LiveLibrary live;
    for (const Folder& folder : settings.folders) {
        std::string root;
        live.folders.push_back({folder.path, folder.prefix, folder.flags.hidden,
                                folder.flags.web.etag, folder.patterns, folder.excludes,
                                platform::resolve_path(folder.path, root)
                                    ? skipped_below(settings, root)
                                    : std::vector<std::string>{}});
    }
    for (const Listed& file : settings.files)
        live.listed.push_back({file.path, file.relative, file.flags.web.etag});
    return live;
}

// The index's source, with what a live build adds around it where the settings ask for that.
std::string with_live(const Settings& settings, const std::string& source) {
    return settings.live ? live_source_start(settings.name) + source +
                               live_source_end(settings.name, live_library(settings))
                         : source;
}

// A build whose record comes out the same has nothing to write.
std::string record_of(const Settings& settings, const ObjectTarget& target,
                      const std::vector<Found>& found) {
    // The text this step writes around the files, so that another vormesta writes them again.
    std::string record =
        index_header(settings.name) + files_header + index_source_table(settings.name, {}) +
        index_source_over_table(settings.name, 0) + with_live(settings, "") + settings.text + '\0';
    if (!settings.probe.empty())
        record += number(static_cast<std::uint64_t>(target.format)) + number(target.is_64) +
                  number(target.big_endian) + number(target.machine) + number(target.flags) +
                  number(target.os_abi) + number(target.abi_version) + number(target.cpu_type) +
                  number(target.cpu_subtype) + target.platform_command + '\0' +
                  target.symbol_prefix + '\0';
    for (const Found& file : found) {
        record.append(file.entry.from).append(1, '\0').append(file.entry.relative).append(1, '\0');
        append_version(record, file.facts, '\0');
    }
    return record;
}

// What the outputs are as the step left them: each one's path, size, times and identity. One
// gone, or changed by anyone but the step, differs: the step writes it again. Empty where one is
// gone.
std::string outputs_as_left(const Settings& settings, const std::vector<Found>& found) {
    std::vector<std::string> paths{settings.source, settings.header,
                                   folder_of(settings.header) + "files.hpp"};
    if (!settings.probe.empty()) {
        paths.push_back(settings.object);
        paths.push_back(pieces_path(settings));
    }
    for (const Found& file : found)
        if (!file.declaration.empty())
            paths.push_back(file.declaration);
    std::string outputs;
    for (const std::string& path : paths) {
        platform::InputFacts facts;
        if (!platform::facts_of_path(path, facts))
            return "";
        append_version(outputs.append(path).append(1, '\0'), facts, '\0');
    }
    return outputs;
}

bool exists(const std::string& path) {
    platform::InputFacts facts;
    return platform::facts_of_path(path, facts);
}

// What a killed run left in the outputs' folders (and the cache's): temporaries no run holds.
void remove_leftovers(const Settings& settings) {
    std::set<std::string> folders{settings.record + ".forms/"};
    for (const std::string* output :
         {&settings.object, &settings.source, &settings.header, &settings.record})
        if (!output->empty())
            folders.insert(folder_of(*output));
    for (const std::string& folder : folders) {
        const std::string at =
            folder.empty() ? "." : folder.substr(0, std::max<std::size_t>(folder.size() - 1, 1));
        std::vector<platform::FolderEntry> entries;
        if (!platform::list_folder(at, entries))
            continue;
        for (const platform::FolderEntry& entry : entries) {
            if (entry.kind == platform::FolderEntry::Kind::file &&
                platform::is_temporary_name(entry.name))
                platform::remove_if_abandoned(at + "/" + entry.name);
        }
    }
}

// The declared files' headers, and the record of them: a header whose file has gone is removed,
// so that a source still including it fails to build rather than build with other bytes.
bool write_declarations(const Settings& settings, const std::vector<Found>& found) {
    const std::string list = settings.record + ".headers";
    std::string before;
    if (exists(list) && !read_whole(list, before))
        return false;
    std::string now;
    for (const Found& file : found) {
        if (file.declaration.empty())
            continue;
        const std::string& path = file.declaration;
        if (!platform::make_folders(folder_of(path)))
            return fail(path, std::string("cannot be made: ") + std::strerror(errno));
        if (!write_text(path, declaration_text(file.entry.relative, file.entry.array,
                                               array_size(file.entry.size, file.entry.text))))
            return false;
        now += path + '\0';
    }
    for (const std::string& path : split(before, '\0'))
        if (!path.empty() && now.find(path + '\0') == std::string::npos)
            platform::remove_path(path);
    return write_text(list, now);
}

// How bytes read from an input go into an output, shown to `seen` as they pass, all but the first
// `skip`: copied (the object road) or as an array's text (the header road).
using PutBytes = std::function<bool(const std::string& path, Input& input, const Seen& seen,
                                    std::uint64_t skip)>;

// The file's bytes, from the version the walk saw, shown to be the bytes its facts were learnt
// of as they pass. Anything found untrue is forgotten, so that the next build learns it again.
bool put_checked_file(const Settings& settings, const Found& file, const PutBytes& put_bytes) {
    Input input;
    ByteWatch watch(!file.web.bytes.digest.empty(), file.web.check_utf8);
    const bool copied =
        open_input(file.entry.from, input) &&
        (same_version(input.facts, file.facts) ||
         fail(file.entry.from, "changed while it was read")) &&
        put_bytes(
            file.entry.from, input, [&](std::string_view bytes) { watch.add(bytes); }, 0) &&
        bytes_as_learnt(file.entry.from, file.web, watch.finish());
    if (!copied)
        forget_learnt(settings.record, file.entry.from, file.web.bytes.digest);
    return copied;
}

// A compressed form, shown to be the one that was made (its size and digest) as it passes; a form
// of the step's cache that is not is removed, and made again by the next build.
bool put_checked_form(const Settings& settings, const Found& file, const WebForm& form,
                      const PutBytes& put_bytes) {
    Input input;
    Sha256 sha;
    const bool copied =
        open_input(form.path, input) &&
        (input.facts.size == form.skip + form.size ||
         fail(form.path, "is not the form it was made as")) &&
        put_bytes(
            form.path, input, [&](std::string_view bytes) { sha.add(bytes); }, form.skip) &&
        (sha.finish_hex() == form.digest || fail(form.path, "is not the form it was made as"));
    if (!copied && form.skip == 0) {
        platform::remove_path(form.path);
        forget_learnt(settings.record, file.entry.from, file.web.bytes.digest);
    }
    return copied;
}

std::uint64_t align_up(std::uint64_t value, std::uint32_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// The pieces of the object the step wrote last: a file's bytes (by the file's path and version)
// and a form (by its digest), each where it lies in that object. A piece that goes into the
// object again is copied from there, not read from its file or the cache again: a one-file
// edit reads that file alone. Trusted only while the object and the list are as the step left
// them (the record's outputs say so) and the object is the one listed; never past its end.
struct Carried {
    struct Place {
        std::uint64_t offset = 0;
        std::uint64_t size = 0;
        std::uint64_t order = 0; // in the list: pieces next in it lie one after the other
    };
    std::vector<char> buffer; // the last object's stream's, so it outlives it
    Input object;
    std::map<std::string, Place> at; // by key
    std::string listed;              // the pieces of the object being written, as lines
    // What is yet to be copied: a run of the last object (pieces that lay one after another
    // there and do again, with the zeros between them), then zeros not yet known to be in it.
    bool running = false;
    Place run;
    std::uint64_t zeros = 0;
    std::uint64_t position = 0; // where the last object is read next
};

std::string bytes_key(const Found& file) {
    return "bytes\t" + version_line(file.facts) + file.entry.from;
}

std::string form_key(const WebForm& form) {
    return "form\t" + form.digest;
}

bool parse_number(const std::string& text, std::uint64_t& value) {
    if (text.empty() || text.size() > 19 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoull(text);
    return true;
}

// The pieces of the object as the list says, where it holds for the object there now; none
// where anything in it does not parse or reaches past the object's end.
void read_pieces(const Settings& settings, Carried& carried) {
    std::string text;
    if (!read_whole(pieces_path(settings), text) || !open_input(settings.object, carried.object))
        return;
    carried.buffer.resize(1 << 20);
    std::setvbuf(carried.object.file.get(), carried.buffer.data(), _IOFBF, carried.buffer.size());
    const std::vector<std::string> lines = split(text, '\n');
    if (lines.size() < 2 || lines[0] != "vormesta-pieces 1" ||
        lines[1] != version_line(carried.object.facts))
        return;
    for (std::size_t i = 2; i < lines.size(); ++i) {
        const std::size_t first = lines[i].find('\t');
        const std::size_t second = lines[i].find('\t', first + 1);
        Carried::Place place;
        place.order = i;
        if (lines[i].empty())
            continue;
        if (second == std::string::npos || !parse_number(lines[i].substr(0, first), place.offset) ||
            !parse_number(lines[i].substr(first + 1, second - first - 1), place.size) ||
            place.offset > carried.object.facts.size ||
            place.size > carried.object.facts.size - place.offset) {
            carried.at.clear();
            return;
        }
        carried.at[lines[i].substr(second + 1)] = place;
    }
}

// Copies the run from the last object, then writes the zeros after it.
bool flush_carried(Carried& carried, const std::string& object, std::FILE* out) {
    if (carried.running) {
        // A short way forward is read over: a seek would drop the stream's buffer.
        const std::uint64_t from = carried.run.offset;
        std::FILE* const last = carried.object.file.get();
        char gap[4096];
        const bool placed =
            from >= carried.position && from - carried.position <= sizeof gap
                ? std::fread(gap, 1, from - carried.position, last) == from - carried.position
                : platform::seek_input(last, from);
        carried.position = from + carried.run.size;
        carried.running = false;
        if (!placed)
            return fail_because(object, "could not be read");
        if (!copy_next(object, carried.object, carried.run.size, object, out))
            return false;
    }
    const std::uint64_t zeros = std::exchange(carried.zeros, 0);
    return zeros == 0 || put(out, std::string(zeros, '\0'), object);
}

// Zeros between pieces (alignment, a text file's NUL): they go with the run where the next
// piece continues it.
bool put_zeros(Carried& carried, std::uint64_t count, const std::string& object, std::FILE* out) {
    if (carried.running) {
        carried.zeros += count;
        return true;
    }
    return count == 0 || put(out, std::string(count, '\0'), object);
}

// Puts one piece in the object: from the last object where it is there, else through `put`.
bool put_piece(Carried& carried, const std::string& key, std::uint64_t size, std::uint64_t at,
               const std::string& object, std::FILE* out, const std::function<bool()>& put) {
    carried.listed += std::to_string(at) + '\t' + std::to_string(size) + '\t' + key + '\n';
    const auto was = carried.at.find(key);
    if (was == carried.at.end() || was->second.size != size)
        return flush_carried(carried, object, out) && put();
    const Carried::Place& place = was->second;
    // Next in the last object's list, as far after the run as here: what lies between is zeros
    // in both.
    if (carried.running && place.order == carried.run.order + 1 &&
        place.offset == carried.run.offset + carried.run.size + carried.zeros) {
        carried.run.size += carried.zeros + size;
        carried.run.order = place.order;
        carried.zeros = 0;
        return true;
    }
    if (!flush_carried(carried, object, out))
        return false;
    carried.running = true;
    carried.run = place;
    return true;
}

// Where each file and form lies in the library's one object: the files each at its alignment,
// then the forms; the library's symbol spans them all, a declared file's array its bytes.
struct ObjectPlan {
    std::vector<ObjectSymbol> symbols;
    std::uint64_t size = 0;
    std::uint32_t alignment = 1;
};

ObjectPlan plan_object(const Settings& settings, std::vector<Found>& found) {
    ObjectPlan plan;
    plan.symbols.push_back({library_data_symbol(settings.name), 0, 0});
    for (Found& file : found) {
        file.entry.offset = align_up(plan.size, file.flags.bytes.align);
        file.entry.symbol = plan.symbols[0].name;
        plan.size = file.entry.offset + array_size(file.entry.size, file.entry.text);
        plan.alignment = std::max(plan.alignment, file.flags.bytes.align);
        if (!file.entry.array.empty())
            plan.symbols.push_back({file.entry.array, file.entry.offset,
                                    array_size(file.entry.size, file.entry.text)});
    }
    for (Found& file : found)
        for (const WebForm& form : file.web.forms) {
            file.entry.forms.push_back(
                {coding_name(form.coding), plan.symbols[0].name, plan.size, form.size, form.etag});
            plan.size += form.size;
        }
    plan.size = std::max<std::uint64_t>(plan.size, 1);
    plan.symbols[0].size = plan.size;
    return plan;
}

// The files' bytes and then the forms, each where the plan put it (the object's data begins at
// `data_at`), taken from the last object where it holds them; `at` is where the data ends.
bool put_object_data(const Settings& settings, const std::vector<Found>& found, Carried& carried,
                     std::uint64_t data_at, std::FILE* out, std::uint64_t& at) {
    const std::string& object = settings.object;
    const PutBytes copy = [&](const std::string& path, Input& input, const Seen& seen,
                              std::uint64_t skip) {
        return copy_input(path, input, object, out, seen, skip);
    };
    at = 0;
    for (const Found& file : found) {
        const std::uint64_t bound = array_size(file.entry.size, file.entry.text);
        if (!put_zeros(carried, file.entry.offset - at, object, out) ||
            !put_piece(carried, bytes_key(file), file.entry.size, data_at + file.entry.offset,
                       object, out, [&] { return put_checked_file(settings, file, copy); }) ||
            !put_zeros(carried, bound - file.entry.size, object, out))
            return false;
        at = file.entry.offset + bound;
    }
    for (const Found& file : found)
        for (std::size_t i = 0; i < file.web.forms.size(); ++i) {
            const WebForm& form = file.web.forms[i];
            if (!put_zeros(carried, file.entry.forms[i].offset - at, object, out) ||
                !put_piece(carried, form_key(form), form.size, data_at + file.entry.forms[i].offset,
                           object, out,
                           [&] { return put_checked_form(settings, file, form, copy); }))
                return false;
            at = file.entry.forms[i].offset + form.size;
        }
    return true;
}

// The object road: every file's bytes in one object, each at its alignment, behind the
// library's symbol (and its own array, where declared).
bool write_object(const Settings& settings, const ObjectTarget& target, bool carry,
                  std::vector<Found>& found) {
    const ObjectPlan plan = plan_object(settings, found);
    ObjectLayout layout;
    std::string refused;
    // The table too, where the object can hold it: then no compiler parses a line per file.
    const ObjectTable table = index_table(settings.name, entries_of(found));
    if (!lay_out_object(target, plan.symbols, plan.size, plan.alignment, layout, refused,
                        holds_tables(target) ? &table : nullptr))
        return fail(settings.name, refused);
    const std::string& object = settings.object;
    Carried carried;
    if (carry)
        read_pieces(settings, carried);
    const bool written = write_file(object, platform::FileId{}, [&](std::FILE* out) {
        std::uint64_t at = 0;
        if (!put(out, layout.before, object) ||
            !put_object_data(settings, found, carried, layout.before.size(), out, at) ||
            !flush_carried(carried, object, out))
            return false;
        // The last object is let go before this one takes its name (Windows holds it).
        platform::InputFacts now;
        if (carried.object.file && (!platform::facts_of_input(carried.object.file.get(), now) ||
                                    !same_version(now, carried.object.facts)))
            return fail(object, "changed while it was read");
        carried.object.file.reset();
        return put(out, std::string(plan.size - at, '\0'), object) &&
               put(out, layout.after, object);
    });
    platform::InputFacts facts;
    return written && platform::facts_of_path(object, facts) &&
           write_text(pieces_path(settings),
                      "vormesta-pieces 1\n" + version_line(facts) + '\n' + carried.listed);
}

// The header road: the bytes compiled from the index's own source, where no object can be
// written like the compiler's. Alignment and a text file's NUL as on the object road.
bool write_source_with_data(const Settings& settings, std::vector<Found>& found) {
    const std::string start =
        (settings.live ? live_source_start(settings.name) : "") +
        index_source_includes(settings.name) +
        "#if defined(_MSC_VER)\n#define VORMESTA_ALIGNED(n) __declspec(align(n))\n"
        "#elif defined(__GNUC__)\n"
        "#define VORMESTA_ALIGNED(n) __attribute__((aligned(n)))\n"
        "#else\n#define VORMESTA_ALIGNED(n)\n#endif\n";
    const std::string& source = settings.source;
    return write_file(source, platform::FileId{}, [&](std::FILE* out) {
        if (!put(out, start, source))
            return false;
        for (std::size_t i = 0; i < found.size(); ++i) {
            IndexEntry& entry = found[i].entry;
            const bool declared = !entry.array.empty();
            entry.symbol = declared ? entry.array : "vormesta_file_" + std::to_string(i);
            const std::string linkage =
                declared ? "#ifdef __cplusplus\nextern \"C\"\n#endif\n" : "static ";
            // As an array of that name, with a NUL after the bytes where asked.
            auto as_array = [&](const std::string& array, bool nul_after) -> PutBytes {
                return [&, array, nul_after](const std::string& path, Input& input,
                                             const Seen& seen, std::uint64_t) {
                    return write_array_text(path, input, source, out, array, "\n", nul_after, seen);
                };
            };
            if (!put(out,
                     linkage + "VORMESTA_ALIGNED(" + std::to_string(found[i].flags.bytes.align) +
                         ") ",
                     source) ||
                !put_checked_file(
                    settings, found[i],
                    as_array(entry.symbol, array_size(entry.size, entry.text) > entry.size)))
                return false;
            for (const WebForm& form : found[i].web.forms) {
                const std::string array =
                    "vormesta_form_" + std::to_string(i) + "_" + std::to_string(entry.forms.size());
                if (!put(out, "static ", source) ||
                    !put_checked_form(settings, found[i], form, as_array(array, false)))
                    return false;
                entry.forms.push_back({coding_name(form.coding), array, 0, form.size, form.etag});
            }
        }
        return put(
            out,
            index_source_table(settings.name, entries_of(found)) +
                (settings.live ? live_source_end(settings.name, live_library(settings)) : ""),
            source);
    });
}

// Says once that the large files among `files` were compressed at faster levels, and which.
bool say_faster(const std::string& library, const std::vector<std::string>& files) {
    std::string levels;
    for (const Coding coding : codings)
        levels += std::string(levels.empty() ? "" : ", ") + coding_name(coding) + " " +
                  std::to_string(coding_level(coding, fastest_above + 1));
    std::string text = "vormesta: library " + library + ": " + files[0];
    if (files.size() > 1)
        text += " and " + std::to_string(files.size() - 1) + " more";
    return print_out(text + " above " + std::to_string(fastest_above >> 20) +
                     " MiB compressed at the faster levels (" + levels + ")\n");
}

// Each file's media type, and its validator and compressed forms where asked, kept beside the
// record so that only what changed is read or compressed again.
// The folders of the outputs named (an empty name is no output).
bool make_output_folders(std::initializer_list<const std::string*> outputs) {
    for (const std::string* output : outputs)
        if (!output->empty() && !platform::make_folders(folder_of(*output)))
            return fail(*output, std::string("cannot be made: ") + std::strerror(errno));
    return true;
}

bool add_web_facts(const Settings& settings, std::vector<Found>& found) {
    std::vector<WebInput> inputs;
    inputs.reserve(found.size());
    for (const Found& file : found) {
        const auto premade = settings.premade.find(file.entry.relative);
        inputs.push_back({file.entry.from, file.entry.relative, file.facts, file.flags.web,
                          premade == settings.premade.end() ? std::string() : premade->second});
    }
    std::vector<WebFacts> facts;
    if (!make_web_facts(settings.record, inputs, facts, "vormesta: library " + settings.name))
        return false;
    std::vector<std::string> faster;
    for (std::size_t i = 0; i < found.size(); ++i) {
        found[i].entry.type = facts[i].type;
        found[i].entry.etag = facts[i].etag;
        if (facts[i].made_faster)
            faster.push_back(found[i].entry.from);
        found[i].web = std::move(facts[i]);
    }
    return faster.empty() || say_faster(settings.name, faster);
}

} // namespace

bool write_index_headers(const std::string& library, const std::string& header) {
    return write_text(header, index_header(library)) &&
           write_text(folder_of(header) + "files.hpp", files_header);
}

int index_command(const std::string& library, const std::string& list, const std::string& source,
                  const std::string& header, const std::vector<std::string>& more) {
    // "-": the files follow as arguments, three for each (for build systems that write no
    // files while configuring).
    std::string listed;
    if (list != "-" && !read_whole(list, listed))
        return 1;
    for (std::size_t i = 0; list == "-" && i + 2 < more.size(); i += 3)
        listed += more[i] + '\t' + more[i + 1] + '\t' + more[i + 2] + '\n';
    Settings settings;
    settings.name = library;
    for (const std::string& line : split(listed, '\n')) {
        const std::vector<std::string> words = split(line, '\t');
        Names names;
        if (line.empty())
            continue;
        if (words.size() != 3)
            return fail(list, "holds a line that is not INPUT, RELATIVE and KIND") ? 0 : 1;
        if (!names_of(words[1], names))
            return 1;
        settings.files.push_back({words[0], words[1], {}});
        settings.files.back().flags.bytes.text = words[2] == "text";
    }
    std::vector<Found> found;
    if (!find_files(settings, found) || !add_web_facts(settings, found))
        return 1;
    if (!make_output_folders({&source, &header}))
        return 1;
    for (Found& file : found)
        file.entry.symbol = library_file_symbol(library, file.entry.relative);
    return write_index_headers(library, header) &&
                   write_text(source, index_source(library, entries_of(found)))
               ? 0
               : 1;
}

int library_command(const std::string& path, const std::vector<std::string>& lines) {
    Settings settings;
    if (path == "-") {
        settings.text = std::string(settings_first_line) + '\n';
        for (const std::string& line : lines)
            settings.text += line + '\n';
    }
    ObjectTarget target;
    std::vector<Found> found;
    if (!read_settings(path, settings) ||
        (!settings.probe.empty() && !read_probe(settings.probe, target)) ||
        !find_files(settings, found))
        return 1;
    target.gnu_ld = settings.gnu_ld;
    const std::string record = record_of(settings, target, found);
    const std::string outputs = outputs_as_left(settings, found);
    std::string before;
    if (!outputs.empty() && exists(settings.record) && read_whole(settings.record, before) &&
        before == record + outputs)
        return 0;
    // The last object's pieces are of use while every output is as the step left it.
    const bool carry = !outputs.empty() && before.size() >= outputs.size() &&
                       before.compare(before.size() - outputs.size(), outputs.size(), outputs) == 0;
    // The record goes first, so that a failure below leaves none and the next build tries again.
    platform::remove_path(settings.record);
    remove_leftovers(settings);
    if (!make_output_folders(
            {&settings.object, &settings.source, &settings.header, &settings.record}))
        return 1;
    if (!add_web_facts(settings, found))
        return 1;
    bool written = settings.probe.empty() ? write_source_with_data(settings, found)
                                          : write_object(settings, target, carry, found);
    if (written && !settings.probe.empty())
        written = write_text(
            settings.source,
            with_live(settings, holds_tables(target)
                                    ? index_source_over_table(settings.name, found.size())
                                    : index_source(settings.name, entries_of(found))));
    written = written && write_index_headers(settings.name, settings.header) &&
              write_declarations(settings, found) &&
              write_text(settings.record, record + outputs_as_left(settings, found));
    return written ? 0 : 1;
}

} // namespace vormesta
