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
#include <new>

namespace vormesta {
namespace {

// What comes out of a compressor is appended in steps of this size.
constexpr std::size_t out_step = 1 << 16;

#ifdef VORMESTA_HAS_ZLIB
// One deflate stream, window 15, in a gzip wrapper whose header holds no name, no time and
// "unknown" for the system, so that every host writes the same bytes.
class Gzip : public Compressor {
  public:
    explicit Gzip(std::uint64_t size) {
        header_.os = 255;
        ready_ = deflateInit2(&stream_, coding_level(Coding::gzip, size), Z_DEFLATED, 15 + 16, 9,
                              Z_DEFAULT_STRATEGY) == Z_OK;
        ready_ = ready_ && deflateSetHeader(&stream_, &header_) == Z_OK;
    }
    ~Gzip() override { deflateEnd(&stream_); }
    Gzip(const Gzip&) = delete;
    Gzip& operator=(const Gzip&) = delete;
    bool ready() const { return ready_; }

    bool add(std::string_view bytes, bool last, std::string& out) override {
        // zlib counts in 32 bits: fed in steps.
        do {
            const auto step = static_cast<uInt>(std::min<std::size_t>(bytes.size(), UINT_MAX));
            const bool finish = last && step == bytes.size();
            stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
            stream_.avail_in = step;
            int status;
            do {
                const std::size_t had = out.size();
                out.resize(had + out_step);
                stream_.next_out = reinterpret_cast<Bytef*>(&out[had]);
                stream_.avail_out = static_cast<uInt>(out_step);
                status = deflate(&stream_, finish ? Z_FINISH : Z_NO_FLUSH);
                out.resize(out.size() - stream_.avail_out);
                if (status == Z_STREAM_ERROR || (status == Z_BUF_ERROR && finish))
                    return false;
            } while (finish ? status != Z_STREAM_END
                            : stream_.avail_in > 0 || stream_.avail_out == 0);
            bytes.remove_prefix(step);
        } while (!bytes.empty());
        return true;
    }

  private:
    z_stream stream_{};
    gz_header header_{}; // deflate reads it at its first call
    bool ready_ = false;
};
#endif

// The window of a brotli stream for `size` bytes: the size, from 64 KiB to 1 MiB. Its memory
// grows with the window (about 40 MiB at 1 MiB, 90 MiB at brotli's usual 4 MiB).
std::uint32_t window_bits(std::uint64_t size) {
    std::uint32_t bits = 16;
    while (bits < 20 && (std::uint64_t{1} << bits) < size)
        ++bits;
    return bits;
}

#ifdef VORMESTA_HAS_BROTLI
class Brotli : public Compressor {
  public:
    explicit Brotli(std::uint64_t size)
        : state_(BrotliEncoderCreateInstance(nullptr, nullptr, nullptr)) {
        if (!state_)
            return;
        BrotliEncoderSetParameter(state_, BROTLI_PARAM_QUALITY,
                                  static_cast<std::uint32_t>(coding_level(Coding::br, size)));
        BrotliEncoderSetParameter(state_, BROTLI_PARAM_LGWIN, window_bits(size));
        BrotliEncoderSetParameter(state_, BROTLI_PARAM_MODE, BROTLI_MODE_GENERIC);
        BrotliEncoderSetParameter(
            state_, BROTLI_PARAM_SIZE_HINT,
            static_cast<std::uint32_t>(std::min<std::uint64_t>(size, 1u << 30)));
    }
    ~Brotli() override {
        if (state_)
            BrotliEncoderDestroyInstance(state_);
    }
    Brotli(const Brotli&) = delete;
    Brotli& operator=(const Brotli&) = delete;
    bool ready() const { return state_ != nullptr; }

    bool add(std::string_view bytes, bool last, std::string& out) override {
        std::size_t in_left = bytes.size();
        const auto* next_in = reinterpret_cast<const std::uint8_t*>(bytes.data());
        for (;;) {
            std::size_t out_left = 0;
            if (!BrotliEncoderCompressStream(
                    state_, last ? BROTLI_OPERATION_FINISH : BROTLI_OPERATION_PROCESS, &in_left,
                    &next_in, &out_left, nullptr, nullptr))
                return false;
            while (BrotliEncoderHasMoreOutput(state_)) {
                std::size_t size = out_step;
                const std::uint8_t* made = BrotliEncoderTakeOutput(state_, &size);
                out.append(reinterpret_cast<const char*>(made), size);
            }
            if (in_left == 0 && (!last || BrotliEncoderIsFinished(state_)))
                return true;
        }
    }

  private:
    BrotliEncoderState* state_;
};
#endif

#ifdef VORMESTA_HAS_ZSTD
class Zstd : public Compressor {
  public:
    explicit Zstd(std::uint64_t size) : context_(ZSTD_createCCtx()) {
        const int level = coding_level(Coding::zstd, size);
        ready_ = context_ &&
                 !ZSTD_isError(ZSTD_CCtx_setParameter(context_, ZSTD_c_compressionLevel, level)) &&
                 !ZSTD_isError(ZSTD_CCtx_setPledgedSrcSize(context_, size));
        // Level 19 past 2 MiB takes an 8 MiB window and 80 MiB of tables: 2 MiB and 12 MiB
        // cost under 1% on large text (smaller inputs get smaller ones from their size).
        if (ready_ && level == 19 && size > (2u << 20))
            ready_ = !ZSTD_isError(ZSTD_CCtx_setParameter(context_, ZSTD_c_windowLog, 21)) &&
                     !ZSTD_isError(ZSTD_CCtx_setParameter(context_, ZSTD_c_chainLog, 21)) &&
                     !ZSTD_isError(ZSTD_CCtx_setParameter(context_, ZSTD_c_hashLog, 20));
    }
    ~Zstd() override { ZSTD_freeCCtx(context_); }
    Zstd(const Zstd&) = delete;
    Zstd& operator=(const Zstd&) = delete;
    bool ready() const { return ready_; }

    bool add(std::string_view bytes, bool last, std::string& out) override {
        ZSTD_inBuffer in{bytes.data(), bytes.size(), 0};
        for (;;) {
            const std::size_t had = out.size();
            out.resize(had + out_step);
            ZSTD_outBuffer made{&out[had], out_step, 0};
            const std::size_t left =
                ZSTD_compressStream2(context_, &made, &in, last ? ZSTD_e_end : ZSTD_e_continue);
            out.resize(had + made.pos);
            if (ZSTD_isError(left))
                return false;
            if (last ? left == 0 : in.pos == in.size && made.pos < made.size)
                return true;
        }
    }

  private:
    ZSTD_CCtx* context_;
    bool ready_ = false;
};
#endif

template <typename Kind, typename... Arguments>
std::unique_ptr<Compressor> started(Arguments... arguments) {
    auto compressor = std::make_unique<Kind>(arguments...);
    if (!compressor->ready())
        return nullptr;
    return compressor;
}

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
    for (const Coding known : codings) {
        if (name == coding_name(known)) {
            coding = known;
            return true;
        }
    }
    return false;
}

std::string available_codings() {
    std::string names;
    for (const Coding coding : codings)
        if (coding_available(coding))
            names += (names.empty() ? "" : " ") + std::string(coding_name(coding));
    return names.empty() ? "none" : names;
}

int coding_level(Coding coding, std::uint64_t size) {
    const bool large = compressed_faster(size);
    switch (coding) {
    case Coding::gzip:
        return large ? 6 : 9;
    case Coding::br:
        return large ? 9 : 11;
    default:
        return large ? 12 : 19;
    }
}

std::unique_ptr<Compressor> start_compressing(Coding coding, [[maybe_unused]] std::uint64_t size) {
    try {
        switch (coding) {
#ifdef VORMESTA_HAS_ZLIB
        case Coding::gzip:
            return started<Gzip>(size);
#endif
#ifdef VORMESTA_HAS_BROTLI
        case Coding::br:
            return started<Brotli>(size);
#endif
#ifdef VORMESTA_HAS_ZSTD
        case Coding::zstd:
            return started<Zstd>(size);
#endif
        default:
            return nullptr;
        }
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::uint64_t compressor_memory(Coding coding, std::uint64_t size) {
    const std::uint64_t pending = std::min<std::uint64_t>(size, 1u << 20);
    const std::uint64_t held[] = {1u << 20, (6u << 20) + (window_bits(size) - 16) * (8u << 20),
                                  size > (256u << 10) ? 20u << 20 : 6u << 20};
    return pending + held[static_cast<int>(coding)];
}

bool compress(Coding coding, std::string_view bytes, std::string& out) {
    const std::unique_ptr<Compressor> compressor = start_compressing(coding, bytes.size());
    out.clear();
    return compressor && compressor->add(bytes, true, out);
}

} // namespace vormesta
