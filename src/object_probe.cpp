// The probe reader: what the target's compiler made (an object, or an archive of them), read
// for the format, machine, byte order, ABI flags and the spelling of C names that the writers
// copy. Everything read is untrusted: past its end reads as nothing.
#include "object_format.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace vormesta {

using namespace objects;

namespace {

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
    return machine == coff_i386 || machine == coff_amd64 || machine == coff_arm64 ||
           machine == coff_armnt;
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

namespace {

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

} // namespace

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

} // namespace vormesta
