#include "object_format.hpp"

namespace vormesta {

bool lay_out_object(const ObjectTarget& target, const std::vector<ObjectSymbol>& symbols,
                    std::uint64_t size, std::uint32_t alignment, ObjectLayout& layout,
                    std::string& refused) {
    layout = ObjectLayout{};
    switch (target.format) {
    case ObjectTarget::Format::elf:
        return objects::lay_out_elf(target, symbols, size, alignment, layout, refused);
    case ObjectTarget::Format::coff:
        return objects::lay_out_coff(target, symbols, size, alignment, layout, refused);
    case ObjectTarget::Format::macho:
        return objects::lay_out_macho(target, symbols, size, alignment, layout, refused);
    }
    return false;
}

} // namespace vormesta
