#include "digest.hpp"

#include <algorithm>

// x86's SHA extensions hash several times faster: taken where the processor has them.
#if defined(__GNUC__) && !defined(_MSC_VER) && (defined(__x86_64__) || defined(__i386__))
#define VORMESTA_SHA_NI 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace vormesta {
namespace {

constexpr std::uint32_t round_constants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t rotate(std::uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

std::string hex(const std::uint8_t* bytes, std::size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

#ifdef VORMESTA_SHA_NI
bool has_sha_extensions() {
    static const bool has = [] {
        unsigned a = 0, b = 0, c = 0, d = 0;
        const bool sse41 = __get_cpuid(1, &a, &b, &c, &d) && (c & (1u << 19)) != 0;
        return sse41 && __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & (1u << 29)) != 0;
    }();
    return has;
}

// One block with the SHA extensions. They keep the state as ABEF and CDGH, and work on four
// message words at a time.
__attribute__((target("sha,sse4.1"))) void block_with_extensions(std::uint32_t* state,
                                                                 const std::uint8_t* data) {
    const __m128i big_endian = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    const __m128i abcd =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<__m128i*>(state)), 0xB1);
    const __m128i hgfe =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<__m128i*>(state + 4)), 0x1B);
    __m128i abef = _mm_alignr_epi8(abcd, hgfe, 8);
    __m128i cdgh = _mm_blend_epi16(hgfe, abcd, 0xF0);
    const __m128i abef_before = abef, cdgh_before = cdgh;
    __m128i w[4];
    for (int i = 0; i < 4; ++i)
        w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)),
                                big_endian);
    for (int i = 0; i < 16; ++i) {
        // From the fifth group on, words i*4 .. i*4+3 of the schedule replace those 16 before.
        if (i >= 4)
            w[i % 4] = _mm_sha256msg2_epu32(
                _mm_add_epi32(_mm_sha256msg1_epu32(w[i % 4], w[(i + 1) % 4]),
                              _mm_alignr_epi8(w[(i + 3) % 4], w[(i + 2) % 4], 4)),
                w[(i + 3) % 4]);
        __m128i message = _mm_add_epi32(
            w[i % 4], _mm_loadu_si128(reinterpret_cast<const __m128i*>(round_constants + 4 * i)));
        cdgh = _mm_sha256rnds2_epu32(cdgh, abef, message);
        message = _mm_shuffle_epi32(message, 0x0E);
        abef = _mm_sha256rnds2_epu32(abef, cdgh, message);
    }
    abef = _mm_add_epi32(abef, abef_before);
    cdgh = _mm_add_epi32(cdgh, cdgh_before);
    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}
#endif

} // namespace

Sha256::Sha256()
    : state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
             0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {}

void Sha256::block(const std::uint8_t* data) {
#ifdef VORMESTA_SHA_NI
    if (has_sha_extensions())
        return block_with_extensions(state_.data(), data);
#endif
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = std::uint32_t{data[4 * i]} << 24 | std::uint32_t{data[4 * i + 1]} << 16 |
               std::uint32_t{data[4 * i + 2]} << 8 | std::uint32_t{data[4 * i + 3]};
    for (int i = 16; i < 64; ++i) {
        const std::uint32_t s0 = rotate(w[i - 15], 7) ^ rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const std::uint32_t s1 = rotate(w[i - 2], 17) ^ rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4],
                  f = state_[5], g = state_[6], h = state_[7];
    for (int i = 0; i < 64; ++i) {
        const std::uint32_t t1 = h + (rotate(e, 6) ^ rotate(e, 11) ^ rotate(e, 25)) +
                                 ((e & f) ^ (~e & g)) + round_constants[i] + w[i];
        const std::uint32_t t2 =
            (rotate(a, 2) ^ rotate(a, 13) ^ rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    const std::uint32_t out[8] = {a, b, c, d, e, f, g, h};
    for (int i = 0; i < 8; ++i)
        state_[static_cast<std::size_t>(i)] += out[i];
}

void Sha256::add(std::string_view bytes) {
    length_ += bytes.size();
    auto data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    std::size_t left = bytes.size();
    while (left > 0) {
        if (pending_size_ == 0 && left >= 64) {
            block(data);
            data += 64;
            left -= 64;
            continue;
        }
        const std::size_t take = std::min(left, 64 - pending_size_);
        std::copy(data, data + take, pending_.begin() + static_cast<std::ptrdiff_t>(pending_size_));
        pending_size_ += take;
        data += take;
        left -= take;
        if (pending_size_ == 64) {
            block(pending_.data());
            pending_size_ = 0;
        }
    }
}

std::array<std::uint8_t, 32> Sha256::finish() {
    const std::uint64_t bits = length_ * 8;
    std::string tail(1, '\x80');
    tail.append((pending_size_ < 56 ? 55 : 119) - pending_size_, '\0');
    for (int i = 7; i >= 0; --i)
        tail += static_cast<char>(bits >> (8 * i));
    add(tail);
    std::array<std::uint8_t, 32> digest{};
    for (std::size_t i = 0; i < 32; ++i)
        digest[i] = static_cast<std::uint8_t>(state_[i / 4] >> (24 - 8 * (i % 4)));
    return digest;
}

std::string Sha256::finish_hex() {
    const auto digest = finish();
    return hex(digest.data(), digest.size());
}

std::string sha256_hex(std::string_view bytes) {
    Sha256 sha;
    sha.add(bytes);
    return sha.finish_hex();
}

bool is_digest(std::string_view text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

std::string entity_tag(const std::string& digest) {
    return '"' + digest.substr(0, 32) + '"';
}

} // namespace vormesta
