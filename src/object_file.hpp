// A relocatable object file that holds one file's bytes as a read-only array, in the format the
// target's linker takes: what `objcopy -I binary` makes, but with the array's own name and size.
// The target is read off an object that the target's own compiler made, so that every toolchain
// (cross ones included) gets its machine, ABI flags and spelling of C names without a table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vormesta {

struct ObjectTarget {
    enum class Format { elf, coff, macho };
    Format format = Format::elf;
    bool is_64 = false; // ELF's class; Mach-O objects are 64-bit only here
    bool big_endian = false;
    std::uint16_t machine = 0; // ELF e_machine, COFF Machine
    std::uint32_t flags = 0;   // ELF e_flags: ABI facts (ARM's float ABI, RISC-V's)
    std::uint8_t os_abi = 0;
    std::uint8_t abi_version = 0;
    std::uint32_t cpu_type = 0; // Mach-O
    std::uint32_t cpu_subtype = 0;
    std::string platform_command; // Mach-O: the probe's build-version load command, as it was
    std::string symbol_prefix;    // what the compiler puts before a C name ("_" on x86 Windows)
    // COFF objects for GNU ld (MinGW), which exports every symbol of a DLL that marks none: a
    // directive keeps the arrays out. Set by whoever knows the linker; a probe cannot tell.
    bool gnu_ld = false;
};

// The name the probe source gives the one thing it defines.
constexpr std::string_view probe_symbol = "vormesta_probe";

// Reads the target off `object`, the bytes of an object file or an archive of objects (a
// compiler's output for a source defining `probe_symbol`). False when it is no object this code
// writes, with what was seen in `seen`.
bool read_object_target(std::string_view object, ObjectTarget& target, std::string& seen);

// The path of the first object a thin archive (members kept as files of their own) names,
// relative to the archive's folder where it is not absolute. False for any other file.
bool first_thin_member(std::string_view archive, std::string& path);

// One line saying what the target is ("ELF 64-bit little-endian, machine 62, flags 0x0").
std::string describe(const ObjectTarget& target);

// The object around the data: `before` is written, then the `size` bytes of data, then `after`.
struct ObjectLayout {
    std::string before;
    std::string after;
};

// A name the object defines: `size` bytes from `offset` into the data. Each is hidden (private
// extern on Mach-O), so that a shared library linking the object exports none.
struct ObjectSymbol {
    std::string name; // a C name, spelled for the target by the writer
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

// One address-sized word of a table: a number, or the address of a place in the data, of a word
// of the table, or of a string after its words (each from its start, in bytes or words).
struct ObjectWord {
    enum class To { number, data, word, string };
    To to = To::number;
    std::uint64_t value = 0;
};

// A table of words the object holds beside the data, in a section the linker relocates: what a
// compiler writes for a `const` array of structs of pointers, written without one. Its symbol is
// hidden like the data's.
struct ObjectTable {
    std::string symbol;
    std::vector<ObjectWord> words;
    std::string strings; // after the words
};

// Whether objects for `target` can hold a table: its formats and machines whose relocation of
// an address this code knows. Others get the table from the compiler.
bool holds_tables(const ObjectTarget& target);

// Lays out an object whose `size` bytes of data, aligned to `alignment` (a power of two), carry
// `symbols`, and `table` where given (for a target that `holds_tables`). False, with the reason
// in `refused`, for a size the format cannot hold.
bool lay_out_object(const ObjectTarget& target, const std::vector<ObjectSymbol>& symbols,
                    std::uint64_t size, std::uint32_t alignment, ObjectLayout& layout,
                    std::string& refused, const ObjectTable* table = nullptr);

// An object holding one array, `array`, of all `size` bytes.
inline bool lay_out_object(const ObjectTarget& target, const std::string& array,
                           std::uint64_t size, std::uint32_t alignment, ObjectLayout& layout,
                           std::string& refused) {
    return lay_out_object(target, {{array, 0, size}}, size, alignment, layout, refused);
}

} // namespace vormesta
