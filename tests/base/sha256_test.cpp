#include "base/sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>


namespace qor {
namespace {

std::span<const uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

struct Vector {
    std::string message;
    const char* digest;
};

// The published test vectors, and lengths about the padding's edges (55 and
// 56 bytes: the length fits in the last block or needs one more).
const Vector kVectors[] = {
    {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlm"
     "nopqrsmnopqrstnopqrstu",
     "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
    {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
    {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
};

TEST(Sha256, PublishedVectorsWholeAndInUnevenPieces) {
    for (const Vector& v : kVectors) {
        Sha256 whole;
        whole.update(bytesOf(v.message));
        EXPECT_EQ(hexDigest(whole.finish()), v.digest) << v.message.size() << " bytes";

        // Pieces of 1, 2, 3, ... bytes cross every block boundary in a
        // different place.
        Sha256 pieces;
        std::string_view rest = v.message;
        for (std::size_t n = 1; !rest.empty(); n = n % 97 + 1) {
            const std::size_t take = std::min(n, rest.size());
            pieces.update(bytesOf(rest.substr(0, take)));
            rest.remove_prefix(take);
        }
        EXPECT_EQ(hexDigest(pieces.finish()), v.digest) << v.message.size() << " bytes";
    }
}

}  // namespace
}  // namespace qor
