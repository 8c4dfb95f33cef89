// SHA-256: the published test vectors, and the digest independent of how the bytes arrive.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sha256.h"

namespace trawler {
namespace {

std::string Digest(const std::string& text) {
    Sha256 hash;
    hash.Update(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    return hash.FinishHex();
}

TEST(Sha256, PublishedVectors) {
    struct Case {
        std::string input;
        const char* digest;
    };
    const Case cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input.size());
        EXPECT_EQ(Digest(c.input), c.digest);
    }
}

// Every length around the padding's edges (55, 56, 63, 64 bytes into a block), given in every
// split into two pieces, gives the digest of the whole.
TEST(Sha256, SplitsDoNotChangeTheDigest) {
    std::string text;
    for (int i = 0; i < 200; ++i) text.push_back(static_cast<char>(i * 37 + 11));
    for (size_t length = 0; length <= text.size(); ++length) {
        const std::string whole = Digest(text.substr(0, length));
        for (size_t cut = 0; cut <= length; ++cut) {
            Sha256 hash;
            const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text.data());
            hash.Update(bytes, cut);
            hash.Update(bytes + cut, length - cut);
            ASSERT_EQ(hash.FinishHex(), whole) << "length " << length << ", cut " << cut;
        }
    }
    // Finish starts the hash over.
    Sha256 reused;
    reused.Update(reinterpret_cast<const uint8_t*>("x"), 1);
    reused.FinishHex();
    EXPECT_EQ(reused.FinishHex(), Digest(""));
}

}  // namespace
}  // namespace trawler
