// UTF-16, as Windows holds names and command lines, to and from the UTF-8 bytes the rest of the
// tool works on. Lossless both ways: a surrogate without its partner (Windows allows those in
// file names) is carried as a three-byte sequence of its own, as WTF-8 does, so that turning a
// name back to UTF-16 gives the very name it came from.
#pragma once

#include <string>
#include <string_view>

namespace vormesta {

std::string utf16_to_utf8(std::u16string_view text);

// The inverse of utf16_to_utf8. A byte that starts no valid sequence (which utf16_to_utf8 never
// writes) becomes U+FFFD.
std::u16string utf8_to_utf16(std::string_view text);

} // namespace vormesta
