// COFF objects for Windows (winnt.h names the fields and flags).
#include "object_format.hpp"

namespace vormesta::objects {
namespace {

constexpr std::uint64_t file_header_size = 20, section_header_size = 40;
constexpr std::uint32_t image_scn_cnt_initialized_data = 0x00000040;
constexpr std::uint32_t image_scn_lnk_info = 0x00000200;
constexpr std::uint32_t image_scn_lnk_remove = 0x00000800;
constexpr std::uint32_t image_scn_align_1bytes = 0x00100000; // 2^(n-1) bytes for n in bits 20-23
constexpr std::uint32_t image_scn_lnk_nreloc_ovfl = 0x01000000;
constexpr std::uint32_t image_scn_mem_read = 0x40000000;
constexpr std::uint16_t image_sym_absolute = 0xFFFF; // section number -1
constexpr std::uint8_t image_sym_class_external = 2, image_sym_class_static = 3;
// @feat.00's value: bit 0 says the object's handlers (none here) are registered for SafeSEH.
constexpr std::uint32_t feat_safe_seh = 1;

// The section flag for an alignment (a power of two up to 8192).
std::uint32_t align_flag(std::uint32_t alignment) {
    return (log2_of(alignment) + 1) * image_scn_align_1bytes;
}

} // namespace

bool coff_address_relocation(const ObjectTarget& t, AddressRelocation& relocation) {
    // IMAGE_REL_AMD64_ADDR64, IMAGE_REL_ARM64_ADDR64, IMAGE_REL_I386_DIR32, IMAGE_REL_ARM_ADDR32
    const std::uint32_t type = t.machine == coff_amd64   ? 0x1
                               : t.machine == coff_arm64 ? 0xE
                               : t.machine == coff_i386  ? 0x6
                               : t.machine == coff_armnt ? 0x1
                                                         : 0;
    relocation = {type, false};
    return type != 0;
}

namespace {

// An address's size: 8 bytes on 64-bit machines, 4 on the others.
std::uint32_t address_size(const ObjectTarget& t) {
    return t.machine == coff_amd64 || t.machine == coff_arm64 ? 8 : 4;
}

// The table's words, and a relocation for each address among them against the section symbol
// it is from (the addend in the word); past 65,535 relocations the first one holds their
// number. Gives the relocations' count.
std::uint64_t lay_out_coff_table(const ObjectTarget& t, const ObjectTable& table,
                                 std::uint64_t data_symbol, std::uint64_t table_symbol,
                                 std::string& words, std::string& relocations) {
    AddressRelocation relocation;
    coff_address_relocation(t, relocation);
    const std::uint32_t word = address_size(t);
    std::uint64_t count = 0;
    for (const ObjectWord& to : table.words)
        count += to.to != ObjectWord::To::number;
    Bytes entries(relocations, false);
    if (count > 0xFFFF) {
        entries.u32(count + 1);
        entries.u32(0);
        entries.u16(0); // IMAGE_REL_*_ABSOLUTE: no relocation
    }
    for (std::size_t i = 0; i < table.words.size(); ++i) {
        const ObjectWord& to = table.words[i];
        if (to.to == ObjectWord::To::number)
            continue;
        entries.u32(i * word);
        entries.u32(to.to == ObjectWord::To::data ? data_symbol : table_symbol);
        entries.u16(relocation.type);
    }
    words = table_bytes(table, word, false,
                        [&](const ObjectWord& to) { return table_place(table, to, word); });
    return count;
}

void put_section(Bytes& head, std::string_view name, std::uint64_t bytes, std::uint64_t offset,
                 std::uint32_t flags, std::uint64_t relocated_at = 0, std::uint64_t relocated = 0) {
    head.name(name, 8);
    head.u32(0); // VirtualSize
    head.u32(0); // VirtualAddress
    head.u32(bytes);
    head.u32(offset);
    head.u32(relocated_at);
    head.u32(0); // PointerToLinenumbers
    head.u16(std::min<std::uint64_t>(relocated, 0xFFFF));
    head.u16(0);
    head.u32(flags | (relocated > 0xFFFF ? image_scn_lnk_nreloc_ovfl : 0));
}

void put_symbol(Bytes& rest, std::uint32_t name, std::uint64_t value, std::uint16_t section) {
    rest.u32(0); // the name is in the string table
    rest.u32(name);
    rest.u32(static_cast<std::uint32_t>(value));
    rest.u16(section);
    rest.u16(0); // Type
    rest.u8(image_sym_class_external);
    rest.u8(0); // NumberOfAuxSymbols
}

// x86 objects say they are safe for SafeSEH, which Visual Studio's linker asks of every one.
void put_safe_seh(Bytes& rest) {
    rest.name("@feat.00", 8);
    rest.u32(feat_safe_seh);
    rest.u16(image_sym_absolute);
    rest.u16(0);
    rest.u8(image_sym_class_static);
    rest.u8(0);
}

// A section's own symbol, with its definition, that the table's relocations name.
void put_section_symbol(Bytes& rest, std::string_view name, std::uint16_t number,
                        std::uint64_t bytes, std::uint64_t relocated) {
    rest.name(name, 8);
    rest.u32(0);
    rest.u16(number);
    rest.u16(0);
    rest.u8(image_sym_class_static);
    rest.u8(1);
    rest.u32(bytes);
    rest.u16(std::min<std::uint64_t>(relocated, 0xFFFF));
    rest.u16(0); // NumberOfLinenumbers
    rest.u32(0); // CheckSum
    rest.u16(0); // Number
    rest.u8(0);  // Selection
    rest.name("", 3);
}

} // namespace

// COFF: the data in .rdata, read-only and aligned; x86 objects say they are safe for SafeSEH
// (@feat.00); for GNU ld, a .drectve that keeps the symbols out of a DLL's exports. A table
// goes in a section of its own that the linker puts in .rdata ("$" groups), its addresses
// relocated against the sections' symbols.
bool lay_out_coff(const ObjectTarget& t, const std::vector<ObjectSymbol>& symbols,
                  std::uint64_t size, std::uint32_t alignment, ObjectLayout& layout,
                  std::string& refused, const ObjectTable* table) {
    std::vector<ObjectSymbol> named = symbols;
    if (table)
        named.push_back({table->symbol, 0, 0});
    // GNU ld's directive names C names, without the x86 prefix.
    std::string directive;
    for (const ObjectSymbol& symbol : named)
        if (t.gnu_ld)
            directive += (directive.empty() ? " -exclude-symbols:" : ",") + symbol.name;
    const std::uint16_t table_section = directive.empty() ? 2 : 3;
    const auto section_count = static_cast<std::uint16_t>(table_section - 1 + (table ? 1 : 0));
    const std::uint64_t data_at = file_header_size + section_header_size * section_count;
    const bool safe_seh = t.machine == coff_i386;
    const std::uint64_t directive_at = data_at + size;
    const std::uint64_t data_symbol = named.size() + (safe_seh ? 1 : 0),
                        table_symbol = data_symbol + 2;
    std::string table_data, relocations;
    const std::uint64_t relocation_count =
        table ? lay_out_coff_table(t, *table, data_symbol, table_symbol, table_data, relocations)
              : 0;
    const std::uint64_t table_at = directive_at + directive.size();
    const std::uint64_t relocations_at = table_at + table_data.size();
    const std::uint64_t symbols_at = relocations_at + relocations.size();
    if (symbols_at > max_32) {
        refused = too_large(size, "a COFF object");
        return false;
    }
    Bytes head(layout.before, false);
    head.u16(t.machine);
    head.u16(section_count);
    head.u32(0); // no time stamp: the same bytes give the same object
    head.u32(symbols_at);
    head.u32(static_cast<std::uint32_t>(data_symbol + (table ? 4 : 0)));
    head.u16(0); // SizeOfOptionalHeader
    head.u16(0); // Characteristics
    put_section(head, ".rdata", size, data_at,
                image_scn_cnt_initialized_data | image_scn_mem_read | align_flag(alignment));
    if (!directive.empty())
        put_section(head, ".drectve", directive.size(), directive_at,
                    image_scn_lnk_info | image_scn_lnk_remove | align_flag(1));
    const std::uint32_t word = address_size(t);
    if (table)
        put_section(head, ".rdata$v", table_data.size(), table_at,
                    image_scn_cnt_initialized_data | image_scn_mem_read | align_flag(word),
                    relocations_at, relocation_count + (relocation_count > 0xFFFF ? 1 : 0));

    Bytes rest(layout.after, false);
    layout.after += directive;
    layout.after += table_data;
    layout.after += relocations;
    StringTable strings({}, 4);
    for (const ObjectSymbol& symbol : named)
        put_symbol(rest, strings.add(t.symbol_prefix + symbol.name), symbol.offset,
                   table && &symbol == &named.back() ? table_section : 1);
    if (safe_seh)
        put_safe_seh(rest);
    if (table) {
        put_section_symbol(rest, ".rdata", 1, size, 0);
        put_section_symbol(rest, ".rdata$v", table_section, table_data.size(), relocation_count);
    }
    rest.u32(static_cast<std::uint32_t>(4 + strings.bytes().size()));
    layout.after += strings.bytes();
    return true;
}

} // namespace vormesta::objects
