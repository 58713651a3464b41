#include "object_format.hpp"

namespace vormesta {

bool holds_tables(const ObjectTarget& target) {
    objects::AddressRelocation relocation;
    return target.format == ObjectTarget::Format::elf
               ? objects::elf_address_relocation(target, relocation)
               : target.format == ObjectTarget::Format::coff &&
                     objects::coff_address_relocation(target, relocation);
}

namespace objects {

std::string table_bytes(const ObjectTable& table, std::uint64_t word, bool big_endian,
                        const std::function<std::uint64_t(const ObjectWord&)>& address) {
    std::string bytes;
    Bytes out(bytes, big_endian);
    for (const ObjectWord& at : table.words)
        out.put(at.to == ObjectWord::To::number ? at.value : address(at), static_cast<int>(word));
    return bytes + table.strings;
}

} // namespace objects

bool lay_out_object(const ObjectTarget& target, const std::vector<ObjectSymbol>& symbols,
                    std::uint64_t size, std::uint32_t alignment, ObjectLayout& layout,
                    std::string& refused, const ObjectTable* table) {
    layout = ObjectLayout{};
    if (table && !holds_tables(target)) {
        refused = "objects for " + describe(target) + " hold no table";
        return false;
    }
    switch (target.format) {
    case ObjectTarget::Format::elf:
        return objects::lay_out_elf(target, symbols, size, alignment, layout, refused, table);
    case ObjectTarget::Format::coff:
        return objects::lay_out_coff(target, symbols, size, alignment, layout, refused, table);
    case ObjectTarget::Format::macho:
        return objects::lay_out_macho(target, symbols, size, alignment, layout, refused);
    }
    return false;
}

} // namespace vormesta
