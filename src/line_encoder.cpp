#include "line_encoder.hpp"

#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VORMESTA_AVX2 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace vormesta {
namespace {

// Every item text, padded to eight bytes: formatting a byte is one eight-byte copy. The three
// bytes of padding land where the next item goes.
constexpr std::size_t padded_item_size = 8;
static_assert(padded_item_size - item_size <= encode_slack);

struct ItemTable {
    char text[256][padded_item_size];
};

constexpr char hex_digits[] = "0123456789ABCDEF";

constexpr ItemTable make_item_table() {
    ItemTable table{};
    for (int b = 0; b < 256; ++b) {
        table.text[b][0] = '0';
        table.text[b][1] = 'x';
        table.text[b][2] = hex_digits[b >> 4];
        table.text[b][3] = hex_digits[b & 0xF];
        table.text[b][4] = ',';
    }
    return table;
}

constexpr ItemTable item_table = make_item_table();

} // namespace

char* encode_lines_portable(const unsigned char* bytes, std::size_t lines,
                            std::string_view line_end, char* out) {
    for (std::size_t line = 0; line < lines; ++line, bytes += items_per_line) {
        out = put_text(out, line_indent);
        for (std::size_t i = 0; i < items_per_line; ++i)
            out = encode_item(out, bytes[i]);
        out = put_text(out, line_end);
    }
    return out;
}

namespace {

#ifdef VORMESTA_AVX2

// A line is at most 84 characters, laid out as six 16-byte vectors. Each vector is a constant
// part (indent, "0x", commas, line end) merged with hex digits shuffled into their places.
constexpr std::size_t line_vectors = 6;
constexpr unsigned char unused = 0x80; // a shuffle index that yields zero

struct LineShape {
    unsigned char constant[line_vectors][16];
    unsigned char high_digit[line_vectors][16]; // which byte's high digit goes here
    unsigned char low_digit[line_vectors][16];
};

LineShape make_line_shape(std::string_view line_end) {
    LineShape shape{};
    const std::size_t items_end = line_indent.size() + items_per_line * item_size;
    for (std::size_t p = 0; p < line_vectors * 16; ++p) {
        unsigned char& constant = shape.constant[p / 16][p % 16];
        unsigned char& high = shape.high_digit[p / 16][p % 16];
        unsigned char& low = shape.low_digit[p / 16][p % 16];
        constant = 0;
        high = low = unused;
        if (p < line_indent.size()) {
            constant = static_cast<unsigned char>(line_indent[p]);
        } else if (p < items_end) {
            const std::size_t item = (p - line_indent.size()) / item_size;
            const auto index = static_cast<unsigned char>(item);
            switch ((p - line_indent.size()) % item_size) {
            case 0:
                constant = '0';
                break;
            case 1:
                constant = 'x';
                break;
            case 2:
                high = index;
                break;
            case 3:
                low = index;
                break;
            default:
                constant = ',';
                break;
            }
        } else if (p - items_end < line_end.size()) {
            constant = static_cast<unsigned char>(line_end[p - items_end]);
        }
    }
    return shape;
}

// One line is three 32-byte stores. Shuffles stay within 16-byte lanes, so each line's digits
// are copied into both lanes first.
__attribute__((target("avx2"))) char* encode_lines_avx2(const unsigned char* bytes,
                                                        std::size_t lines,
                                                        std::string_view line_end, char* out) {
    const LineShape shape = make_line_shape(line_end);
    constexpr std::size_t wide_vectors = line_vectors / 2;
    __m256i constant[wide_vectors], high_index[wide_vectors], low_index[wide_vectors];
    for (std::size_t v = 0; v < wide_vectors; ++v) {
        constant[v] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(shape.constant[2 * v]));
        high_index[v] =
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(shape.high_digit[2 * v]));
        low_index[v] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(shape.low_digit[2 * v]));
    }
    const __m128i digits = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hex_digits));
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const std::size_t line_size = line_indent.size() + items_per_line * item_size + line_end.size();

    for (std::size_t line = 0; line < lines; ++line, bytes += items_per_line, out += line_size) {
        const __m128i input = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
        const __m256i high = _mm256_broadcastsi128_si256(
            _mm_shuffle_epi8(digits, _mm_and_si128(_mm_srli_epi16(input, 4), nibble)));
        const __m256i low =
            _mm256_broadcastsi128_si256(_mm_shuffle_epi8(digits, _mm_and_si128(input, nibble)));
        // The last store spills past the line's end into the next line, which overwrites it.
        for (std::size_t v = 0; v < wide_vectors; ++v) {
            const __m256i text = _mm256_or_si256(
                constant[v], _mm256_or_si256(_mm256_shuffle_epi8(high, high_index[v]),
                                             _mm256_shuffle_epi8(low, low_index[v])));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32 * v), text);
        }
    }
    return out;
}

// Asks the processor itself, with no help from a compiler runtime (clang targeting MSVC links
// none): AVX2 present, and the system saving the vector registers it uses (XCR0 bits 1 and 2).
bool detect_avx2() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_OSXSAVE) || !(c & bit_AVX))
        return false;
    unsigned xcr0_low = 0, xcr0_high = 0;
    __asm__("xgetbv" : "=a"(xcr0_low), "=d"(xcr0_high) : "c"(0));
    if ((xcr0_low & 0x6) != 0x6 || __get_cpuid_max(0, nullptr) < 7)
        return false;
    __cpuid_count(7, 0, a, b, c, d);
    return (b & bit_AVX2) != 0;
}

bool has_avx2() {
    static const bool supported = detect_avx2();
    return supported;
}

#endif

} // namespace

char* encode_item(char* out, unsigned char byte) {
    std::memcpy(out, item_table.text[byte], padded_item_size);
    return out + item_size;
}

char* encode_lines(const unsigned char* bytes, std::size_t lines, std::string_view line_end,
                   char* out) {
#ifdef VORMESTA_AVX2
    if (has_avx2())
        return encode_lines_avx2(bytes, lines, line_end, out);
#endif
    return encode_lines_portable(bytes, lines, line_end, out);
}

} // namespace vormesta
