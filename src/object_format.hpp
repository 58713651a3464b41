// What the object readers (the probe) and writers (one file per format) share: numbers in the
// target's byte order, bounds-checked reading of untrusted files, and the machines and magic
// numbers by name. Internal to the object code.
#pragma once

#include "object_file.hpp"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vormesta::objects {

// A count known to be small (padding, a table), as a size in memory on any host.
inline std::size_t small(std::uint64_t count) {
    return static_cast<std::size_t>(count);
}

// A count read from a file, no larger than `limit`.
inline std::size_t clamped(std::uint64_t count, std::size_t limit) {
    return count < limit ? static_cast<std::size_t>(count) : limit;
}

// Numbers as the target stores them.
class Bytes {
  public:
    Bytes(std::string& out, bool big_endian) : out_(out), big_endian_(big_endian) {}
    // One append a number: a table holds millions of them.
    void put(std::uint64_t value, int size) {
        char bytes[8];
        for (int i = 0; i < size; ++i) {
            const int shift = 8 * (big_endian_ ? size - 1 - i : i);
            bytes[i] = static_cast<char>((value >> shift) & 0xFF);
        }
        out_.append(bytes, static_cast<std::size_t>(size));
    }
    void u8(std::uint64_t value) { put(value, 1); }
    void u16(std::uint64_t value) { put(value, 2); }
    void u32(std::uint64_t value) { put(value, 4); }
    void u64(std::uint64_t value) { put(value, 8); }
    // An address-sized field: 8 bytes in 64-bit objects, 4 in 32-bit ones.
    void word(std::uint64_t value, bool is_64) { put(value, is_64 ? 8 : 4); }
    // A fixed-size name field, padded with NULs.
    void name(std::string_view text, std::size_t size) {
        out_.append(text.substr(0, size));
        out_.append(size - std::min(size, text.size()), '\0');
    }
    void pad_to(std::uint64_t size) { out_.append(small(size - out_.size()), '\0'); }

  private:
    std::string& out_;
    bool big_endian_;
};

// A string table as the object formats keep one: `add` appends a name with its NUL and gives
// the offset a section or a symbol names it by. ELF's begins with a NUL and Mach-O's with
// " \0"; COFF's offsets count from its 4-byte size, which comes first.
class StringTable {
  public:
    explicit StringTable(std::string start, std::uint32_t base = 0)
        : bytes_(std::move(start)), base_(base) {}
    std::uint32_t add(std::string_view name) {
        const auto at = static_cast<std::uint32_t>(base_ + bytes_.size());
        bytes_.append(name);
        bytes_ += '\0';
        return at;
    }
    const std::string& bytes() const { return bytes_; }

  private:
    std::string bytes_;
    std::uint32_t base_;
};

inline std::uint64_t align_up(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

inline std::uint32_t log2_of(std::uint32_t power) {
    std::uint32_t log = 0;
    while ((std::uint32_t{1} << log) < power)
        ++log;
    return log;
}

inline std::string hex(std::uint64_t value) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), digits[value & 0xF]);
        value >>= 4;
    } while (value);
    return "0x" + text;
}

// Reads numbers from an untrusted file: anything past the end reads as 0 and marks it torn.
class Reader {
  public:
    Reader(std::string_view data, bool big_endian) : data_(data), big_endian_(big_endian) {}
    std::uint64_t get(std::uint64_t offset, int size) {
        if (offset > data_.size() || data_.size() - offset < static_cast<std::uint64_t>(size)) {
            torn_ = true;
            return 0;
        }
        std::uint64_t value = 0;
        for (int i = 0; i < size; ++i) {
            const auto byte = static_cast<unsigned char>(
                data_[static_cast<std::size_t>(offset) + static_cast<std::size_t>(i)]);
            value |= std::uint64_t{byte} << (8 * (big_endian_ ? size - 1 - i : i));
        }
        return value;
    }
    std::uint64_t u16(std::uint64_t offset) { return get(offset, 2); }
    std::uint64_t u32(std::uint64_t offset) { return get(offset, 4); }
    std::uint64_t word(std::uint64_t offset, bool is_64) { return get(offset, is_64 ? 8 : 4); }
    // The NUL-ended string at `offset`, at most `limit` bytes.
    std::string_view text(std::uint64_t offset, std::uint64_t limit = std::string_view::npos) {
        if (offset >= data_.size())
            return {};
        const std::string_view rest =
            data_.substr(static_cast<std::size_t>(offset), clamped(limit, data_.size()));
        return rest.substr(0, rest.find('\0'));
    }
    std::string_view slice(std::uint64_t offset, std::uint64_t size) {
        if (offset > data_.size() || data_.size() - offset < size) {
            torn_ = true;
            return {};
        }
        return data_.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(size));
    }
    bool torn() const { return torn_; }

  private:
    std::string_view data_;
    bool big_endian_;
    bool torn_ = false;
};

// Machines and magic numbers (elf.h, winnt.h, mach-o/loader.h).
constexpr std::uint16_t elf_i386 = 3;      // EM_386
constexpr std::uint16_t elf_x86_64 = 62;   // EM_X86_64
constexpr std::uint16_t elf_aarch64 = 183; // EM_AARCH64
constexpr std::uint16_t elf_arm = 40;      // EM_ARM
constexpr std::uint16_t elf_s390 = 22;     // EM_S390
constexpr std::uint16_t elf_riscv = 243;   // EM_RISCV
constexpr std::uint16_t coff_i386 = 0x14C; // IMAGE_FILE_MACHINE_I386
constexpr std::uint16_t coff_amd64 = 0x8664;
constexpr std::uint16_t coff_arm64 = 0xAA64;
constexpr std::uint16_t coff_armnt = 0x1C4;
constexpr std::uint32_t macho_magic_64 = 0xFEEDFACF; // MH_MAGIC_64

constexpr std::uint64_t max_32 = 0xFFFFFFFF; // the largest offset a 32-bit field holds

inline std::string too_large(std::uint64_t size, const char* format) {
    return std::to_string(size) + " bytes are more than " + format + " can hold";
}

// How a word holding an address is relocated: the relocation's type, and whether its addend is in
// the relocation (RELA) or in the word itself (REL).
struct AddressRelocation {
    std::uint32_t type = 0;
    bool in_relocation = false;
};
// ELF's, for the machines this code knows (elf.h's R_*_64 and R_*_32); false for others.
bool elf_address_relocation(const ObjectTarget& t, AddressRelocation& relocation);

// The bytes of `table` for a target of `word`-byte addresses, the table's words first: numbers
// as they are, addresses as `address` gives the word for each (the addend, or 0).
std::string table_bytes(const ObjectTable& table, std::uint64_t word, bool big_endian,
                        const std::function<std::uint64_t(const ObjectWord&)>& address);
// Where a word of `table` points: into the data or into the table (words, then strings).
inline std::uint64_t table_place(const ObjectTable& table, const ObjectWord& at,
                                 std::uint64_t word) {
    return at.to == ObjectWord::To::word     ? at.value * word
           : at.to == ObjectWord::To::string ? table.words.size() * word + at.value
                                             : at.value;
}

// The writers, one per format: each lays out the object around the data as lay_out_object says.
bool lay_out_elf(const ObjectTarget& t, const std::vector<ObjectSymbol>& symbols,
                 std::uint64_t size, std::uint32_t alignment, ObjectLayout& layout,
                 std::string& refused, const ObjectTable* table);
bool lay_out_coff(const ObjectTarget& t, const std::vector<ObjectSymbol>& symbols,
                  std::uint64_t size, std::uint32_t alignment, ObjectLayout& layout,
                  std::string& refused, const ObjectTable* table);
// COFF's (winnt.h's IMAGE_REL_*_ADDR64 and DIR32), for the machines this code writes.
bool coff_address_relocation(const ObjectTarget& t, AddressRelocation& relocation);
bool lay_out_macho(const ObjectTarget& t, const std::vector<ObjectSymbol>& symbols,
                   std::uint64_t size, std::uint32_t alignment, ObjectLayout& layout,
                   std::string& refused);

} // namespace vormesta::objects
