// ELF objects for every machine and byte order (elf.h names the fields and flags).
#include "object_format.hpp"

namespace vormesta::objects {
namespace {

constexpr std::uint8_t elfclass32 = 1, elfclass64 = 2;
constexpr std::uint8_t elfdata2lsb = 1, elfdata2msb = 2;
constexpr std::uint8_t ev_current = 1;
constexpr std::uint16_t et_rel = 1;
constexpr std::uint32_t sht_null = 0, sht_progbits = 1, sht_symtab = 2, sht_strtab = 3,
                        sht_note = 7;
constexpr std::uint64_t shf_alloc = 0x2;
constexpr std::uint64_t shf_x86_64_large = 0x10000000;
constexpr std::uint8_t stb_global = 1, stt_object = 1;
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
    const auto section_count = static_cast<std::uint16_t>(property_note + (note.empty() ? 0 : 1));
    std::string names =
        std::string(1, '\0') + data_name + '\0' + std::string(fixed_names, sizeof fixed_names);
    const auto name_property = static_cast<std::uint32_t>(names.size());
    if (!note.empty())
        names.append(".note.gnu.property", sizeof ".note.gnu.property");
    std::string symbol_names(1, '\0');
    for (const ObjectSymbol& symbol : symbols)
        symbol_names += t.symbol_prefix + symbol.name + '\0';
    const std::uint64_t symbol_count = 1 + symbols.size();
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
    const std::uint64_t sections_at = align_up(shstrtab_at + names.size(), word);
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
    out.append(small(symbol_size), '\0'); // the null symbol
    const std::uint8_t info = stb_global << 4 | stt_object;
    std::uint32_t name = 1;
    for (const ObjectSymbol& symbol : symbols) {
        rest.u32(name);
        name += static_cast<std::uint32_t>(t.symbol_prefix.size() + symbol.name.size() + 1);
        if (w) {
            rest.u8(info);
            rest.u8(stv_hidden);
            rest.u16(data_section);
            rest.u64(symbol.offset);
            rest.u64(symbol.size);
        } else {
            rest.u32(static_cast<std::uint32_t>(symbol.offset));
            rest.u32(static_cast<std::uint32_t>(symbol.size));
            rest.u8(info);
            rest.u8(stv_hidden);
            rest.u16(data_section);
        }
    }
    out += symbol_names;
    out += names;
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
    // sh_info: the index of the first global symbol, after the null one.
    section(name_symtab, sht_symtab, 0, symtab_at, symbol_count * symbol_size, strtab, 1, word,
            symbol_size);
    section(name_strtab, sht_strtab, 0, strtab_at, symbol_names.size(), 0, 0, 1, 0);
    section(name_shstrtab, sht_strtab, 0, shstrtab_at, names.size(), 0, 0, 1, 0);
    if (!note.empty())
        section(name_property, sht_note, shf_alloc, note_at, note.size(), 0, 0, word, 0);
    return true;
}

} // namespace vormesta::objects
