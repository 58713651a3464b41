#include "compress.hpp"

#ifdef VORMESTA_HAS_ZLIB
#include <zlib.h>
#endif
#ifdef VORMESTA_HAS_BROTLI
#include <brotli/encode.h>
#endif
#ifdef VORMESTA_HAS_ZSTD
#include <zstd.h>
#endif

#include <algorithm>
#include <climits>
#include <cstdint>

namespace vormesta {
namespace {

#ifdef VORMESTA_HAS_ZLIB
// One deflate stream at level 9, window 15, in a gzip wrapper whose header holds no name, no
// time and "unknown" for the system, so that every host writes the same bytes.
bool gzip(std::string_view bytes, std::string& out) {
    z_stream stream{};
    if (deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    gz_header header{};
    header.os = 255;
    bool done = deflateSetHeader(&stream, &header) == Z_OK;
    out.resize(deflateBound(&stream, static_cast<uLong>(bytes.size())) + 32);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    std::size_t in_left = bytes.size();
    std::size_t out_left = out.size();
    int status = Z_OK;
    while (done && status == Z_OK) {
        // zlib counts in 32 bits: feed it in steps.
        const auto in_step = static_cast<uInt>(std::min<std::size_t>(in_left, UINT_MAX));
        const auto out_step = static_cast<uInt>(std::min<std::size_t>(out_left, UINT_MAX));
        stream.avail_in = in_step;
        stream.avail_out = out_step;
        status = deflate(&stream, in_step == in_left ? Z_FINISH : Z_NO_FLUSH);
        in_left -= in_step - stream.avail_in;
        out_left -= out_step - stream.avail_out;
        if (status == Z_BUF_ERROR || (status == Z_OK && out_left == 0))
            done = false;
    }
    done = done && status == Z_STREAM_END;
    out.resize(out.size() - out_left);
    deflateEnd(&stream);
    return done;
}
#endif

#ifdef VORMESTA_HAS_BROTLI
bool brotli(std::string_view bytes, std::string& out) {
    std::size_t size = BrotliEncoderMaxCompressedSize(bytes.size());
    if (size == 0)
        size = bytes.size() + 1024;
    out.resize(size);
    const bool done =
        BrotliEncoderCompress(BROTLI_MAX_QUALITY, BROTLI_DEFAULT_WINDOW, BROTLI_MODE_GENERIC,
                              bytes.size(), reinterpret_cast<const std::uint8_t*>(bytes.data()),
                              &size, reinterpret_cast<std::uint8_t*>(&out[0]));
    out.resize(done ? size : 0);
    return done;
}
#endif

#ifdef VORMESTA_HAS_ZSTD
bool zstd(std::string_view bytes, std::string& out) {
    out.resize(ZSTD_compressBound(bytes.size()));
    const std::size_t size = ZSTD_compress(&out[0], out.size(), bytes.data(), bytes.size(), 19);
    if (ZSTD_isError(size))
        return false;
    out.resize(size);
    return true;
}
#endif

} // namespace

const char* coding_name(Coding coding) {
    static const char* const names[] = {"gzip", "br", "zstd"};
    return names[static_cast<int>(coding)];
}

bool coding_available(Coding coding) {
    static const bool built[] = {
#ifdef VORMESTA_HAS_ZLIB
        true,
#else
        false,
#endif
#ifdef VORMESTA_HAS_BROTLI
        true,
#else
        false,
#endif
#ifdef VORMESTA_HAS_ZSTD
        true,
#else
        false,
#endif
    };
    return built[static_cast<int>(coding)];
}

bool coding_named(std::string_view name, Coding& coding) {
    for (const Coding known : codings)
        if (name == coding_name(known))
            return coding = known, true;
    return false;
}

std::string available_codings() {
    std::string names;
    for (const Coding coding : codings)
        if (coding_available(coding))
            names += (names.empty() ? "" : " ") + std::string(coding_name(coding));
    return names.empty() ? "none" : names;
}

bool compress(Coding coding, std::string_view bytes, std::string& out) {
    switch (coding) {
#ifdef VORMESTA_HAS_ZLIB
    case Coding::gzip:
        return gzip(bytes, out);
#endif
#ifdef VORMESTA_HAS_BROTLI
    case Coding::br:
        return brotli(bytes, out);
#endif
#ifdef VORMESTA_HAS_ZSTD
    case Coding::zstd:
        return zstd(bytes, out);
#endif
    default:
        return false;
    }
}

} // namespace vormesta
