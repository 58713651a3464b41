// 64-bit Mach-O objects (mach-o/loader.h and nlist.h name the fields and flags).
#include "object_format.hpp"

namespace vormesta::objects {
namespace {

constexpr std::uint64_t header_size = 32;
constexpr std::uint32_t mh_object = 1;
constexpr std::uint32_t mh_subsections_via_symbols = 0x2000;
constexpr std::uint32_t lc_segment_64 = 0x19, lc_symtab = 0x2;
constexpr std::uint64_t segment_command_size = 72, section_size = 80, symtab_command_size = 24;
constexpr std::uint32_t vm_prot_all = 7; // read, write, execute: what an object's segment says
constexpr std::uint32_t s_regular = 0;
constexpr std::uint8_t n_ext = 0x01, n_sect = 0x0E, n_pext = 0x10;
constexpr std::uint64_t nlist_64_size = 16;

} // namespace

// Mach-O: the data in __TEXT,__const, the symbol private extern (not exported from a dylib),
// and the probe's platform command, so that the linker takes the object for its platform.
bool lay_out_macho(const ObjectTarget& t, const std::vector<ObjectSymbol>& symbols,
                   std::uint64_t size, std::uint32_t alignment, ObjectLayout& layout,
                   std::string& refused) {
    const std::uint64_t commands_size =
        segment_command_size + section_size + t.platform_command.size() + symtab_command_size;
    const std::uint64_t data_at = align_up(header_size + commands_size, alignment);
    const std::uint64_t symbols_at = align_up(data_at + size, 8);
    StringTable strings(std::string(" \0", 2));
    std::vector<std::uint32_t> names;
    for (const ObjectSymbol& symbol : symbols)
        names.push_back(strings.add(t.symbol_prefix + symbol.name));
    const std::uint64_t strings_at = symbols_at + nlist_64_size * symbols.size();
    const std::uint64_t strings_size = align_up(strings.bytes().size(), 8);
    if (strings_at + strings_size > max_32) {
        refused = too_large(size, "a Mach-O object");
        return false;
    }
    Bytes head(layout.before, false);
    head.u32(macho_magic_64);
    head.u32(t.cpu_type);
    head.u32(t.cpu_subtype);
    head.u32(mh_object);
    head.u32(t.platform_command.empty() ? 2 : 3); // ncmds
    head.u32(commands_size);
    // Subsections via symbols only for one: a library's offsets reach past its symbols.
    head.u32(symbols.size() == 1 ? mh_subsections_via_symbols : 0);
    head.u32(0); // reserved
    head.u32(lc_segment_64);
    head.u32(segment_command_size + section_size);
    head.name("", 16);
    head.u64(0); // vmaddr
    head.u64(size);
    head.u64(data_at);
    head.u64(size);
    head.u32(vm_prot_all); // maxprot
    head.u32(vm_prot_all); // initprot
    head.u32(1);           // nsects
    head.u32(0);           // flags
    head.name("__const", 16);
    head.name("__TEXT", 16);
    head.u64(0); // addr
    head.u64(size);
    head.u32(data_at);
    head.u32(log2_of(alignment));
    head.u32(0); // reloff
    head.u32(0); // nreloc
    head.u32(s_regular);
    head.u32(0); // reserved1
    head.u32(0); // reserved2
    head.u32(0); // reserved3
    layout.before += t.platform_command;
    head.u32(lc_symtab);
    head.u32(symtab_command_size);
    head.u32(symbols_at);
    head.u32(static_cast<std::uint32_t>(symbols.size()));
    head.u32(strings_at);
    head.u32(strings_size);
    head.pad_to(data_at);

    Bytes rest(layout.after, false);
    layout.after.append(small(symbols_at - data_at - size), '\0');
    for (std::size_t i = 0; i < symbols.size(); ++i) {
        rest.u32(names[i]);
        rest.u8(n_sect | n_ext | n_pext);
        rest.u8(1);  // n_sect: the one section
        rest.u16(0); // n_desc
        rest.u64(symbols[i].offset);
    }
    layout.after += strings.bytes();
    layout.after.append(small(strings_size - strings.bytes().size()), '\0');
    return true;
}

} // namespace vormesta::objects
