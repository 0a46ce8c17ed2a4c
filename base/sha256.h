#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace qor {

// SHA-256 (FIPS 180-4), fed in pieces of any size. A record of which image
// went to which imager names the image by its digest: a file name says
// nothing about what the file held that day.
class Sha256 {
  public:
    using Digest = std::array<uint8_t, 32>;

    void update(std::span<const uint8_t> bytes);
    // The digest of everything fed so far; the object is spent afterwards.
    Digest finish();

  private:
    void compress(const uint8_t* block);

    std::array<uint32_t, 8> m_state{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                    0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::array<uint8_t, 64> m_block{};
    std::size_t m_filled = 0;
    uint64_t m_length = 0;  // bytes fed
};

// Lower-case hexadecimal, 64 characters.
std::string hexDigest(const Sha256::Digest& digest);

}  // namespace qor
