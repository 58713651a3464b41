// The content codings of HTTP a library's files are compressed with at build time, each at its
// format's highest standard level, the same bytes for the same input on every host.
#pragma once

#include <cstdint>
#include <memory>
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
// Files up to this size are compressed at each format's highest standard level (gzip 9, brotli
// 11, zstd 19), larger ones at gzip 6, brotli 9 and zstd 12: on 16 MB of web text, 1.3 to 25
// MB/s against 35 to 57 MB/s, for 2% (gzip) to 13% (zstd) more bytes. A 500 MB asset then costs
// seconds, not a quarter of an hour.
constexpr std::uint64_t fastest_above = 4u << 20;
inline bool compressed_faster(std::uint64_t size) {
    return size > fastest_above;
}
// The level `coding` compresses `size` bytes at.
int coding_level(Coding coding, std::uint64_t size);
// A coding's compressor, fed a piece at a time so that its memory stays the same whatever the
// size, at `coding_level`; gzip with no name or time in its header.
class Compressor {
  public:
    virtual ~Compressor() = default;
    // Compresses `bytes`, appending what comes out to `out`; `last` ends the stream. False only
    // where the library failed (out of memory).
    virtual bool add(std::string_view bytes, bool last, std::string& out) = 0;
};
// A compressor for `size` bytes in `coding`; null where this build lacks it or memory ran out.
// Whatever the size, brotli's window stays at 1 MiB and zstd's at 2 MiB, with tables to match, so
// that no compressor holds more than about 40 MiB (a larger window gains under 1% on large text).
std::unique_ptr<Compressor> start_compressing(Coding coding, std::uint64_t size);
// About the most memory such a compressor holds, as measured, with what it has made and not yet
// written.
std::uint64_t compressor_memory(Coding coding, std::uint64_t size);
// `bytes` compressed into `out` in one piece.
bool compress(Coding coding, std::string_view bytes, std::string& out);

} // namespace vormesta
