// The content codings of HTTP a library's files are compressed with at build time, each at its
// format's highest standard level, the same bytes for the same input on every host.
#pragma once

#include <string>
#include <string_view>

namespace vormesta {

enum class Coding { gzip, br, zstd };
constexpr Coding codings[] = {Coding::gzip, Coding::br, Coding::zstd};

// As Content-Encoding names it: "gzip", "br", "zstd".
const char* coding_name(Coding coding);
// The coding Content-Encoding names `name`; false for none of the three.
bool coding_named(std::string_view name, Coding& coding);
// Whether this build of the step can write it (its library was found when it was built).
bool coding_available(Coding coding);
// The codings this build can write, by name, a space between; "none" for none.
std::string available_codings();
// `bytes` compressed into `out`: gzip at level 9 with no name or time in its header, brotli at
// quality 11, zstd at level 19. False only where the library failed (out of memory).
bool compress(Coding coding, std::string_view bytes, std::string& out);

} // namespace vormesta
