#include "naming.hpp"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string_view>

namespace vormesta {
namespace {

// Locale-free on purpose: bytes 0x80 and up must never pass as letters.
bool is_ascii_alnum(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool is_ascii_digit(char c) {
    return c >= '0' && c <= '9';
}

// Keywords of C23 and C++23, alternative operator tokens included, and the few names the
// preprocessor claims for itself: none of them can name an array.
// clang-format off
constexpr std::string_view keywords[] = {
    "_Alignas", "_Alignof", "_Atomic", "_BitInt", "_Bool", "_Complex", "_Decimal128", "_Decimal32",
    "_Decimal64", "_Generic", "_Imaginary", "_Noreturn", "_Static_assert", "_Thread_local",
    "alignas", "alignof", "and", "and_eq", "asm", "auto", "bitand", "bitor", "bool", "break",
    "case", "catch", "char", "char16_t", "char32_t", "char8_t", "class", "co_await", "co_return",
    "co_yield", "compl", "concept", "const", "const_cast", "consteval", "constexpr", "constinit",
    "continue", "decltype", "default", "delete", "do", "double", "dynamic_cast", "else", "enum",
    "explicit", "export", "extern", "false", "float", "for", "friend", "goto", "if", "inline",
    "int", "long", "mutable", "namespace", "new", "noexcept", "not", "not_eq", "nullptr",
    "operator", "or", "or_eq", "private", "protected", "public", "register", "reinterpret_cast",
    "requires", "restrict", "return", "short", "signed", "sizeof", "static", "static_assert",
    "static_cast", "struct", "switch", "template", "this", "thread_local", "throw", "true", "try",
    "typedef", "typeid", "typename", "typeof", "typeof_unqual", "union", "unsigned", "using",
    "virtual", "void", "volatile", "wchar_t", "while", "xor", "xor_eq", "_Pragma", "__func__",
    "__VA_ARGS__", "__VA_OPT__", "__has_include", "__has_c_attribute", "__has_cpp_attribute",
};
// clang-format on

// Names the C libraries, POSIX, Windows, the C++ library or the compilers declare or define
// at file scope: an array of such a name would not compile after the usual includes. The list
// is the same on every host, so an array's name never depends on the machine that made it. One
// sorted block of names, each closed by a NUL, and where each starts: a lookup reads only the
// few pages that its halving touches.
#include "reserved_names.inc"

constexpr std::size_t reserved_count = std::size(reserved_offsets) - 1;

std::string_view reserved_name(std::size_t i) {
    return {reserved_text + reserved_offsets[i], reserved_offsets[i + 1] - reserved_offsets[i] - 1};
}

} // namespace

bool is_separator(char c) {
    return c == '/' || c == '\\';
}

std::string make_identifier(std::string_view text) {
    std::string name;
    name.reserve(text.size() + 1);
    for (const char c : text)
        name += is_ascii_alnum(c) ? c : '_';
    if (!name.empty() && is_ascii_digit(name.front()))
        name.insert(name.begin(), '_');
    return name;
}

bool is_keyword(std::string_view name) {
    return std::find(std::begin(keywords), std::end(keywords), name) != std::end(keywords);
}

bool is_reserved(std::string_view name) {
    std::size_t low = 0;
    std::size_t high = reserved_count;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        const int order = reserved_name(middle).compare(name);
        if (order == 0)
            return true;
        if (order < 0)
            low = middle + 1;
        else
            high = middle;
    }
    return false;
}

std::size_t find_base_length(const std::string& path) {
    for (std::size_t i = path.size(); i-- > 0;) {
        if (path[i] == '.' && i != 0)
            return i;
        if (is_separator(path[i]))
            break;
    }
    return path.size();
}

std::string make_output_path(const std::string& path, std::size_t base_length) {
    std::string out;
    out.reserve(base_length + 2);
    out.append(path, 0, base_length);
    out += ".h";
    return out;
}

std::string make_array_name(const std::string& path, std::size_t base_length) {
    std::string name = make_identifier(std::string_view(path).substr(0, base_length));
    // A few reserved names are reserved with '_' behind too (_SIZE_T and _SIZE_T_).
    while (is_keyword(name) || is_reserved(name))
        name += '_';
    return name;
}

} // namespace vormesta
