// What a web server needs of each file of a library, made at build time: its media type, a
// strong validator, and its compressed forms, each kept only where it is smaller than the bytes.
// Compressing is slow (brotli at quality 11 runs at about a megabyte a second), so it runs on
// every core, and a cache keeps each form under the digest of the bytes it came from: an edit
// compresses the edited file alone.
#pragma once

#include "compress.hpp"
#include "platform.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace vormesta {

// What a library asks for a file: the codings (a bit for each, 1 << Coding) and a validator.
struct WebAsk {
    unsigned codings = 0;
    bool etag = false;
};

struct WebInput {
    std::string from;     // where the bytes are read
    std::string relative; // its path below the base: its extension gives the type
    platform::InputFacts facts;
    WebAsk ask;
    std::string made; // where a build made its forms beforehand ("<made>.gzip"...); or empty
};

struct WebForm {
    Coding coding;
    std::string path; // the cache's file holding it
    std::uint64_t size = 0;
    std::string etag;
};

struct WebFacts {
    std::string type;
    std::string etag;           // empty where not asked
    std::vector<WebForm> forms; // smallest first, each smaller than the bytes
};

// The facts of each input. `cache` is where the step keeps what it made ("<cache>.files" and the
// folder "<cache>.forms"), empty for none: then text is read for its charset and nothing kept.
bool make_web_facts(const std::string& cache, const std::vector<WebInput>& inputs,
                    std::vector<WebFacts>& facts);

// Writes the file at `from` in each of the codings `asked` (a bit for each) at "<made>.<coding>",
// for a build that runs a step per file (Bazel): a form that is not worth keeping is written
// empty, and the library step, given `made`, takes them as they are.
bool write_forms(const std::string& from, const std::string& relative, unsigned asked,
                 const std::string& made);

} // namespace vormesta
