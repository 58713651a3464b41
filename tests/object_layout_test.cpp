// Every object the writers lay out, read back field by field with a reader of the test's own,
// for each format, word size and byte order and every alignment from 1 to 4096: a wrong flag,
// index, offset or alignment fails here, with no linker or emulator.
#include "object_file.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace {

using vormesta::ObjectTarget;
using Format = ObjectTarget::Format;

struct Read {
    const std::string& bytes;
    bool big;
    std::uint64_t get(std::uint64_t at, int size) const {
        EXPECT_LE(at + static_cast<std::uint64_t>(size), bytes.size());
        std::uint64_t value = 0;
        for (int i = 0; i < size && at + static_cast<std::uint64_t>(i) < bytes.size(); ++i)
            value |= std::uint64_t{static_cast<unsigned char>(bytes[at + i])}
                     << (8 * (big ? size - 1 - i : i));
        return value;
    }
    std::uint64_t u8(std::uint64_t at) const { return get(at, 1); }
    std::uint64_t u16(std::uint64_t at) const { return get(at, 2); }
    std::uint64_t u32(std::uint64_t at) const { return get(at, 4); }
    std::uint64_t u64(std::uint64_t at) const { return get(at, 8); }
    std::string text(std::uint64_t at) const { return bytes.c_str() + at; }
};

struct Row {
    const char* what;
    ObjectTarget target;
    std::uint64_t size;
    bool in_pieces = false; // ELF: the data in more than one section
};

ObjectTarget target(Format format, bool is_64, bool big, std::uint32_t machine,
                    std::string prefix = "", bool gnu_ld = false) {
    ObjectTarget t;
    t.format = format;
    t.is_64 = is_64;
    t.big_endian = big;
    t.machine = format == Format::macho ? 0 : static_cast<std::uint16_t>(machine);
    t.cpu_type = format == Format::macho ? machine : 0;
    t.symbol_prefix = std::move(prefix);
    t.gnu_ld = gnu_ld;
    return t;
}

// Two symbols, as a library's object has: the library's own, and an array at an offset.
const std::vector<vormesta::ObjectSymbol> symbols = {{"lib_data", 0, 40}, {"blob_a", 8, 29}};

void check_elf(const Row& row, std::uint32_t alignment, const std::string& object,
               std::uint64_t data_at) {
    const ObjectTarget& t = row.target;
    const Read in{object, t.big_endian};
    const bool w = t.is_64;
    ASSERT_EQ(object.substr(0, 4), "\x7f"
                                   "ELF");
    EXPECT_EQ(in.u8(4), w ? 2u : 1u);
    EXPECT_EQ(in.u8(5), t.big_endian ? 2u : 1u);
    EXPECT_EQ(in.u16(16), 1u); // ET_REL
    EXPECT_EQ(in.u16(18), t.machine);
    EXPECT_EQ(in.u32(20), 1u);
    const std::uint64_t shoff = w ? in.u64(40) : in.u32(32);
    const std::uint64_t entry = in.u16(w ? 58 : 46), count = in.u16(w ? 60 : 48);
    EXPECT_EQ(in.u16(w ? 52 : 40), w ? 64u : 52u);
    EXPECT_EQ(entry, w ? 64u : 40u);
    EXPECT_EQ(shoff + count * entry, object.size());
    struct Section {
        std::string name;
        std::uint64_t type, flags, offset, size, link, info, align, entsize;
    };
    std::vector<Section> sections;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t at = shoff + i * entry;
        auto word = [&](std::uint64_t o32, std::uint64_t o64) {
            return w ? in.u64(at + o64) : in.u32(at + o32);
        };
        Section s;
        s.name = std::to_string(in.u32(at)); // the name's offset, until the names are known
        s.type = in.u32(at + 4);
        s.flags = word(8, 8);
        s.offset = word(16, 24);
        s.size = word(20, 32);
        s.link = in.u32(at + (w ? 40 : 24));
        s.info = in.u32(at + (w ? 44 : 28));
        s.align = word(32, 48);
        s.entsize = word(36, 56);
        sections.push_back(s);
    }
    const Section& names = sections.at(in.u16(w ? 62 : 50));
    EXPECT_EQ(names.type, 3u);
    for (Section& s : sections)
        s.name = in.text(names.offset + std::stoull(s.name));
    auto find = [&](const std::string& name) -> const Section* {
        for (const Section& s : sections)
            if (s.name == name)
                return &s;
        return nullptr;
    };
    const bool large = t.machine == 62 && w && row.size > 65536;
    const Section* data = find(large ? ".lrodata" : ".rodata");
    ASSERT_NE(data, nullptr);
    // Large data in pieces: one after another, each aligned, no two of one size; the first's
    // relocations (R_*_NONE) name every other piece's section symbol.
    std::vector<const Section*> pieces;
    std::set<std::uint64_t> sizes;
    for (const Section& s : sections)
        if (s.name == data->name) {
            EXPECT_EQ(s.type, 1u);
            EXPECT_EQ(s.flags, large ? 0x10000002u : 0x2u);
            EXPECT_EQ(s.offset,
                      pieces.empty() ? data_at : pieces.back()->offset + pieces.back()->size);
            EXPECT_EQ(s.offset % alignment, 0u);
            EXPECT_EQ(s.align, alignment);
            EXPECT_TRUE(sizes.insert(s.size).second) << "two pieces of " << s.size;
            pieces.push_back(&s);
        }
    EXPECT_EQ(pieces.back()->offset + pieces.back()->size - data_at, row.size);
    EXPECT_EQ(pieces.size() > 1, row.in_pieces);
    const Section* stack = find(".note.GNU-stack");
    ASSERT_NE(stack, nullptr);
    EXPECT_EQ(stack->flags, 0u); // not executable
    EXPECT_EQ(stack->size, 0u);
    const Section* symtab = find(".symtab");
    ASSERT_NE(symtab, nullptr);
    const Section& strtab = sections.at(symtab->link);
    EXPECT_EQ(strtab.name, ".strtab");
    EXPECT_EQ(symtab->type, 2u);
    EXPECT_EQ(symtab->info, pieces.size()); // after the null one and the later pieces' own
    EXPECT_EQ(symtab->entsize, w ? 24u : 16u);
    EXPECT_EQ(symtab->size, (symbols.size() + pieces.size()) * symtab->entsize);
    EXPECT_EQ(symtab->offset % (w ? 8 : 4), 0u);
    const auto data_index = static_cast<std::uint64_t>(data - sections.data());
    const Section* links = find(std::string(w ? ".rela" : ".rel") + data->name);
    ASSERT_EQ(links != nullptr, pieces.size() > 1);
    if (links) {
        EXPECT_EQ(links->info, data_index);
        EXPECT_EQ(links->size, (pieces.size() - 1) * links->entsize);
        for (std::size_t i = 1; i < pieces.size(); ++i) {
            const std::uint64_t info = w ? in.u64(links->offset + (i - 1) * links->entsize + 8)
                                         : in.u32(links->offset + (i - 1) * links->entsize + 4);
            EXPECT_EQ(w ? info & 0xFFFFFFFF : info & 0xFF, 0u); // R_*_NONE
            const std::uint64_t named =
                symtab->offset + (w ? info >> 32 : info >> 8) * symtab->entsize;
            EXPECT_EQ(in.u16(named + (w ? 6 : 14)),
                      static_cast<std::uint64_t>(pieces[i] - sections.data()));
        }
    }
    for (std::size_t i = 0; i < symbols.size(); ++i) {
        const std::uint64_t at = symtab->offset + (i + pieces.size()) * symtab->entsize;
        EXPECT_EQ(in.text(strtab.offset + in.u32(at)), t.symbol_prefix + symbols[i].name);
        EXPECT_EQ(in.u8(at + (w ? 4 : 12)), 0x11u); // STB_GLOBAL, STT_OBJECT
        EXPECT_EQ(in.u8(at + (w ? 5 : 13)), 2u);    // STV_HIDDEN
        EXPECT_EQ(in.u16(at + (w ? 6 : 14)), data_index);
        EXPECT_EQ(w ? in.u64(at + 8) : in.u32(at + 4), symbols[i].offset);
        EXPECT_EQ(w ? in.u64(at + 16) : in.u32(at + 8), symbols[i].size);
    }
    const Section* property = find(".note.gnu.property");
    const bool hardened = t.machine == 62 || t.machine == 3 || (t.machine == 183 && w);
    ASSERT_EQ(property != nullptr, hardened);
    if (property) {
        EXPECT_EQ(property->type, 7u);
        EXPECT_EQ(property->flags, 2u);
        EXPECT_EQ(property->align, w ? 8u : 4u);
        EXPECT_EQ(property->offset % property->align, 0u);
        const std::uint64_t at = property->offset;
        EXPECT_EQ(in.u32(at), 4u);
        EXPECT_EQ(in.u32(at + 4), w ? 16u : 12u);
        EXPECT_EQ(in.u32(at + 8), 5u); // NT_GNU_PROPERTY_TYPE_0
        EXPECT_EQ(object.substr(at + 12, 4), std::string("GNU", 4));
        EXPECT_EQ(in.u32(at + 16), t.machine == 183 ? 0xC0000000u : 0xC0000002u);
        EXPECT_EQ(in.u32(at + 20), 4u);
        EXPECT_EQ(in.u32(at + 24), 3u);
        EXPECT_EQ(property->size, 12u + 4u + (w ? 16u : 12u));
    }
}

void check_coff(const Row& row, std::uint32_t alignment, const std::string& object,
                std::uint64_t data_at) {
    const ObjectTarget& t = row.target;
    const Read in{object, false};
    EXPECT_EQ(in.u16(0), t.machine);
    const std::uint64_t sections = in.u16(2);
    EXPECT_EQ(sections, t.gnu_ld ? 2u : 1u);
    EXPECT_EQ(in.u32(4), 0u); // no time stamp
    EXPECT_EQ(in.u16(16), 0u);
    EXPECT_EQ(std::string(object.c_str() + 20), ".rdata");
    EXPECT_EQ(in.u32(20 + 16), row.size);
    EXPECT_EQ(in.u32(20 + 20), data_at);
    EXPECT_EQ(in.u32(20 + 36), 0x40000040u | (__builtin_ctz(alignment) + 1u) << 20);
    const std::uint64_t symbols_at = in.u32(8), count = in.u32(12);
    const std::uint64_t strings = symbols_at + count * 18;
    EXPECT_EQ(strings + in.u32(strings), object.size());
    const bool safe_seh = t.machine == 0x14C;
    ASSERT_EQ(count, symbols.size() + (safe_seh ? 1 : 0));
    for (std::size_t i = 0; i < symbols.size(); ++i) {
        const std::uint64_t at = symbols_at + i * 18;
        EXPECT_EQ(in.u32(at), 0u);
        EXPECT_EQ(in.text(strings + in.u32(at + 4)), t.symbol_prefix + symbols[i].name);
        EXPECT_EQ(in.u32(at + 8), symbols[i].offset);
        EXPECT_EQ(in.u16(at + 12), 1u);
        EXPECT_EQ(in.u8(at + 16), 2u); // external
    }
    if (safe_seh) {
        const std::uint64_t at = symbols_at + symbols.size() * 18;
        EXPECT_EQ(object.substr(at, 8), "@feat.00");
        EXPECT_EQ(in.u32(at + 8), 1u);
        EXPECT_EQ(in.u16(at + 12), 0xFFFFu);
        EXPECT_EQ(in.u8(at + 16), 3u);
    }
    if (t.gnu_ld) {
        const std::uint64_t at = 20 + 40;
        EXPECT_EQ(std::string(object.c_str() + at), ".drectve");
        EXPECT_EQ(in.u32(at + 36), 0x00100A00u);
        EXPECT_EQ(object.substr(in.u32(at + 20), in.u32(at + 16)),
                  " -exclude-symbols:lib_data,blob_a");
    }
}

void check_macho(const Row& row, std::uint32_t alignment, const std::string& object,
                 std::uint64_t data_at) {
    const ObjectTarget& t = row.target;
    const Read in{object, false};
    EXPECT_EQ(in.u32(0), 0xFEEDFACFu);
    EXPECT_EQ(in.u32(4), t.cpu_type);
    EXPECT_EQ(in.u32(12), 1u); // MH_OBJECT
    EXPECT_EQ(in.u32(16), 2u);
    EXPECT_EQ(in.u32(24), 0u); // several symbols: no subsections via symbols
    EXPECT_EQ(in.u32(32), 0x19u);
    EXPECT_EQ(in.u64(32 + 40), data_at); // fileoff
    EXPECT_EQ(in.u64(32 + 48), row.size);
    const std::uint64_t section = 32 + 72;
    EXPECT_EQ(std::string(object.c_str() + section), "__const");
    EXPECT_EQ(std::string(object.c_str() + section + 16), "__TEXT");
    EXPECT_EQ(in.u64(section + 40), row.size);
    EXPECT_EQ(in.u32(section + 48), data_at);
    EXPECT_EQ(std::uint64_t{1} << in.u32(section + 52), alignment);
    EXPECT_EQ(in.u32(section + 64), 0u); // S_REGULAR
    const std::uint64_t symtab = section + 80;
    EXPECT_EQ(in.u32(symtab), 2u);
    const std::uint64_t symbols_at = in.u32(symtab + 8), strings = in.u32(symtab + 16);
    EXPECT_EQ(in.u32(symtab + 12), symbols.size());
    EXPECT_EQ(strings + in.u32(symtab + 20), object.size());
    for (std::size_t i = 0; i < symbols.size(); ++i) {
        const std::uint64_t at = symbols_at + i * 16;
        EXPECT_EQ(in.text(strings + in.u32(at)), t.symbol_prefix + symbols[i].name);
        EXPECT_EQ(in.u8(at + 4), 0x1Fu); // N_SECT, N_EXT, N_PEXT
        EXPECT_EQ(in.u8(at + 5), 1u);
        EXPECT_EQ(in.u64(at + 8), symbols[i].offset);
    }
}

const Row rows[] = {
    {"elf64 x86-64", target(Format::elf, true, false, 62), 40},
    {"elf64 x86-64 large", target(Format::elf, true, false, 62), 65537},
    {"elf64 aarch64", target(Format::elf, true, false, 183), 40},
    {"elf64 s390x", target(Format::elf, true, true, 22), 40},
    {"elf32 i386", target(Format::elf, false, false, 3), 41},
    {"elf32 mips", target(Format::elf, false, true, 8), 40},
    // Pieces from 1 MiB up, each one alignment larger (at alignment 1, the i386 row's last
    // would repeat the first's size); none where the machine's relocations are not known.
    {"elf64 x86-64 in pieces", target(Format::elf, true, false, 62), (3 << 20) + 12345, true},
    {"elf32 i386 in pieces", target(Format::elf, false, false, 3), (3 << 20) + 1, true},
    {"elf32 mips in one piece", target(Format::elf, false, true, 8), (2 << 20) + 1},
    {"coff x64", target(Format::coff, true, false, 0x8664), 40},
    {"coff x86", target(Format::coff, false, false, 0x14C, "_"), 43},
    {"coff x64 for GNU ld", target(Format::coff, true, false, 0x8664, "", true), 40},
    {"macho arm64", target(Format::macho, true, false, 0x0100000C, "_"), 40},
};

TEST(ObjectLayout, EveryFieldForEveryFormatAndAlignment) {
    for (const Row& row : rows) {
        for (std::uint32_t alignment = 1; alignment <= 4096; alignment *= 2) {
            SCOPED_TRACE(std::string(row.what) + ", aligned to " + std::to_string(alignment));
            vormesta::ObjectLayout layout;
            std::string refused;
            ASSERT_TRUE(vormesta::lay_out_object(row.target, symbols, row.size, alignment, layout,
                                                 refused))
                << refused;
            const std::string object = layout.before + std::string(row.size, '\xa5') + layout.after;
            const std::uint64_t data_at = layout.before.size();
            if (row.target.format == Format::elf)
                check_elf(row, alignment, object, data_at);
            else if (row.target.format == Format::coff)
                check_coff(row, alignment, object, data_at);
            else
                check_macho(row, alignment, object, data_at);
        }
    }
}

// A table of pointers into the data, into its own words and strings, and numbers between,
// relocated as each machine's linker takes an address: read back relocation by relocation, the
// word each names and what it adds. COFF past 65,535 relocations keeps their number in the
// first; a machine whose relocation is not known holds no table.
struct Relocated {
    std::uint64_t at, section, type, addend; // section: 0 for the data's
};

struct TableRow {
    const char* what;
    ObjectTarget target;
    std::uint64_t type;
    bool in_relocation;
    std::size_t copies; // of the four words
};

std::vector<vormesta::ObjectWord> table_words(std::size_t copies) {
    using To = vormesta::ObjectWord::To;
    std::vector<vormesta::ObjectWord> words;
    for (std::size_t i = 0; i < copies; ++i)
        words.insert(words.end(),
                     {{To::string, 2}, {To::data, 8 + i}, {To::number, 5}, {To::word, i}});
    return words;
}

std::vector<Relocated> elf_relocations(const std::string& object, const ObjectTarget& t,
                                       std::uint64_t& table_at) {
    const Read in{object, t.big_endian};
    const bool w = t.is_64;
    const std::uint64_t shoff = w ? in.u64(40) : in.u32(32), count = in.u16(w ? 60 : 48);
    auto field = [&](std::uint64_t i, std::uint64_t o32, std::uint64_t o64, bool word) {
        const std::uint64_t at = shoff + i * (w ? 64 : 40) + (w ? o64 : o32);
        return word && w ? in.u64(at) : in.u32(at);
    };
    std::vector<Relocated> found;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t type = field(i, 4, 4, false);
        if (type != 4 && type != 9)
            continue;
        const std::uint64_t table = field(i, 28, 44, false), symtab = field(i, 24, 40, false);
        table_at = field(table, 16, 24, true);
        EXPECT_EQ(field(table, 8, 8, true), 3u); // SHF_ALLOC | SHF_WRITE
        const std::uint64_t at = field(i, 16, 24, true), size = field(i, 20, 32, true);
        const std::uint64_t entry = field(i, 36, 56, true), named = field(symtab, 16, 24, true);
        for (std::uint64_t r = at; r < at + size; r += entry) {
            const std::uint64_t info = w ? in.u64(r + 8) : in.u32(r + 4);
            const std::uint64_t symbol = w ? info >> 32 : info >> 8;
            const std::uint64_t section = in.u16(named + symbol * (w ? 24 : 16) + (w ? 6 : 14));
            const std::uint64_t offset = w ? in.u64(r) : in.u32(r);
            const std::uint64_t addend = type == 4 ? (w ? in.u64(r + 16) : in.u32(r + 8))
                                                   : in.get(table_at + offset, w ? 8 : 4);
            found.push_back(
                {offset, section == 1 ? 0 : section, w ? info & 0xFFFFFFFF : info & 0xFF, addend});
        }
    }
    return found;
}

std::vector<Relocated> coff_relocations(const std::string& object, std::uint64_t& table_at) {
    const Read in{object, false};
    const std::uint64_t sections = in.u16(2), named = in.u32(8);
    std::vector<Relocated> found;
    for (std::uint64_t i = 0; i < sections; ++i) {
        const std::uint64_t at = 20 + i * 40;
        if (in.u32(at + 24) == 0)
            continue;
        table_at = in.u32(at + 20);
        std::uint64_t count = in.u16(at + 32), first = in.u32(at + 24);
        if (in.u32(at + 36) & 0x01000000) { // IMAGE_SCN_LNK_NRELOC_OVFL
            EXPECT_EQ(count, 0xFFFFu);
            count = in.u32(first) - 1;
            first += 10;
        }
        for (std::uint64_t r = first; r < first + count * 10; r += 10) {
            const std::uint64_t symbol = named + in.u32(r + 4) * 18;
            EXPECT_EQ(in.u8(symbol + 16), 3u); // a section's own symbol
            found.push_back({in.u32(r), in.u16(symbol + 12) - 1, in.u16(r + 8),
                             in.get(table_at + in.u32(r), object[4] == 0x64 ? 8 : 4)});
        }
    }
    return found;
}

const TableRow table_rows[] = {
    {"elf64 x86-64", target(Format::elf, true, false, 62), 1, true, 3},
    {"elf32 i386", target(Format::elf, false, false, 3), 1, false, 3},
    {"elf32 arm", target(Format::elf, false, false, 40), 2, false, 3},
    {"elf64 aarch64", target(Format::elf, true, false, 183), 257, true, 3},
    {"elf64 s390x", target(Format::elf, true, true, 22), 22, true, 3},
    {"coff x64", target(Format::coff, true, false, 0x8664), 1, false, 3},
    {"coff x64, past 65,535 relocations", target(Format::coff, true, false, 0x8664), 1, false,
     40000},
    {"coff x86", target(Format::coff, false, false, 0x14C, "_"), 6, false, 3},
};

TEST(ObjectLayout, TablesRelocatedForEachMachine) {
    for (const TableRow& row : table_rows) {
        SCOPED_TRACE(row.what);
        vormesta::ObjectTable table{"lib_table", table_words(row.copies), std::string("ab\0cd\0")};
        vormesta::ObjectLayout layout;
        std::string refused;
        ASSERT_TRUE(vormesta::holds_tables(row.target));
        ASSERT_TRUE(vormesta::lay_out_object(row.target, symbols, 40, 16, layout, refused, &table))
            << refused;
        const std::string object = layout.before + std::string(40, '\xa5') + layout.after;
        std::uint64_t table_at = 0;
        const std::vector<Relocated> found = row.target.format == Format::elf
                                                 ? elf_relocations(object, row.target, table_at)
                                                 : coff_relocations(object, table_at);
        const std::uint64_t word = row.target.is_64 ? 8 : 4;
        ASSERT_EQ(found.size(), 3 * row.copies);
        for (std::size_t i = 0; i < row.copies; ++i) {
            const Relocated* r = &found[3 * i];
            // The string, 2 bytes into the strings after the words; the data; a word.
            EXPECT_EQ(r[0].at, 4 * i * word);
            EXPECT_EQ(r[0].addend, table.words.size() * word + 2);
            EXPECT_EQ(r[1].at, (4 * i + 1) * word);
            EXPECT_EQ(r[1].addend, 8 + i);
            EXPECT_EQ(r[1].section, 0u);
            EXPECT_NE(r[0].section, 0u);
            EXPECT_EQ(r[2].addend, i * word);
            EXPECT_EQ(Read({object, row.target.big_endian})
                          .get(table_at + (4 * i + 2) * word, static_cast<int>(word)),
                      5u);
            for (int k = 0; k < 3; ++k)
                EXPECT_EQ(r[k].type, row.type);
            if (row.in_relocation) {
                EXPECT_EQ(Read({object, row.target.big_endian})
                              .get(table_at + 4 * i * word, static_cast<int>(word)),
                          0u);
            }
        }
    }
    vormesta::ObjectTable table{"lib_table", table_words(1), ""};
    vormesta::ObjectLayout layout;
    std::string refused;
    EXPECT_FALSE(vormesta::lay_out_object(target(Format::elf, false, true, 8), symbols, 40, 16,
                                          layout, refused, &table));
}

} // namespace
