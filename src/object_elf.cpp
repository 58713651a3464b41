// ELF objects for every machine and byte order (elf.h names the fields and flags).
#include "object_format.hpp"

namespace vormesta::objects {
namespace {

constexpr std::uint8_t elfclass32 = 1, elfclass64 = 2;
constexpr std::uint8_t elfdata2lsb = 1, elfdata2msb = 2;
constexpr std::uint8_t ev_current = 1;
constexpr std::uint16_t et_rel = 1;
constexpr std::uint32_t sht_null = 0, sht_progbits = 1, sht_symtab = 2, sht_strtab = 3,
                        sht_rela = 4, sht_note = 7, sht_rel = 9;
constexpr std::uint64_t shf_write = 0x1, shf_alloc = 0x2, shf_info_link = 0x40;
constexpr std::uint64_t shf_x86_64_large = 0x10000000;
constexpr std::uint8_t stb_global = 1, stt_object = 1, stt_section = 3;
constexpr std::uint8_t stv_hidden = 2;
constexpr std::uint32_t nt_gnu_property_type_0 = 5;
constexpr std::uint32_t gnu_property_x86_feature_1_and = 0xC0000002;
constexpr std::uint32_t gnu_property_x86_feature_1_ibt = 1, gnu_property_x86_feature_1_shstk = 2;
constexpr std::uint32_t gnu_property_aarch64_feature_1_and = 0xC0000000;
constexpr std::uint32_t gnu_property_aarch64_feature_1_bti = 1,
                        gnu_property_aarch64_feature_1_pac = 2;

// The sections, in order: their indices are what the header and the symbols name.
enum Section : std::uint16_t { null_section, data_section, stack_note, symtab, strtab, shstrtab,
                               property_note };

// Past this size x86-64 data goes where GCC's medium code model puts large data (its default
// -mlarge-data-threshold): .lrodata, which linkers place after every small section, so that
// code keeps its 2 GiB reach to them however much data the program holds. The index reaches
// the files through 64-bit pointers, from any code model.
constexpr std::uint64_t large_data_threshold = 65536;

// The GNU property note of data on a machine whose linkers AND control-flow features across
// their inputs: a program keeps its hardening only when every object claims it, and data
// honours every such feature (x86: IBT and shadow stack; aarch64: BTI and PAC). Empty for
// other machines. Nothing that raises what a program needs (no ISA level).
std::string gnu_property_note(const ObjectTarget& t) {
    std::uint32_t property = 0, features = 0;
    if (t.machine == elf_x86_64 || t.machine == elf_i386) {
        property = gnu_property_x86_feature_1_and;
        features = gnu_property_x86_feature_1_ibt | gnu_property_x86_feature_1_shstk;
    } else if (t.machine == elf_aarch64 && t.is_64) {
        property = gnu_property_aarch64_feature_1_and;
        features = gnu_property_aarch64_feature_1_bti | gnu_property_aarch64_feature_1_pac;
    }
    if (!property)
        return {};
    // The property's data is padded to the word: 8 bytes in 64-bit objects, 4 in 32-bit ones.
    const std::uint32_t description_size = t.is_64 ? 16 : 12;
    std::string note;
    Bytes out(note, t.big_endian);
    out.u32(sizeof "GNU");
    out.u32(description_size);
    out.u32(nt_gnu_property_type_0);
    note.append("GNU", sizeof "GNU");
    out.u32(property);
    out.u32(sizeof features);
    out.u32(features);
    out.pad_to(note.size() + (t.is_64 ? 4 : 0));
    return note;
}

} // namespace

bool elf_address_relocation(const ObjectTarget& t, AddressRelocation& relocation) {
    struct Known {
        std::uint16_t machine;
        bool is_64;
        std::uint32_t type;
        bool in_relocation;
    };
    static constexpr Known known[] = {
        {elf_x86_64, true, 1, true},    // R_X86_64_64
        {elf_x86_64, false, 10, true},  // R_X86_64_32 (x32)
        {elf_i386, false, 1, false},    // R_386_32
        {elf_aarch64, true, 257, true}, // R_AARCH64_ABS64
        {elf_arm, false, 2, false},     // R_ARM_ABS32
        {elf_riscv, true, 2, true},     // R_RISCV_64
        {elf_riscv, false, 1, true},    // R_RISCV_32
        {elf_s390, true, 22, true},     // R_390_64
    };
    for (const Known& k : known)
        if (k.machine == t.machine && k.is_64 == t.is_64) {
            relocation = {k.type, k.in_relocation};
            return true;
        }
    return false;
}

// ELF: the data in .rodata (.lrodata past the threshold on x86-64), an empty
// .note.GNU-stack so that the stack stays non-executable, the GNU property note, and the
// symbols, with their sizes, hidden: a shared library that links the object exports none. A
// table goes in .data.rel.ro, where a compiler puts a const table of pointers (written once
// when a position-independent program is loaded, read-only after), its addresses relocated
// against the sections' own symbols.
bool lay_out_elf(const ObjectTarget& t, const std::vector<ObjectSymbol>& symbols,
                 std::uint64_t size, std::uint32_t alignment, ObjectLayout& layout,
                 std::string& refused, const ObjectTable* table) {
    const bool w = t.is_64;
    const bool large = t.machine == elf_x86_64 && w && size > large_data_threshold;
    const std::string data_name = large ? ".lrodata" : ".rodata";
    static constexpr char fixed_names[] = ".note.GNU-stack\0.symtab\0.strtab\0.shstrtab";
    const std::string note = gnu_property_note(t);
    auto section_count = static_cast<std::uint16_t>(property_note + (note.empty() ? 0 : 1));
    std::string names =
        std::string(1, '\0') + data_name + '\0' + std::string(fixed_names, sizeof fixed_names);
    const auto name_property = static_cast<std::uint32_t>(names.size());
    if (!note.empty())
        names.append(".note.gnu.property", sizeof ".note.gnu.property");
    AddressRelocation relocation;
    std::uint16_t table_section = 0; // after the others, its relocations next
    if (table) {
        elf_address_relocation(t, relocation);
        table_section = section_count;
        section_count = static_cast<std::uint16_t>(section_count + 2);
    }
    const auto name_table = static_cast<std::uint32_t>(names.size());
    const std::string relocations_name = relocation.in_relocation ? ".rela" : ".rel";
    const auto name_relocations = static_cast<std::uint32_t>(name_table + sizeof ".data.rel.ro");
    if (table) {
        names.append(".data.rel.ro", sizeof ".data.rel.ro");
        names += relocations_name + ".data.rel.ro" + '\0';
    }
    // Before the global symbols, where there is a table: the sections' own, which its
    // relocations name.
    const std::uint64_t locals = table ? 3 : 1;
    std::string symbol_names(1, '\0');
    for (const ObjectSymbol& symbol : symbols)
        symbol_names += t.symbol_prefix + symbol.name + '\0';
    if (table)
        symbol_names += t.symbol_prefix + table->symbol + '\0';
    const std::uint64_t symbol_count = locals + symbols.size() + (table ? 1 : 0);
    const std::uint32_t name_data = 1;
    const auto name_stack = static_cast<std::uint32_t>(name_data + data_name.size() + 1);
    const std::uint32_t name_symtab = name_stack + sizeof ".note.GNU-stack";
    const std::uint32_t name_strtab = name_symtab + sizeof ".symtab";
    const std::uint32_t name_shstrtab = name_strtab + sizeof ".strtab";

    const std::uint64_t header_size = w ? 64 : 52;
    const std::uint64_t section_header_size = w ? 64 : 40;
    const std::uint64_t symbol_size = w ? 24 : 16;
    const std::uint64_t word = w ? 8 : 4;
    const std::uint64_t data_at = align_up(header_size, alignment);
    const std::uint64_t note_at = align_up(data_at + size, word);
    const std::uint64_t symtab_at = note_at + note.size();
    const std::uint64_t strtab_at = symtab_at + symbol_count * symbol_size;
    const std::uint64_t shstrtab_at = strtab_at + symbol_names.size();
    const std::uint64_t table_at = align_up(shstrtab_at + names.size(), word);
    // Each address of the table: its place, and the section symbol it is from.
    const std::uint64_t entry_size = (relocation.in_relocation ? 3 : 2) * word;
    std::string table_data, relocations;
    Bytes entries(relocations, t.big_endian);
    if (table) {
        for (std::size_t i = 0; i < table->words.size(); ++i) {
            const ObjectWord& to = table->words[i];
            if (to.to == ObjectWord::To::number)
                continue;
            const std::uint64_t symbol = to.to == ObjectWord::To::data ? 1 : 2;
            entries.word(i * word, w);
            entries.word(w ? symbol << 32 | relocation.type : symbol << 8 | relocation.type, w);
            if (relocation.in_relocation)
                entries.word(table_place(*table, to, word), w);
        }
        table_data = table_bytes(*table, word, t.big_endian, [&](const ObjectWord& to) {
            return relocation.in_relocation ? 0 : table_place(*table, to, word);
        });
    }
    const std::uint64_t relocations_at = align_up(table_at + table_data.size(), word);
    const std::uint64_t sections_at = align_up(relocations_at + relocations.size(), word);
    if (!w && sections_at + section_count * section_header_size > max_32) {
        refused = too_large(size, "a 32-bit ELF object");
        return false;
    }

    Bytes head(layout.before, t.big_endian);
    layout.before.append("\x7f"
                         "ELF");
    head.u8(w ? elfclass64 : elfclass32);
    head.u8(t.big_endian ? elfdata2msb : elfdata2lsb);
    head.u8(ev_current);
    head.u8(t.os_abi);
    head.u8(t.abi_version);
    head.pad_to(16);
    head.u16(et_rel);
    head.u16(t.machine);
    head.u32(ev_current);
    head.word(0, w); // e_entry
    head.word(0, w); // e_phoff
    head.word(sections_at, w);
    head.u32(t.flags);
    head.u16(header_size);
    head.u16(0); // e_phentsize
    head.u16(0); // e_phnum
    head.u16(section_header_size);
    head.u16(section_count);
    head.u16(shstrtab);
    head.pad_to(data_at);

    // The tail is laid out from the end of the data: offsets below count from there.
    const std::uint64_t tail = data_at + size;
    std::string& out = layout.after;
    Bytes rest(out, t.big_endian);
    out.append(small(note_at - tail), '\0');
    out += note;
    auto symbol_entry = [&](std::uint32_t name_at, std::uint8_t info, std::uint8_t other,
                            std::uint16_t section, std::uint64_t value, std::uint64_t bytes) {
        rest.u32(name_at);
        if (w) {
            rest.u8(info);
            rest.u8(other);
            rest.u16(section);
            rest.u64(value);
            rest.u64(bytes);
        } else {
            rest.u32(static_cast<std::uint32_t>(value));
            rest.u32(static_cast<std::uint32_t>(bytes));
            rest.u8(info);
            rest.u8(other);
            rest.u16(section);
        }
    };
    symbol_entry(0, 0, 0, 0, 0, 0);
    if (table) {
        symbol_entry(0, stt_section, 0, data_section, 0, 0);
        symbol_entry(0, stt_section, 0, table_section, 0, 0);
    }
    const std::uint8_t info = stb_global << 4 | stt_object;
    std::uint32_t name = 1;
    for (const ObjectSymbol& symbol : symbols) {
        symbol_entry(name, info, stv_hidden, data_section, symbol.offset, symbol.size);
        name += static_cast<std::uint32_t>(t.symbol_prefix.size() + symbol.name.size() + 1);
    }
    if (table)
        symbol_entry(name, info, stv_hidden, table_section, 0, table->words.size() * word);
    out += symbol_names;
    out += names;
    out.append(small(table_at - tail - out.size()), '\0');
    out += table_data;
    out.append(small(relocations_at - tail - out.size()), '\0');
    out += relocations;
    out.append(small(sections_at - tail - out.size()), '\0');
    auto section = [&](std::uint32_t name_at, std::uint32_t type, std::uint64_t flags,
                       std::uint64_t offset, std::uint64_t bytes, std::uint32_t link,
                       std::uint32_t section_info, std::uint64_t align, std::uint64_t entry) {
        rest.u32(name_at);
        rest.u32(type);
        rest.word(flags, w);
        rest.word(0, w); // sh_addr
        rest.word(offset, w);
        rest.word(bytes, w);
        rest.u32(link);
        rest.u32(section_info);
        rest.word(align, w);
        rest.word(entry, w);
    };
    section(0, sht_null, 0, 0, 0, 0, 0, 0, 0);
    section(name_data, sht_progbits, large ? shf_x86_64_large | shf_alloc : shf_alloc, data_at,
            size, 0, 0, alignment, 0);
    section(name_stack, sht_progbits, 0, shstrtab_at, 0, 0, 0, 1, 0);
    // sh_info: the index of the first global symbol, after the local ones.
    section(name_symtab, sht_symtab, 0, symtab_at, symbol_count * symbol_size, strtab,
            static_cast<std::uint32_t>(locals), word, symbol_size);
    section(name_strtab, sht_strtab, 0, strtab_at, symbol_names.size(), 0, 0, 1, 0);
    section(name_shstrtab, sht_strtab, 0, shstrtab_at, names.size(), 0, 0, 1, 0);
    if (!note.empty())
        section(name_property, sht_note, shf_alloc, note_at, note.size(), 0, 0, word, 0);
    if (table) {
        section(name_table, sht_progbits, shf_alloc | shf_write, table_at, table_data.size(), 0, 0,
                word, 0);
        section(name_relocations, relocation.in_relocation ? sht_rela : sht_rel, shf_info_link,
                relocations_at, relocations.size(), symtab, table_section, word, entry_size);
    }
    return true;
}

} // namespace vormesta::objects
