#include "step_io.hpp"

#include "array_writer.hpp"
#include "naming.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <vector>

namespace vormesta::step {

// Errors as the classic tools give them: the program, the file, what went wrong.
bool fail(const std::string& file, const std::string& message) {
    std::fprintf(stderr, "vormesta-step: %s: %s\n", file.c_str(), message.c_str());
    return false;
}

bool fail_because(const std::string& file, const std::string& what) {
    const int cause = errno;
    return fail(file, what + ": " + std::strerror(cause));
}

bool parse_alignment(const std::string& word, std::uint32_t& align) {
    const bool digits = !word.empty() && word.size() <= 4 &&
                        word.find_first_not_of("0123456789") == std::string::npos;
    const unsigned long value = digits ? std::strtoul(word.c_str(), nullptr, 10) : 0;
    if (value == 0 || value > 4096 || (value & (value - 1)) != 0)
        return false;
    align = static_cast<std::uint32_t>(value);
    return true;
}

bool same_version(const platform::InputFacts& a, const platform::InputFacts& b) {
    return a.id == b.id && a.size == b.size && a.modified == b.modified && a.changed == b.changed;
}

// A character no build file can carry in a name: control characters (a newline ends a line in
// every build file there is).
namespace {

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

} // namespace

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
namespace {

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

} // namespace

bool placed_right(const std::string& path, const Names& names) {
    return ends_with_path(path, names.header) ||
           fail(path, "is not " + names.header + " below a folder, where the header belongs");
}

bool open_input(const std::string& path, Input& input) {
    // Looked at before it is opened: opening a FIFO waits for a writer that may never come.
    platform::InputFacts seen;
    if (platform::facts_of_path(path, seen) && !seen.is_regular && !seen.is_directory)
        return fail(path, "is a FIFO, socket or device, not a file; nothing was read from it");
    input.file.reset(platform::open_input(path.c_str()));
    if (!input.file)
        return fail(path, std::strerror(errno));
    if (!platform::facts_of_input(input.file.get(), input.facts) || input.facts.is_directory)
        return fail(path, "cannot be read as a file");
    return true;
}

bool read_whole(const std::string& path, std::string& bytes) {
    Input input;
    if (!open_input(path, input))
        return false;
    bytes.reserve(bytes.size() + input.facts.size);
    char block[65536];
    std::size_t got;
    while ((got = std::fread(block, 1, sizeof block, input.file.get())) > 0)
        bytes.append(block, got);
    // The end only where the stream says so: a read can fail unflagged.
    return (std::feof(input.file.get()) && !std::ferror(input.file.get())) ||
           fail(path, "could not be read");
}

bool copy_input(const std::string& path, Input& input, const std::string& object, std::FILE* out,
                const Seen& seen, std::uint64_t skip) {
    // Sized to the file (and one byte more, to see it grow) up to 1 MiB: a library of thousands
    // of small files would otherwise clear a megabyte for each.
    const std::uint64_t most = 1 << 20;
    std::vector<char> block(static_cast<std::size_t>(std::min(input.facts.size + 1, most)));
    std::uint64_t copied = 0;
    std::size_t got;
    while ((got = std::fread(block.data(), 1, block.size(), input.file.get())) > 0) {
        const std::uint64_t before = copied;
        copied += got;
        if (copied > input.facts.size)
            break;
        // What lies before `skip` is passed over.
        const std::size_t from = static_cast<std::size_t>(
            std::min<std::uint64_t>(got, before < skip ? skip - before : 0));
        if (seen && got > from)
            seen({block.data() + from, got - from});
        if (std::fwrite(block.data() + from, 1, got - from, out) != got - from)
            return fail_because(object, "could not be written");
    }
    if (std::ferror(input.file.get()))
        return fail(path, "could not be read");
    if (copied != input.facts.size ||
        !platform::input_unchanged(input.file.get(), input.facts, copied))
        return fail(path, "changed while it was read");
    return true;
}

bool copy_next(const std::string& path, Input& input, std::uint64_t size, const std::string& to,
               std::FILE* out) {
    std::vector<char> block(static_cast<std::size_t>(std::min<std::uint64_t>(size, 1 << 20)));
    for (std::uint64_t left = size; left > 0;) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
        const std::size_t got = std::fread(block.data(), 1, want, input.file.get());
        if (got != want)
            return fail(path, std::ferror(input.file.get()) ? "could not be read"
                                                            : "changed while it was read");
        if (std::fwrite(block.data(), 1, got, out) != got)
            return fail_because(to, "could not be written");
        left -= got;
    }
    return true;
}

bool write_array_text(const std::string& path, Input& input, const std::string& to, std::FILE* out,
                      const std::string& array, std::string_view line_end, bool nul_after,
                      const Seen& seen) {
    std::uint64_t read = 0;
    switch (write_array(input.file.get(), out, array, line_end, input.facts.size, &read, nul_after,
                        seen)) {
    case WriteResult::ok:
        return platform::input_unchanged(input.file.get(), input.facts, read) ||
               fail(path, "changed while it was read");
    case WriteResult::read_failed:
        return fail(path, "could not be read");
    case WriteResult::out_of_memory:
        return fail(to, "out of memory");
    case WriteResult::write_failed:
        break;
    }
    return fail_because(to, "could not be written");
}

bool put(std::FILE* out, const std::string& bytes, const std::string& path) {
    return std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size() ||
           fail_because(path, "could not be written");
}

bool print_out(const std::string& text) {
    return (std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
            std::fflush(stdout) == 0) ||
           fail_because("standard output", "could not be written");
}

bool write_file(const std::string& path, const platform::FileId& input,
                const std::function<bool(std::FILE*)>& write) {
    Output out;
    switch (out.open(path.c_str(), input)) {
    case Output::Opened::ok:
        break;
    case Output::Opened::is_input:
        return fail(path, "is the input itself");
    case Output::Opened::failed:
        return fail_because(path, "cannot be written");
    case Output::Opened::out_of_memory:
        return fail(path, "out of memory");
    }
    if (!write(out.file()))
        return false;
    return out.commit() || fail_because(path, "could not be written");
}

namespace {

bool is_same_text(const std::string& path, const std::string& text) {
    File file(platform::open_input(path.c_str()));
    if (!file)
        return false;
    std::string now(text.size() + 1, '\0');
    const std::size_t got = std::fread(now.data(), 1, now.size(), file.get());
    return got == text.size() && now.compare(0, got, text) == 0;
}

} // namespace

bool write_text(const std::string& path, const std::string& text, const platform::FileId& input) {
    if (is_same_text(path, text))
        return true;
    return write_file(path, input, [&](std::FILE* out) { return put(out, text, path); });
}

std::string& append_version(std::string& out, const platform::InputFacts& facts, char after) {
    for (const std::uint64_t number : {facts.size, facts.modified, facts.changed, facts.id.volume,
                                       facts.id.high, facts.id.low}) {
        char digits[24];
        out.append(digits, std::to_chars(digits, digits + sizeof digits, number).ptr)
            .push_back(after);
    }
    return out;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1)
        fields.emplace_back(text, start, end - start);
    fields.emplace_back(text, start);
    return fields;
}

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

bool read_probe(const std::string& path, ObjectTarget& target) {
    std::string bytes;
    std::string seen;
    if (!read_whole(path, bytes))
        return false;
    // A thin archive (Meson makes them) names its objects instead of holding them.
    std::string member;
    if (first_thin_member(bytes, member)) {
        if (!is_separator(member[0]))
            member = folder_of(path) + member;
        bytes.clear();
        if (!read_whole(member, bytes))
            return false;
    }
    return read_object_target(bytes, target, seen) || fail(path, "cannot be matched: " + seen);
}

} // namespace vormesta::step
