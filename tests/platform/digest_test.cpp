#include "platform/digest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillon {
namespace {

// FIPS 180-2's examples, given whole and in pieces: the series identity is
// compared with digests made by other tools, so it must be the standard's.
TEST(Sha256, StandardDigestsWholeAndInPieces) {
    struct Case {
        std::vector<std::string> pieces;
        const char* digest;
    };
    const std::string million(1'000'000, 'a');
    const Case cases[] = {
        {{}, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {{"abc"}, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {{"abcdbcdecdefdefgefghfghighijhijk", "ijkljklmklmnlmnomnopnopq"},
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {{million.substr(0, 3), million.substr(3)},
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        Sha256 digest;
        for (const std::string& piece : c.pieces) {
            digest.Update(piece.data(), piece.size());
        }
        EXPECT_EQ(digest.HexDigest(), c.digest);
    }
}

TEST(Sha256, DigestSoFarLeavesRoomForMore) {
    Sha256 digest;
    digest.Update("ab", 2);
    EXPECT_EQ(digest.HexDigest(),
              "fb8e20fc2e4c3f248c60c39bd652f3c1347298bb977b8b4d5903b85055620603");
    digest.Update("c", 1);
    EXPECT_EQ(digest.HexDigest(),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
}  // namespace quillon
