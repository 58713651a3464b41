// SHA-256, for what must change whenever a file's bytes do: the strong validators the index
// gives, and the key its cache of compressed forms is kept under.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vormesta {

class Sha256 {
  public:
    Sha256();
    void add(std::string_view bytes);
    // The digest of all added; the object is spent.
    std::array<std::uint8_t, 32> finish();
    // The same in lower-case hex.
    std::string finish_hex();

  private:
    void block(const std::uint8_t* data);
    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> pending_{};
    std::size_t pending_size_ = 0;
    std::uint64_t length_ = 0;
};

// The digest of `bytes` in lower-case hex.
std::string sha256_hex(std::string_view bytes);
// Whether `text` is such a digest: 64 lower-case hex digits, and nothing a path could hold.
bool is_digest(std::string_view text);
// A strong validator for HTTP, quotes included: 128 bits of a digest `sha256_hex` gave.
std::string entity_tag(const std::string& digest);

} // namespace vormesta
