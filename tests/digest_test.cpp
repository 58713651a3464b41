#include "digest.hpp"

#include <gtest/gtest.h>

namespace {

// FIPS 180-4's examples, and lengths about the padding's block boundary.
TEST(Digest, Sha256OfKnownMessages) {
    const struct {
        std::string message;
        const char* digest;
    } rows[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(vormesta::sha256_hex(row.message), row.digest) << row.message.size();
    EXPECT_EQ(vormesta::entity_tag(vormesta::sha256_hex("abc")),
              "\"ba7816bf8f01cfea414140de5dae2223\"");
}

} // namespace
