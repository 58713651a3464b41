// What a web server needs of each file of a library, made at build time: its media type, a
// strong validator, and its compressed forms, each kept only where it is smaller than the bytes.
// Compressing is slow (brotli at quality 11 runs at about a megabyte a second), so it runs on
// every core, and a cache keeps each form under the digest of the bytes it came from: an edit
// compresses the edited file alone.
//
// The cache is a claim, never a proof: each fact is tied to the version of the file it came from
// (its identity, size and times, as the walk saw them), each form is made in the same read that
// hashes the bytes it came from, and whatever is embedded later is checked against the facts as
// it is copied (ByteWatch, and each form's own digest).
#pragma once

#include "compress.hpp"
#include "digest.hpp"
#include "media_type.hpp"
#include "platform.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vormesta {

// What a library asks for a file: the codings (a bit for each, 1 << Coding) and a validator.
struct WebAsk {
    unsigned codings = 0;
    bool etag = false;
};

struct WebInput {
    std::string from;           // where the bytes are read
    std::string relative;       // its path below the base: its extension gives the type
    platform::InputFacts facts; // as the walk saw it: every read must find this version
    WebAsk ask;
    std::string premade; // where a build made its forms beforehand ("<premade>.gzip"...); or empty
};

// What a file's bytes showed when they were read.
struct ByteFacts {
    bool utf8 = false;
    bool starts_compressed = false;
    std::string digest; // empty where no one asked
};

// Learns ByteFacts of bytes as they stream past, a piece at a time.
class ByteWatch {
  public:
    // `digest`, `utf8`: whether the digest and the charset are asked (neither costs a thing
    // otherwise); the signature always is.
    ByteWatch(bool digest, bool utf8) : digest_(digest), utf8_asked_(utf8) {}
    void add(std::string_view bytes);
    ByteFacts finish();

  private:
    bool digest_;
    bool utf8_asked_;
    Sha256 sha_;
    Utf8Check utf8_;
    std::string start_; // the first bytes, for a compressed format's signature
};

struct WebForm {
    Coding coding;
    std::string path;       // the file holding it
    std::uint64_t skip = 0; // bytes before it in that file
    std::uint64_t size = 0;
    std::string digest; // of its bytes: checked as it is embedded
    std::string etag;
};

struct WebFacts {
    std::string type;
    std::string etag;           // empty where not asked
    ByteFacts bytes;            // what the embedded bytes must show again
    bool check_utf8 = false;    // its type's charset came from the bytes
    bool check_start = false;   // whether it is compressed already came from the bytes
    std::vector<WebForm> forms; // smallest first, each smaller than the bytes
    bool made_faster = false;   // forms made now at the faster level of a large file
};

// The facts of each input. `cache` is where the step keeps what it made ("<cache>.files" and the
// folder "<cache>.forms"), empty for none: then text is read for its charset and nothing kept.
// Where reading takes long, every few seconds a line on standard output says, after `label`
// (none where it is empty), how far it is.
bool make_web_facts(const std::string& cache, const std::vector<WebInput>& inputs,
                    std::vector<WebFacts>& facts, const std::string& label = "");

// Forgets what the cache holds of the file at `from` and of bytes whose digest is `digest`, for a
// step that found a fact of them untrue: the next run learns them again.
void forget_learnt(const std::string& cache, const std::string& from, const std::string& digest);

// Whether bytes embedded showed what `facts` said of them; says which file changed where not.
bool bytes_as_learnt(const std::string& from, const WebFacts& facts, const ByteFacts& seen);

// Writes the file at `from` in each of the codings `asked` (a bit for each) at
// "<premade>.<coding>", for a build that runs a step per file (Bazel): each begins with a line
// holding the digest of the bytes it came from, and holds nothing more where the form is not worth
// keeping; the library step, given `premade`, takes them as they are once that digest is its
// file's.
bool write_forms(const std::string& from, const std::string& relative, unsigned asked,
                 const std::string& premade);

} // namespace vormesta
