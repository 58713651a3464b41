#include "object_file.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using vormesta::ObjectTarget;
using Format = ObjectTarget::Format;

ObjectTarget target(Format format, bool is_64, bool big_endian, std::uint32_t machine,
                    std::uint32_t flags = 0, std::string prefix = "") {
    ObjectTarget t;
    t.format = format;
    t.is_64 = is_64;
    t.big_endian = big_endian;
    t.machine = static_cast<std::uint16_t>(machine);
    t.flags = flags;
    t.symbol_prefix = std::move(prefix);
    if (format == Format::macho) {
        t.cpu_type = machine;
        t.cpu_subtype = flags;
        t.flags = 0;
        t.machine = 0;
        t.platform_command =
            std::string("\x32\0\0\0\x18\0\0\0\x01\0\0\0\0\0\x0b\0\0\0\x0b\0\0\0\0\0", 24);
    }
    return t;
}

struct LayoutCase {
    const char* what;
    ObjectTarget target;
    std::uint64_t size;
    bool fits;
    const char* section; // a section name the object holds
};

std::ostream& operator<<(std::ostream& out, const LayoutCase& c) {
    return out << c.what;
}

class ObjectFile : public testing::TestWithParam<LayoutCase> {};

// The object a probe would be, written and read back: the reader finds the target it was
// written for, and a size a format cannot hold is refused.
TEST_P(ObjectFile, WritesWhatTheReaderTakesForTheSameTarget) {
    const LayoutCase& c = GetParam();
    vormesta::ObjectLayout layout;
    std::string refused;
    ASSERT_EQ(vormesta::lay_out_object(c.target, std::string(vormesta::probe_symbol), c.size, 16,
                                       layout, refused),
              c.fits)
        << refused;
    if (!c.fits) {
        EXPECT_NE(refused.find("can hold"), std::string::npos) << refused;
        return;
    }
    const std::string object = layout.before + std::string(c.size, '\x5a') + layout.after;
    EXPECT_NE(object.find(c.section), std::string::npos);
    // The data starts aligned in the file, where the format places sections by file offset.
    if (c.target.format != Format::coff) {
        EXPECT_EQ(layout.before.size() % 16, 0u);
    }
    ObjectTarget seen;
    std::string why;
    ASSERT_TRUE(vormesta::read_object_target(object, seen, why)) << why;
    EXPECT_EQ(vormesta::describe(seen), vormesta::describe(c.target));
}

constexpr std::uint64_t GiB = std::uint64_t{1} << 30;

INSTANTIATE_TEST_SUITE_P(
    Targets, ObjectFile,
    testing::Values(
        LayoutCase{"elf64 x86-64", target(Format::elf, true, false, 62), 17, true, ".rodata"},
        LayoutCase{"elf32 armhf", target(Format::elf, false, false, 40, 0x5000400), 1, true,
                   ".note.GNU-stack"},
        LayoutCase{"elf64 s390x", target(Format::elf, true, true, 22), 300, true, ".symtab"},
        LayoutCase{"elf32 mips", target(Format::elf, false, true, 8, 0x70001007), 5, true,
                   ".rodata"},
        LayoutCase{"coff x86", target(Format::coff, false, false, 0x14C, 0, "_"), 3, true,
                   "@feat.00"},
        LayoutCase{"coff arm64", target(Format::coff, true, false, 0xAA64), 40, true, ".rdata"},
        LayoutCase{"macho arm64", target(Format::macho, true, false, 0x0100000C, 0, "_"), 9, true,
                   "__const"}));

// Sizes near the formats' limits: laid out only, no data.
TEST(ObjectFileLimits, KeepsLargeDataWhereLargeDataGoesAndRefusesWhatAFormatCannotHold) {
    struct Row {
        ObjectTarget target;
        std::uint64_t size;
        bool fits;
        const char* section;
    };
    const Row rows[] = {
        {target(Format::elf, true, false, 62), 3 * GiB, true, ".lrodata"},
        {target(Format::elf, true, false, 62), 2 * GiB - 64, true, ".lrodata"},
        {target(Format::elf, true, false, 62), 65537, true, ".lrodata"},
        {target(Format::elf, true, false, 62), 65536, true, ".rodata"},
        {target(Format::elf, true, false, 183), 3 * GiB, true, ".rodata"},
        {target(Format::elf, false, false, 3), 5 * GiB, false, ""},
        {target(Format::coff, true, false, 0x8664), 4 * GiB, false, ""},
        {target(Format::coff, true, false, 0x8664), 3 * GiB, true, ".rdata"},
        {target(Format::macho, true, false, 0x01000007, 3, "_"), 5 * GiB, false, ""},
    };
    for (const Row& row : rows) {
        vormesta::ObjectLayout layout;
        std::string refused;
        EXPECT_EQ(vormesta::lay_out_object(row.target, "big", row.size, 16, layout, refused),
                  row.fits)
            << vormesta::describe(row.target) << " " << row.size;
        if (row.fits) {
            const std::string names = layout.before + layout.after;
            EXPECT_NE(names.find('\0' + std::string(row.section) + '\0'), std::string::npos)
                << vormesta::describe(row.target) << " " << row.size;
        }
    }
}

TEST(Probe, SaysWhatItSawWhenItCannotMatch) {
    const struct {
        std::string bytes;
        const char* seen;
    } rows[] = {
        {std::string("\x00\x61\x73\x6d\x01\x00\x00\x00", 8), "starts with 0x0 0x61 0x73"},
        {"BC\xc0\xde\x35\x14\x00\x00", "LLVM bitcode, as -flto makes"},
        {std::string("\xde\xc0\x17\x0b\0\0\0\0", 8), "LLVM bitcode"}, // in its wrapper
        {std::string("\xca\xfe\xba\xbe\0\0\0\2\x01\0\0\x07", 12) + std::string(16, '\0') +
             std::string("\x01\0\0\x0c", 4),
         "a universal Mach-O file of 2 architectures (x86_64, arm64)"},
        {std::string("\0\0\xff\xff\1\0\x64\x86", 8) + std::string(48, '\0'), "MSVC's /GL"},
        {"!<arch>\n", "an archive holding no object"},
        {"", "starts with"},
    };
    for (const auto& row : rows) {
        ObjectTarget seen;
        std::string why;
        EXPECT_FALSE(vormesta::read_object_target(row.bytes, seen, why));
        EXPECT_NE(why.find(row.seen), std::string::npos) << why;
    }
}

} // namespace
