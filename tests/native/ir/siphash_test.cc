// SipHash-c-d against an independent one-shot reference written from the
// algorithm's description, and SipHash-2-4 against published vectors.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "core/util/siphash.h"

namespace {

using tessaron::util::SipHasher;
using tessaron::util::SipHasher13;
using tessaron::util::SipHasher24;

// The reference: pad the whole message (zero bytes up to a multiple of 8,
// less one, then the length mod 256), read it as little-endian 64-bit words
// and run the compression and finalisation on an array of four lanes.
std::uint64_t reference(int c, int d, std::uint64_t k0, std::uint64_t k1, const std::vector<std::uint8_t>& msg) {
    std::uint64_t v[4] = {k0 ^ 0x736f6d6570736575ULL, k1 ^ 0x646f72616e646f6dULL, k0 ^ 0x6c7967656e657261ULL,
                          k1 ^ 0x7465646279746573ULL};
    auto rotl = [](std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); };
    auto sipround = [&] {
        v[0] += v[1]; v[1] = rotl(v[1], 13); v[1] ^= v[0]; v[0] = rotl(v[0], 32);
        v[2] += v[3]; v[3] = rotl(v[3], 16); v[3] ^= v[2];
        v[0] += v[3]; v[3] = rotl(v[3], 21); v[3] ^= v[0];
        v[2] += v[1]; v[1] = rotl(v[1], 17); v[1] ^= v[2]; v[2] = rotl(v[2], 32);
    };
    std::vector<std::uint8_t> padded = msg;
    while (padded.size() % 8 != 7) padded.push_back(0);
    padded.push_back(static_cast<std::uint8_t>(msg.size() & 0xff));
    for (std::size_t off = 0; off < padded.size(); off += 8) {
        std::uint64_t m = 0;
        for (int i = 0; i < 8; ++i) m |= static_cast<std::uint64_t>(padded[off + i]) << (8 * i);
        v[3] ^= m;
        for (int i = 0; i < c; ++i) sipround();
        v[0] ^= m;
    }
    v[2] ^= 0xff;
    for (int i = 0; i < d; ++i) sipround();
    return v[0] ^ v[1] ^ v[2] ^ v[3];
}

std::vector<std::uint8_t> counting_bytes(std::size_t n) {
    std::vector<std::uint8_t> m(n);
    for (std::size_t i = 0; i < n; ++i) m[i] = static_cast<std::uint8_t>(i);
    return m;
}

TEST(SipHash, PublishedSipHash24Vectors) {
    // Key 00 01 .. 0f, message 00 01 .. (n-1), from the SipHash paper and
    // its reference test vectors.
    const std::uint64_t k0 = 0x0706050403020100ULL, k1 = 0x0f0e0d0c0b0a0908ULL;
    struct Case {
        std::size_t n;
        std::uint64_t expected;
    };
    for (Case c : {Case{0, 0x726fdb47dd0e0e31ULL}, Case{1, 0x74f839c593dc67fdULL}, Case{15, 0xa129ca6149be45e5ULL}}) {
        std::vector<std::uint8_t> m = counting_bytes(c.n);
        SipHasher24 h(k0, k1);
        h.write(m.data(), m.size());
        EXPECT_EQ(h.finish(), c.expected) << "n=" << c.n;
        EXPECT_EQ(reference(2, 4, k0, k1, m), c.expected) << "reference, n=" << c.n;
    }
}

TEST(SipHash, Sip13StreamingMatchesReferenceUnderAnyChunking) {
    std::mt19937_64 rng(99);
    for (std::size_t n = 0; n <= 80; ++n) {
        std::vector<std::uint8_t> m(n);
        for (auto& b : m) b = static_cast<std::uint8_t>(rng());
        const std::uint64_t expected = reference(1, 3, 0, 0, m);
        for (int trial = 0; trial < 4; ++trial) {
            SipHasher13 h;
            std::size_t at = 0;
            while (at < n) {
                std::size_t len = std::min<std::size_t>(n - at, rng() % 11);
                h.write(m.data() + at, len);
                at += len;
            }
            ASSERT_EQ(h.finish(), expected) << "n=" << n;
        }
    }
}

TEST(SipHash, WordsAreLittleEndianBytesAndFinishLeavesStateUsable) {
    SipHasher13 words;
    words.write_u64(0x0807060504030201ULL);
    words.write_u8(9);
    EXPECT_EQ(words.finish(), reference(1, 3, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9}));
    const std::uint64_t first = words.finish();
    EXPECT_EQ(words.finish(), first);
    words.write_u8(10);
    EXPECT_EQ(words.finish(), reference(1, 3, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
}

}  // namespace
