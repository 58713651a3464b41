// COFF objects for Windows (winnt.h names the fields and flags).
#include "object_format.hpp"

namespace vormesta::objects {
namespace {

constexpr std::uint64_t file_header_size = 20, section_header_size = 40;
constexpr std::uint32_t image_scn_cnt_initialized_data = 0x00000040;
constexpr std::uint32_t image_scn_lnk_info = 0x00000200;
constexpr std::uint32_t image_scn_lnk_remove = 0x00000800;
constexpr std::uint32_t image_scn_align_1bytes = 0x00100000; // 2^(n-1) bytes for n in bits 20-23
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

// COFF: the data in .rdata, read-only and aligned; x86 objects say they are safe for SafeSEH
// (@feat.00), which Visual Studio's linker asks of every x86 object; for GNU ld, a .drectve
// that keeps the symbols out of a DLL's exports.
bool lay_out_coff(const ObjectTarget& t, const std::vector<ObjectSymbol>& symbols,
                  std::uint64_t size, std::uint32_t alignment, ObjectLayout& layout,
                  std::string& refused) {
    // GNU ld's directive names C names, without the x86 prefix.
    std::string directive;
    for (const ObjectSymbol& symbol : symbols)
        if (t.gnu_ld)
            directive += (directive.empty() ? " -exclude-symbols:" : ",") + symbol.name;
    const std::uint16_t section_count = directive.empty() ? 1 : 2;
    const std::uint64_t data_at = file_header_size + section_header_size * section_count;
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
    head.u16(0); // SizeOfOptionalHeader
    head.u16(0); // Characteristics
    auto section = [&](std::string_view name, std::uint64_t bytes, std::uint64_t offset,
                       std::uint32_t flags) {
        head.name(name, 8);
        head.u32(0); // VirtualSize
        head.u32(0); // VirtualAddress
        head.u32(bytes);
        head.u32(offset);
        head.u32(0); // PointerToRelocations
        head.u32(0); // PointerToLinenumbers
        head.u16(0);
        head.u16(0);
        head.u32(flags);
    };
    section(".rdata", size, data_at,
            image_scn_cnt_initialized_data | image_scn_mem_read | align_flag(alignment));
    if (!directive.empty())
        section(".drectve", directive.size(), directive_at,
                image_scn_lnk_info | image_scn_lnk_remove | align_flag(1));

    Bytes rest(layout.after, false);
    layout.after += directive;
    std::string strings;
    for (const ObjectSymbol& symbol : symbols) {
        rest.u32(0); // the name is in the string table
        rest.u32(static_cast<std::uint32_t>(4 + strings.size()));
        rest.u32(static_cast<std::uint32_t>(symbol.offset));
        rest.u16(1); // .rdata
        rest.u16(0); // Type
        rest.u8(image_sym_class_external);
        rest.u8(0); // NumberOfAuxSymbols
        strings += t.symbol_prefix + symbol.name + '\0';
    }
    if (safe_seh) {
        rest.name("@feat.00", 8);
        rest.u32(feat_safe_seh);
        rest.u16(image_sym_absolute);
        rest.u16(0);
        rest.u8(image_sym_class_static);
        rest.u8(0);
    }
    rest.u32(static_cast<std::uint32_t>(4 + strings.size()));
    layout.after += strings;
    return true;
}

} // namespace vormesta::objects
