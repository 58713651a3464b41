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
enum Section : std::uint16_t {
    null_section,
    data_section,
    stack_note,
    symtab,
    strtab,
    shstrtab,
    property_note
};

// Past this size x86-64 data goes where GCC's medium code model puts large data (its default
// -mlarge-data-threshold): .lrodata, which linkers place after every small section, so that
// code keeps its 2 GiB reach to them however much data the program holds. The index reaches
// the files through 64-bit pointers, from any code model.
constexpr std::uint64_t large_data_threshold = 65536;

// Large data goes in pieces, each its own section of the same name, one after another. GNU ld
// reads an input section whole into a buffer as large as the largest one, so a single section
// of hundreds of MB costs it that much fresh memory at every link; pieces reuse the buffer.
// The first piece is at least `piece_least`, and large enough that there are at most about
// `most_pieces`. Each later piece is one alignment larger than the one before (the last one
// is what is left), so no two pieces have the same size, and a linker that folds identical
// sections into one cannot take one piece for another. Every bound is a multiple of the
// alignment, so the linker puts each piece right after the one before.
constexpr std::uint64_t piece_least = 1 << 20;
constexpr std::uint64_t most_pieces = 4096;

// Where each piece begins, then the end of the data.
std::vector<std::uint64_t> piece_bounds(std::uint64_t size, std::uint32_t alignment) {
    const std::uint64_t least = std::max(piece_least, (size + most_pieces - 1) / most_pieces);
    const std::uint64_t first = align_up(least, alignment);
    std::vector<std::uint64_t> bounds{0};
    std::uint64_t next = first;
    for (; size - bounds.back() > next; next += alignment)
        bounds.push_back(bounds.back() + next);
    // What is left would repeat the size of a piece before: the last piece takes it too.
    const std::uint64_t left = size - bounds.back();
    if (bounds.size() > 1 && left >= first && left < next && (left - first) % alignment == 0)
        bounds.pop_back();
    bounds.push_back(size);
    return bounds;
}

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

struct ElfSymbol {
    std::uint32_t name;
    std::uint8_t info, other;
    std::uint16_t section;
    std::uint64_t value, size;
};

void put_symbol(Bytes& out, bool w, const ElfSymbol& s) {
    out.u32(s.name);
    if (w) {
        out.u8(s.info);
        out.u8(s.other);
        out.u16(s.section);
        out.u64(s.value);
        out.u64(s.size);
    } else {
        out.u32(static_cast<std::uint32_t>(s.value));
        out.u32(static_cast<std::uint32_t>(s.size));
        out.u8(s.info);
        out.u8(s.other);
        out.u16(s.section);
    }
}

struct ElfSection {
    std::uint32_t name, type;
    std::uint64_t flags, offset, size;
    std::uint32_t link, info;
    std::uint64_t align, entry_size;
};

void put_section(Bytes& out, bool w, const ElfSection& s) {
    out.u32(s.name);
    out.u32(s.type);
    out.word(s.flags, w);
    out.word(0, w); // sh_addr
    out.word(s.offset, w);
    out.word(s.size, w);
    out.u32(s.link);
    out.u32(s.info);
    out.word(s.align, w);
    out.word(s.entry_size, w);
}

void put_elf_header(Bytes& head, const ObjectTarget& t, std::uint64_t sections_at,
                    std::uint16_t section_count) {
    const bool w = t.is_64;
    head.u8(0x7f);
    head.u8('E');
    head.u8('L');
    head.u8('F');
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
    head.u16(w ? 64 : 52);
    head.u16(0); // e_phentsize
    head.u16(0); // e_phnum
    head.u16(w ? 64 : 40);
    head.u16(section_count);
    head.u16(shstrtab);
}

// The table's words, and a relocation for each address among them: its place, and the
// section symbol it is from (1: the data's, 2: the table's own).
void lay_out_table(const ObjectTarget& t, const ObjectTable& table,
                   const AddressRelocation& relocation, std::string& words,
                   std::string& relocations) {
    const bool w = t.is_64;
    const std::uint64_t word = w ? 8 : 4;
    Bytes entries(relocations, t.big_endian);
    for (std::size_t i = 0; i < table.words.size(); ++i) {
        const ObjectWord& to = table.words[i];
        if (to.to == ObjectWord::To::number)
            continue;
        const std::uint64_t symbol = to.to == ObjectWord::To::data ? 1 : 2;
        entries.word(i * word, w);
        entries.word(w ? symbol << 32 | relocation.type : symbol << 8 | relocation.type, w);
        if (relocation.in_relocation)
            entries.word(table_place(table, to, word), w);
    }
    words = table_bytes(table, word, t.big_endian, [&](const ObjectWord& to) {
        return relocation.in_relocation ? 0 : table_place(table, to, word);
    });
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

// ELF: the data in .rodata (.lrodata past the threshold on x86-64), in pieces where it is
// large (above), an empty .note.GNU-stack so that the stack stays non-executable, the GNU
// property note, and the symbols, with their sizes, hidden: a shared library that links the
// object exports none. A table goes in .data.rel.ro, where a compiler puts a const table of
// pointers (written once when a position-independent program is loaded, read-only after), its
// addresses relocated against the sections' own symbols.
bool lay_out_elf(const ObjectTarget& t, const std::vector<ObjectSymbol>& symbols,
                 std::uint64_t size, std::uint32_t alignment, ObjectLayout& layout,
                 std::string& refused, const ObjectTable* table) {
    const bool w = t.is_64;
    const bool large = t.machine == elf_x86_64 && w && size > large_data_threshold;
    const std::string note = gnu_property_note(t);
    StringTable names(std::string(1, '\0'));
    const std::string data_name = large ? ".lrodata" : ".rodata";
    const std::uint32_t name_data = names.add(data_name);
    const std::uint32_t name_stack = names.add(".note.GNU-stack");
    const std::uint32_t name_symtab = names.add(".symtab");
    const std::uint32_t name_strtab = names.add(".strtab");
    const std::uint32_t name_shstrtab = names.add(".shstrtab");
    const std::uint32_t name_property = note.empty() ? 0 : names.add(".note.gnu.property");
    auto section_count = static_cast<std::uint16_t>(property_note + (note.empty() ? 0 : 1));
    // The table after the other sections, its relocations next.
    AddressRelocation relocation;
    const bool relocates = elf_address_relocation(t, relocation);
    auto relocations_of = [&](const std::string& section) {
        return names.add((relocation.in_relocation ? ".rela" : ".rel") + section);
    };
    const std::uint16_t table_section = section_count;
    std::uint32_t name_table = 0, name_relocations = 0;
    std::string table_data, relocations;
    if (table) {
        section_count = static_cast<std::uint16_t>(section_count + 2);
        name_table = names.add(".data.rel.ro");
        name_relocations = relocations_of(".data.rel.ro");
        lay_out_table(t, *table, relocation, table_data, relocations);
    }
    // Then the pieces after the first, and the first one's relocations: one for each of them,
    // so that a linker that drops the sections no one names keeps them all where it keeps the
    // first, which every symbol names. Only the first: GNU ld on x86 reads and keeps in memory
    // the contents of every section that has relocations.
    const std::vector<std::uint64_t> bounds =
        relocates ? piece_bounds(size, alignment) : std::vector<std::uint64_t>{0, size};
    const std::uint64_t pieces = bounds.size() - 1;
    const std::uint16_t first_piece = section_count;
    if (pieces > 1)
        section_count = static_cast<std::uint16_t>(section_count + pieces);
    const std::uint32_t name_links = pieces > 1 ? relocations_of(data_name) : 0;
    // Local symbols before the global ones: the sections' own, which relocations name (the
    // data's and the table's where there is a table; every piece's after the first).
    const std::uint64_t first_piece_symbol = table ? 3 : 1;
    const std::uint64_t locals = first_piece_symbol + pieces - 1;
    std::string links;
    Bytes link(links, t.big_endian);
    for (std::uint64_t i = 1; i < pieces; ++i) {
        const std::uint64_t symbol = first_piece_symbol + i - 1; // R_*_NONE is 0 on every machine
        link.word(0, w);
        link.word(w ? symbol << 32 : symbol << 8, w);
        if (relocation.in_relocation)
            link.word(0, w);
    }
    StringTable symbol_names(std::string(1, '\0'));
    std::vector<ElfSymbol> globals;
    const std::uint8_t global = stb_global << 4 | stt_object;
    for (const ObjectSymbol& symbol : symbols)
        globals.push_back({symbol_names.add(t.symbol_prefix + symbol.name), global, stv_hidden,
                           data_section, symbol.offset, symbol.size});
    const std::uint64_t word = w ? 8 : 4;
    if (table)
        globals.push_back({symbol_names.add(t.symbol_prefix + table->symbol), global, stv_hidden,
                           table_section, 0, table->words.size() * word});
    const std::uint64_t symbol_count = locals + globals.size();

    const std::uint64_t symbol_size = w ? 24 : 16;
    const std::uint64_t data_at = align_up(w ? 64 : 52, alignment);
    const std::uint64_t note_at = align_up(data_at + size, word);
    const std::uint64_t symtab_at = note_at + note.size();
    const std::uint64_t strtab_at = symtab_at + symbol_count * symbol_size;
    const std::uint64_t shstrtab_at = strtab_at + symbol_names.bytes().size();
    const std::uint64_t table_at = align_up(shstrtab_at + names.bytes().size(), word);
    const std::uint64_t relocations_at = align_up(table_at + table_data.size(), word);
    const std::uint64_t links_at = align_up(relocations_at + relocations.size(), word);
    const std::uint64_t sections_at = align_up(links_at + links.size(), word);
    if (!w && sections_at + section_count * 40u > max_32) {
        refused = too_large(size, "a 32-bit ELF object");
        return false;
    }

    Bytes head(layout.before, t.big_endian);
    put_elf_header(head, t, sections_at, section_count);
    head.pad_to(data_at);

    // The tail is laid out from the end of the data: offsets below count from there.
    const std::uint64_t tail = data_at + size;
    std::string& out = layout.after;
    Bytes rest(out, t.big_endian);
    out.append(small(note_at - tail), '\0');
    out += note;
    put_symbol(rest, w, {0, 0, 0, 0, 0, 0});
    if (table) {
        put_symbol(rest, w, {0, stt_section, 0, data_section, 0, 0});
        put_symbol(rest, w, {0, stt_section, 0, table_section, 0, 0});
    }
    for (std::uint64_t i = 1; i < pieces; ++i)
        put_symbol(rest, w,
                   {0, stt_section, 0, static_cast<std::uint16_t>(first_piece + i - 1), 0, 0});
    for (const ElfSymbol& symbol : globals)
        put_symbol(rest, w, symbol);
    out += symbol_names.bytes();
    out += names.bytes();
    out.append(small(table_at - tail - out.size()), '\0');
    out += table_data;
    out.append(small(relocations_at - tail - out.size()), '\0');
    out += relocations;
    out.append(small(links_at - tail - out.size()), '\0');
    out += links;
    out.append(small(sections_at - tail - out.size()), '\0');
    put_section(rest, w, {0, sht_null, 0, 0, 0, 0, 0, 0, 0});
    const std::uint64_t data_flags = large ? shf_x86_64_large | shf_alloc : shf_alloc;
    auto put_piece = [&](std::uint64_t i) {
        put_section(rest, w,
                    {name_data, sht_progbits, data_flags, data_at + bounds[i],
                     bounds[i + 1] - bounds[i], 0, 0, alignment, 0});
    };
    put_piece(0);
    put_section(rest, w, {name_stack, sht_progbits, 0, shstrtab_at, 0, 0, 0, 1, 0});
    // sh_info: the index of the first global symbol, after the local ones.
    put_section(rest, w,
                {name_symtab, sht_symtab, 0, symtab_at, symbol_count * symbol_size, strtab,
                 static_cast<std::uint32_t>(locals), word, symbol_size});
    put_section(rest, w,
                {name_strtab, sht_strtab, 0, strtab_at, symbol_names.bytes().size(), 0, 0, 1, 0});
    put_section(rest, w,
                {name_shstrtab, sht_strtab, 0, shstrtab_at, names.bytes().size(), 0, 0, 1, 0});
    if (!note.empty())
        put_section(rest, w,
                    {name_property, sht_note, shf_alloc, note_at, note.size(), 0, 0, word, 0});
    const std::uint64_t relocation_size = (relocation.in_relocation ? 3 : 2) * word;
    const std::uint32_t relocation_type = relocation.in_relocation ? sht_rela : sht_rel;
    if (table) {
        put_section(rest, w,
                    {name_table, sht_progbits, shf_alloc | shf_write, table_at, table_data.size(),
                     0, 0, word, 0});
        put_section(rest, w,
                    {name_relocations, relocation_type, shf_info_link, relocations_at,
                     relocations.size(), symtab, table_section, word, relocation_size});
    }
    for (std::uint64_t i = 1; i < pieces; ++i)
        put_piece(i);
    if (pieces > 1)
        put_section(rest, w,
                    {name_links, relocation_type, shf_info_link, links_at, links.size(), symtab,
                     data_section, word, relocation_size});
    return true;
}

} // namespace vormesta::objects
