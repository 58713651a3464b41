#include "object_file.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace vormesta {
namespace {

// A count known to be small (padding, a table), as a size in memory on any host.
std::size_t small(std::uint64_t count) {
    return static_cast<std::size_t>(count);
}

// A count read from a file, no larger than `limit`.
std::size_t clamped(std::uint64_t count, std::size_t limit) {
    return count < limit ? static_cast<std::size_t>(count) : limit;
}

// Numbers as the target stores them.
class Bytes {
  public:
    Bytes(std::string& out, bool big_endian) : out_(out), big_endian_(big_endian) {}
    void put(std::uint64_t value, int size) {
        for (int i = 0; i < size; ++i) {
            const int shift = 8 * (big_endian_ ? size - 1 - i : i);
            out_ += static_cast<char>((value >> shift) & 0xFF);
        }
    }
    void u8(std::uint64_t value) { put(value, 1); }
    void u16(std::uint64_t value) { put(value, 2); }
    void u32(std::uint64_t value) { put(value, 4); }
    void u64(std::uint64_t value) { put(value, 8); }
    // An address-sized field: 8 bytes in 64-bit objects, 4 in 32-bit ones.
    void word(std::uint64_t value, bool is_64) { put(value, is_64 ? 8 : 4); }
    // A fixed-size name field, padded with NULs.
    void name(std::string_view text, std::size_t size) {
        out_.append(text.substr(0, size));
        out_.append(size - std::min(size, text.size()), '\0');
    }
    void pad_to(std::uint64_t size) { out_.append(small(size - out_.size()), '\0'); }

  private:
    std::string& out_;
    bool big_endian_;
};

std::uint64_t align_up(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

std::uint32_t log2_of(std::uint32_t power) {
    std::uint32_t log = 0;
    while ((std::uint32_t{1} << log) < power)
        ++log;
    return log;
}

std::string hex(std::uint64_t value) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), digits[value & 0xF]);
        value >>= 4;
    } while (value);
    return "0x" + text;
}

// Reads numbers from an untrusted file: anything past the end reads as 0 and marks it torn.
class Reader {
  public:
    Reader(std::string_view data, bool big_endian) : data_(data), big_endian_(big_endian) {}
    std::uint64_t get(std::uint64_t offset, int size) {
        if (offset > data_.size() || data_.size() - offset < static_cast<std::uint64_t>(size)) {
            torn_ = true;
            return 0;
        }
        std::uint64_t value = 0;
        for (int i = 0; i < size; ++i) {
            const auto byte = static_cast<unsigned char>(
                data_[static_cast<std::size_t>(offset) + static_cast<std::size_t>(i)]);
            value |= std::uint64_t{byte} << (8 * (big_endian_ ? size - 1 - i : i));
        }
        return value;
    }
    std::uint64_t u16(std::uint64_t offset) { return get(offset, 2); }
    std::uint64_t u32(std::uint64_t offset) { return get(offset, 4); }
    std::uint64_t word(std::uint64_t offset, bool is_64) { return get(offset, is_64 ? 8 : 4); }
    // The NUL-ended string at `offset`, at most `limit` bytes.
    std::string_view text(std::uint64_t offset, std::uint64_t limit = std::string_view::npos) {
        if (offset >= data_.size())
            return {};
        const std::string_view rest =
            data_.substr(static_cast<std::size_t>(offset), clamped(limit, data_.size()));
        return rest.substr(0, rest.find('\0'));
    }
    std::string_view slice(std::uint64_t offset, std::uint64_t size) {
        if (offset > data_.size() || data_.size() - offset < size) {
            torn_ = true;
            return {};
        }
        return data_.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(size));
    }
    bool torn() const { return torn_; }

  private:
    std::string_view data_;
    bool big_endian_;
    bool torn_ = false;
};

// The part of a symbol's name before the probe's name, when it is the probe's symbol.
bool take_prefix(std::string_view name, ObjectTarget& target) {
    if (name.size() < probe_symbol.size() ||
        name.substr(name.size() - probe_symbol.size()) != probe_symbol)
        return false;
    target.symbol_prefix = std::string(name.substr(0, name.size() - probe_symbol.size()));
    return true;
}

// Says that the object lacks the probe's symbol, and so how C names are spelled.
bool without_probe_symbol(const ObjectTarget& target, std::string& seen) {
    seen = describe(target) + ", without the symbol " + std::string(probe_symbol);
    return false;
}

constexpr std::uint16_t elf_i386 = 3;
constexpr std::uint16_t elf_x86_64 = 62;
constexpr std::uint16_t elf_aarch64 = 183;
constexpr std::uint16_t coff_i386 = 0x14C;
constexpr std::uint32_t macho_magic_64 = 0xFEEDFACF;

bool read_elf(std::string_view data, ObjectTarget& target, std::string& seen) {
    if (data.size() < 20 || (data[4] != 1 && data[4] != 2) || (data[5] != 1 && data[5] != 2)) {
        seen = "an ELF file of a class or byte order this tool does not write";
        return false;
    }
    target.format = ObjectTarget::Format::elf;
    target.is_64 = data[4] == 2;
    target.big_endian = data[5] == 2;
    target.os_abi = static_cast<std::uint8_t>(data[7]);
    target.abi_version = static_cast<std::uint8_t>(data[8]);
    Reader in(data, target.big_endian);
    const bool w = target.is_64;
    if (in.u16(16) != 1) {
        seen = "an ELF file that is not a relocatable object (type " + std::to_string(in.u16(16)) +
               ")";
        return false;
    }
    target.machine = static_cast<std::uint16_t>(in.u16(18));
    target.flags = static_cast<std::uint32_t>(in.u32(w ? 48 : 36));
    const std::uint64_t sections = in.word(w ? 40 : 32, w);
    const std::uint64_t entry = in.u16(w ? 58 : 46);
    const std::uint64_t count = in.u16(w ? 60 : 48);
    for (std::uint64_t i = 0; i < count && !in.torn(); ++i) {
        const std::uint64_t header = sections + i * entry;
        if (in.u32(header + 4) != 2) // SHT_SYMTAB
            continue;
        const std::uint64_t strings = sections + in.u32(header + (w ? 40 : 24)) * entry;
        const std::uint64_t strings_at = in.word(strings + (w ? 24 : 16), w);
        const std::uint64_t strings_size = in.word(strings + (w ? 32 : 20), w);
        const std::uint64_t symbols_at = in.word(header + (w ? 24 : 16), w);
        const std::uint64_t symbols_size = in.word(header + (w ? 32 : 20), w);
        const std::uint64_t symbol_size = w ? 24 : 16;
        for (std::uint64_t at = symbols_at;
             at + symbol_size <= symbols_at + symbols_size && !in.torn(); at += symbol_size) {
            const std::uint64_t name = in.u32(at);
            if (name < strings_size &&
                take_prefix(in.text(strings_at + name, strings_size - name), target))
                return true;
        }
    }
    // GCC's LTO objects hold the code as its own bytecode, and the symbols elsewhere.
    if (data.find("__gnu_lto_slim") != std::string_view::npos) {
        seen = "GCC's LTO bytecode, as -flto makes: make the probe without LTO (-fno-lto)";
        return false;
    }
    return without_probe_symbol(target, seen);
}

bool is_coff_machine(std::uint64_t machine) {
    return machine == coff_i386 || machine == 0x8664 || machine == 0xAA64 || machine == 0x1C4;
}

// COFF, or its big-object form (MinGW's -Wa,-mbig-obj, MSVC's /bigobj): a longer header and
// longer symbol records, the same names.
bool read_coff(std::string_view data, ObjectTarget& target, std::string& seen, bool big) {
    Reader in(data, false);
    target.format = ObjectTarget::Format::coff;
    target.machine = static_cast<std::uint16_t>(in.u16(big ? 6 : 0));
    const std::uint64_t symbols = in.u32(big ? 48 : 8);
    const std::uint64_t count = in.u32(big ? 52 : 12);
    const std::uint64_t record = big ? 20 : 18;
    const std::uint64_t strings = symbols + count * record;
    for (std::uint64_t i = 0; i < count && !in.torn();
         i += 1 + in.get(symbols + i * record + record - 1, 1)) {
        const std::uint64_t at = symbols + i * record;
        const std::string_view name =
            in.u32(at) == 0 ? in.text(strings + in.u32(at + 4)) : in.text(at, 8);
        if (take_prefix(name, target))
            return true;
    }
    return without_probe_symbol(target, seen);
}

bool read_macho(std::string_view data, ObjectTarget& target, std::string& seen) {
    Reader in(data, false);
    target.format = ObjectTarget::Format::macho;
    target.is_64 = true;
    target.cpu_type = static_cast<std::uint32_t>(in.u32(4));
    target.cpu_subtype = static_cast<std::uint32_t>(in.u32(8));
    const std::uint64_t commands = in.u32(16);
    std::uint64_t at = 32;
    bool named = false;
    for (std::uint64_t i = 0; i < commands && !in.torn(); ++i) {
        const std::uint64_t command = in.u32(at);
        const std::uint64_t size = in.u32(at + 4);
        // Build version, or the older minimum-version commands of each platform.
        if (command == 0x32 || command == 0x24 || command == 0x25 || command == 0x2F ||
            command == 0x30)
            target.platform_command = std::string(in.slice(at, size));
        if (command == 0x2) { // LC_SYMTAB
            const std::uint64_t symbols = in.u32(at + 8);
            const std::uint64_t count = in.u32(at + 12);
            const std::uint64_t strings = in.u32(at + 16);
            const std::uint64_t strings_size = in.u32(at + 20);
            for (std::uint64_t s = 0; s < count && !in.torn(); ++s) {
                const std::uint64_t name = in.u32(symbols + s * 16);
                if (name < strings_size &&
                    take_prefix(in.text(strings + name, strings_size - name), target))
                    named = true;
            }
        }
        if (size < 8)
            break;
        at += size;
    }
    // The platform command may follow the symbols: every command is looked at.
    return named || without_probe_symbol(target, seen);
}

std::uint64_t decimal(std::string_view field) {
    return std::strtoull(std::string(field).c_str(), nullptr, 10);
}

// One member of an archive, from its header at `at`: its name field, where its data lie, and
// where the next header is. A thin archive keeps only the linker's tables inside; its other
// members are files of their own. False past the last.
struct Member {
    std::string_view name;
    bool table = false; // the symbol table or the long names
    std::size_t start = 0;
    std::size_t length = 0;
    std::size_t next = 0;
};

bool member_at(std::string_view archive, std::size_t at, bool thin, Member& member) {
    if (at + 60 > archive.size())
        return false;
    member.name = archive.substr(at, 16);
    member.table = member.name.substr(0, 2) == "/ " || member.name.substr(0, 2) == "//" ||
                   member.name.substr(0, 7) == "/SYM64/";
    member.start = at + 60;
    member.length = thin && !member.table ? 0
                                          : clamped(decimal(archive.substr(at + 48, 10)),
                                                    archive.size() - member.start);
    if (member.name.substr(0, 3) == "#1/") { // BSD: the name comes first in the member
        const std::size_t name_size = clamped(decimal(member.name.substr(3)), member.length);
        member.start += name_size;
        member.length -= name_size;
    }
    const std::size_t end = member.start + member.length;
    member.next = end + (end & 1);
    return true;
}

// The first member of an archive that is an object of a kind this code reads. Every member is
// tried: the linker's tables match no object's magic, and MSVC's members may be named "/123".
bool read_archive(std::string_view data, ObjectTarget& target, std::string& seen) {
    seen = "an archive holding no object";
    Member member;
    for (std::size_t at = 8; member_at(data, at, false, member); at = member.next) {
        std::string member_seen;
        if (read_object_target(data.substr(member.start, member.length), target, member_seen))
            return true;
        if (member_seen.find("not an object") == std::string::npos)
            seen = member_seen;
    }
    return false;
}

std::string machine_words(const ObjectTarget& target) {
    if (target.format == ObjectTarget::Format::macho)
        return "CPU " + hex(target.cpu_type) + "/" + hex(target.cpu_subtype);
    return "machine " + hex(target.machine);
}

} // namespace

bool first_thin_member(std::string_view archive, std::string& path) {
    if (archive.substr(0, 8) != "!<thin>\n")
        return false;
    std::string_view long_names;
    Member member;
    for (std::size_t at = 8; member_at(archive, at, true, member); at = member.next) {
        if (member.name.substr(0, 2) == "//")
            long_names = archive.substr(member.start, member.length);
        if (member.table)
            continue;
        if (member.name[0] == '/') {
            const std::string_view rest =
                long_names.substr(clamped(decimal(member.name.substr(1)), long_names.size()));
            path = std::string(rest.substr(0, rest.find("/\n")));
        } else {
            path = std::string(member.name.substr(0, member.name.find('/')));
        }
        return !path.empty();
    }
    return false;
}

// What a universal Mach-O file holds, for a probe made for several architectures at once.
std::string universal_macho(std::string_view object) {
    Reader in(object, true);
    const std::uint64_t count = in.u32(4);
    std::string names;
    for (std::uint64_t i = 0; i < std::min<std::uint64_t>(count, 8); ++i) {
        const std::uint64_t cpu = in.u32(8 + i * 20);
        names += std::string(names.empty() ? "" : ", ") +
                 (cpu == 0x01000007 ? "x86_64" : cpu == 0x0100000C ? "arm64" : hex(cpu));
    }
    return "a universal Mach-O file of " + std::to_string(count) + " architectures (" + names +
           "): make the probe for one architecture, and a library for each";
}

bool read_object_target(std::string_view object, ObjectTarget& target, std::string& seen) {
    target = ObjectTarget{};
    if (object.substr(0, 4) == "\x7f"
                               "ELF")
        return read_elf(object, target, seen);
    if (object.substr(0, 8) == "!<arch>\n")
        return read_archive(object, target, seen);
    Reader in(object, false);
    if (in.u32(0) == macho_magic_64)
        return read_macho(object, target, seen);
    if (object.size() >= 20 && is_coff_machine(in.u16(0)) && in.u16(16) == 0)
        return read_coff(object, target, seen, false);
    // An anonymous COFF object: the big-object form by its class, or MSVC's /GL code.
    static constexpr char bigobj_class[] = "\xc7\xa1\xba\xd1\xee\xba\xa9\x4b\xaf\x20\xfa\xf6"
                                           "\x6a\xa4\xdc\xb8";
    const bool anonymous = object.size() >= 56 && in.u16(0) == 0 && in.u16(2) == 0xFFFF;
    if (anonymous && object.substr(12, 16) == std::string_view(bigobj_class, 16) &&
        is_coff_machine(in.u16(6)))
        return read_coff(object, target, seen, true);
    if (anonymous) {
        seen = "an anonymous COFF object, as MSVC's /GL makes for link-time code generation: "
               "make the probe without /GL";
        return false;
    }
    if (object.substr(0, 4) == "BC\xc0\xde" || in.u32(0) == 0x0B17C0DE) {
        seen = "LLVM bitcode, as -flto makes: make the probe without LTO (-fno-lto)";
        return false;
    }
    if (Reader(object, true).u32(0) == 0xCAFEBABE) {
        seen = universal_macho(object);
        return false;
    }
    seen = "not an object this tool writes (ELF, COFF or 64-bit Mach-O): it starts with";
    for (std::size_t i = 0; i < std::min<std::size_t>(object.size(), 8); ++i)
        seen += " " + hex(static_cast<unsigned char>(object[i]));
    return false;
}

std::string describe(const ObjectTarget& target) {
    std::string text;
    switch (target.format) {
    case ObjectTarget::Format::elf:
        text = std::string("ELF ") + (target.is_64 ? "64" : "32") + "-bit " +
               (target.big_endian ? "big" : "little") + "-endian, " + machine_words(target) +
               ", flags " + hex(target.flags) + ", OS ABI " + std::to_string(target.os_abi);
        break;
    case ObjectTarget::Format::coff:
        text = "COFF, " + machine_words(target);
        break;
    case ObjectTarget::Format::macho:
        text = "Mach-O 64-bit, " + machine_words(target);
        break;
    }
    return text + ", C names spelled '" + target.symbol_prefix + "name'";
}

namespace {

constexpr std::uint32_t max_32 = 0xFFFFFFFF;

std::string too_large(std::uint64_t size, const char* format) {
    return std::to_string(size) + " bytes are more than " + format + " can hold";
}

// The GNU property note of data on a machine whose linkers AND control-flow features across
// their inputs: a program keeps its hardening only when every object claims it, and data
// honours every such feature (x86: IBT and shadow stack; aarch64: BTI and PAC). Empty for
// other machines. Nothing that raises what a program needs (no ISA level).
std::string gnu_property_note(const ObjectTarget& t) {
    constexpr std::uint32_t nt_gnu_property_type_0 = 5;
    constexpr std::uint32_t x86_feature_1_and = 0xC0000002; // IBT 1, SHSTK 2
    constexpr std::uint32_t aarch64_feature_1_and = 0xC0000000; // BTI 1, PAC 2
    std::uint32_t property = 0;
    if (t.machine == elf_x86_64 || t.machine == elf_i386)
        property = x86_feature_1_and;
    else if (t.machine == elf_aarch64 && t.is_64)
        property = aarch64_feature_1_and;
    if (!property)
        return {};
    // The property's data is padded to the word: 8 bytes in 64-bit objects, 4 in 32-bit ones.
    const std::uint32_t data_size = t.is_64 ? 16 : 12;
    std::string note;
    Bytes out(note, t.big_endian);
    out.u32(4); // "GNU\0"
    out.u32(data_size);
    out.u32(nt_gnu_property_type_0);
    note.append("GNU", 4);
    out.u32(property);
    out.u32(4);
    out.u32(3);
    out.pad_to(note.size() + (t.is_64 ? 4 : 0));
    return note;
}

// Past this size x86-64 data goes where GCC's medium code model puts large data (its default
// -mlarge-data-threshold): .lrodata, which linkers place after every small section, so that
// code keeps its 2 GiB reach to them however much data the program holds. The index reaches
// the files through 64-bit pointers, from any code model.
constexpr std::uint64_t large_data_threshold = 65536;
constexpr std::uint64_t shf_x86_64_large = 0x10000000;

// ELF: the data in .rodata (.lrodata past the threshold on x86-64), an empty
// .note.GNU-stack so that the stack stays non-executable, the GNU property note, and the
// symbols, with their sizes, hidden: a shared library that links the object exports none.
bool lay_out_elf(const ObjectTarget& t, const std::vector<ObjectSymbol>& symbols,
                 std::uint64_t size, std::uint32_t alignment, ObjectLayout& layout,
                 std::string& refused) {
    const bool w = t.is_64;
    const bool large = t.machine == elf_x86_64 && w && size > large_data_threshold;
    const std::string data_name = large ? ".lrodata" : ".rodata";
    static constexpr char fixed_names[] = ".note.GNU-stack\0.symtab\0.strtab\0.shstrtab";
    const std::string note = gnu_property_note(t);
    const int section_count = note.empty() ? 6 : 7;
    std::string shstrtab =
        std::string(1, '\0') + data_name + '\0' + std::string(fixed_names, sizeof fixed_names);
    const auto name_property = static_cast<std::uint32_t>(shstrtab.size());
    if (!note.empty())
        shstrtab.append(".note.gnu.property", sizeof ".note.gnu.property");
    std::string strtab(1, '\0');
    for (const ObjectSymbol& symbol : symbols)
        strtab += t.symbol_prefix + symbol.name + '\0';
    const std::uint64_t symbol_count = 1 + symbols.size();
    const std::uint32_t name_data = 1;
    const auto name_note = static_cast<std::uint32_t>(name_data + data_name.size() + 1);
    const std::uint32_t name_symtab = name_note + 16;
    const std::uint32_t name_strtab = name_symtab + 8;
    const std::uint32_t name_shstrtab = name_strtab + 8;

    const std::uint64_t header_size = w ? 64 : 52;
    const std::uint64_t symbol_size = w ? 24 : 16;
    const std::uint64_t word = w ? 8 : 4;
    const std::uint64_t data_at = align_up(header_size, alignment);
    const std::uint64_t note_at = align_up(data_at + size, word);
    const std::uint64_t symtab_at = note_at + note.size();
    const std::uint64_t strtab_at = symtab_at + symbol_count * symbol_size;
    const std::uint64_t shstrtab_at = strtab_at + strtab.size();
    const std::uint64_t sections_at = align_up(shstrtab_at + shstrtab.size(), word);
    if (!w && sections_at + static_cast<std::uint64_t>(section_count) * 40 > max_32) {
        refused = too_large(size, "a 32-bit ELF object");
        return false;
    }

    Bytes head(layout.before, t.big_endian);
    layout.before.append("\x7f"
                         "ELF");
    head.u8(w ? 2 : 1);
    head.u8(t.big_endian ? 2 : 1);
    head.u8(1); // EV_CURRENT
    head.u8(t.os_abi);
    head.u8(t.abi_version);
    head.pad_to(16);
    head.u16(1); // ET_REL
    head.u16(t.machine);
    head.u32(1);
    head.word(0, w); // entry
    head.word(0, w); // program headers
    head.word(sections_at, w);
    head.u32(t.flags);
    head.u16(header_size);
    head.u16(0);
    head.u16(0);
    head.u16(w ? 64 : 40);
    head.u16(static_cast<std::uint64_t>(section_count));
    head.u16(5); // .shstrtab
    head.pad_to(data_at);

    // The tail is laid out from the end of the data: offsets below count from there.
    const std::uint64_t tail = data_at + size;
    std::string& out = layout.after;
    Bytes rest(out, t.big_endian);
    out.append(small(note_at - tail), '\0');
    out += note;
    out.append(small(symbol_size), '\0'); // the null symbol
    std::uint32_t name = 1;
    for (const ObjectSymbol& symbol : symbols) {
        rest.u32(name);
        name += static_cast<std::uint32_t>(t.symbol_prefix.size() + symbol.name.size() + 1);
        if (w) {
            rest.u8(0x11); // global object
            rest.u8(2);    // hidden
            rest.u16(1);
            rest.u64(symbol.offset);
            rest.u64(symbol.size);
        } else {
            rest.u32(static_cast<std::uint32_t>(symbol.offset));
            rest.u32(static_cast<std::uint32_t>(symbol.size));
            rest.u8(0x11);
            rest.u8(2);
            rest.u16(1);
        }
    }
    out += strtab;
    out += shstrtab;
    out.append(small(sections_at - tail - out.size()), '\0');
    auto section = [&](std::uint32_t name_at, std::uint32_t type, std::uint64_t flags,
                       std::uint64_t offset, std::uint64_t bytes, std::uint32_t link,
                       std::uint32_t info, std::uint64_t align, std::uint64_t entry) {
        rest.u32(name_at);
        rest.u32(type);
        rest.word(flags, w);
        rest.word(0, w);
        rest.word(offset, w);
        rest.word(bytes, w);
        rest.u32(link);
        rest.u32(info);
        rest.word(align, w);
        rest.word(entry, w);
    };
    section(0, 0, 0, 0, 0, 0, 0, 0, 0);
    section(name_data, 1, large ? shf_x86_64_large | 0x2 : 0x2, data_at, size, 0, 0, alignment, 0);
    section(name_note, 1, 0, shstrtab_at, 0, 0, 0, 1, 0);
    section(name_symtab, 2, 0, symtab_at, symbol_count * symbol_size, 4, 1, word, symbol_size);
    section(name_strtab, 3, 0, strtab_at, strtab.size(), 0, 0, 1, 0);
    section(name_shstrtab, 3, 0, shstrtab_at, shstrtab.size(), 0, 0, 1, 0);
    if (!note.empty())
        section(name_property, 7, 0x2, note_at, note.size(), 0, 0, word, 0); // SHT_NOTE, alloc
    return true;
}

// COFF: the data in .rdata, read-only and aligned; x86 objects say they are safe for SafeSEH
// (@feat.00), which Visual Studio's linker asks of every x86 object.
bool lay_out_coff(const ObjectTarget& t, const std::vector<ObjectSymbol>& symbols,
                  std::uint64_t size, std::uint32_t alignment, ObjectLayout& layout,
                  std::string& refused) {
    // GNU ld's directive names C names, without the x86 prefix.
    std::string directive;
    for (const ObjectSymbol& symbol : symbols)
        if (t.gnu_ld)
            directive += (directive.empty() ? " -exclude-symbols:" : ",") + symbol.name;
    const std::uint16_t section_count = directive.empty() ? 1 : 2;
    const std::uint64_t data_at = 20 + 40 * std::uint64_t{section_count};
    const bool safe_seh = t.machine == coff_i386;
    const std::uint64_t directive_at = data_at + size;
    const std::uint64_t symbols_at = directive_at + directive.size();
    if (symbols_at > max_32) {
        refused = too_large(size, "a COFF object");
        return false;
    }
    Bytes head(layout.before, false);
    head.u16(t.machine);
    head.u16(section_count);
    head.u32(0); // no time stamp: the same bytes give the same object
    head.u32(symbols_at);
    head.u32(static_cast<std::uint32_t>(symbols.size() + (safe_seh ? 1 : 0)));
    head.u16(0);
    head.u16(0);
    head.name(".rdata", 8);
    head.u32(0);
    head.u32(0);
    head.u32(size);
    head.u32(data_at);
    head.u32(0);
    head.u32(0);
    head.u16(0);
    head.u16(0);
    const std::uint32_t align_flag = (log2_of(alignment) + 1) << 20;
    head.u32(0x40000040u | align_flag); // initialized data, read
    if (!directive.empty()) {
        head.name(".drectve", 8);
        head.u32(0);
        head.u32(0);
        head.u32(directive.size());
        head.u32(directive_at);
        head.u32(0);
        head.u32(0);
        head.u16(0);
        head.u16(0);
        head.u32(0x00100A00u); // linker information, removed, 1-byte aligned
    }

    Bytes rest(layout.after, false);
    layout.after += directive;
    std::string strings;
    for (const ObjectSymbol& symbol : symbols) {
        rest.u32(0); // the name is in the string table
        rest.u32(static_cast<std::uint32_t>(4 + strings.size()));
        rest.u32(static_cast<std::uint32_t>(symbol.offset));
        rest.u16(1);
        rest.u16(0);
        rest.u8(2); // external
        rest.u8(0);
        strings += t.symbol_prefix + symbol.name + '\0';
    }
    if (safe_seh) {
        rest.name("@feat.00", 8);
        rest.u32(1);
        rest.u16(0xFFFF); // absolute
        rest.u16(0);
        rest.u8(3); // static
        rest.u8(0);
    }
    rest.u32(static_cast<std::uint32_t>(4 + strings.size()));
    layout.after += strings;
    return true;
}

// Mach-O: the data in __TEXT,__const, the symbol private extern (not exported from a dylib),
// and the probe's platform command, so that the linker takes the object for its platform.
bool lay_out_macho(const ObjectTarget& t, const std::vector<ObjectSymbol>& symbols,
                   std::uint64_t size, std::uint32_t alignment, ObjectLayout& layout,
                   std::string& refused) {
    const std::uint64_t commands_size = 72 + 80 + t.platform_command.size() + 24;
    const std::uint64_t data_at = align_up(32 + commands_size, alignment);
    const std::uint64_t symbols_at = align_up(data_at + size, 8);
    std::string strings(" \0", 2);
    for (const ObjectSymbol& symbol : symbols)
        strings += t.symbol_prefix + symbol.name + '\0';
    const std::uint64_t strings_at = symbols_at + 16 * symbols.size();
    const std::uint64_t strings_size = align_up(strings.size(), 8);
    if (strings_at + strings_size > max_32) {
        refused = too_large(size, "a Mach-O object");
        return false;
    }
    Bytes head(layout.before, false);
    head.u32(macho_magic_64);
    head.u32(t.cpu_type);
    head.u32(t.cpu_subtype);
    head.u32(1); // MH_OBJECT
    head.u32(t.platform_command.empty() ? 2 : 3);
    head.u32(commands_size);
    // Subsections via symbols only for one: a library's offsets reach past its symbols.
    head.u32(symbols.size() == 1 ? 0x2000 : 0);
    head.u32(0);
    head.u32(0x19); // LC_SEGMENT_64
    head.u32(72 + 80);
    head.name("", 16);
    head.u64(0);
    head.u64(size);
    head.u64(data_at);
    head.u64(size);
    head.u32(7);
    head.u32(7);
    head.u32(1);
    head.u32(0);
    head.name("__const", 16);
    head.name("__TEXT", 16);
    head.u64(0);
    head.u64(size);
    head.u32(data_at);
    head.u32(log2_of(alignment));
    head.u32(0);
    head.u32(0);
    head.u32(0); // S_REGULAR
    head.u32(0);
    head.u32(0);
    head.u32(0);
    layout.before += t.platform_command;
    head.u32(0x2); // LC_SYMTAB
    head.u32(24);
    head.u32(symbols_at);
    head.u32(static_cast<std::uint32_t>(symbols.size()));
    head.u32(strings_at);
    head.u32(strings_size);
    head.pad_to(data_at);

    Bytes rest(layout.after, false);
    layout.after.append(small(symbols_at - data_at - size), '\0');
    std::uint32_t name = 2; // after the leading " \0"
    for (const ObjectSymbol& symbol : symbols) {
        rest.u32(name);
        name += static_cast<std::uint32_t>(t.symbol_prefix.size() + symbol.name.size() + 1);
        rest.u8(0x1F); // defined in a section, external, private extern
        rest.u8(1);
        rest.u16(0);
        rest.u64(symbol.offset);
    }
    layout.after += strings;
    layout.after.append(small(strings_size - strings.size()), '\0');
    return true;
}

} // namespace

bool lay_out_object(const ObjectTarget& target, const std::vector<ObjectSymbol>& symbols,
                    std::uint64_t size, std::uint32_t alignment, ObjectLayout& layout,
                    std::string& refused) {
    layout = ObjectLayout{};
    switch (target.format) {
    case ObjectTarget::Format::elf:
        return lay_out_elf(target, symbols, size, alignment, layout, refused);
    case ObjectTarget::Format::coff:
        return lay_out_coff(target, symbols, size, alignment, layout, refused);
    case ObjectTarget::Format::macho:
        return lay_out_macho(target, symbols, size, alignment, layout, refused);
    }
    return false;
}

} // namespace vormesta
