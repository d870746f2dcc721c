// SipHash with c compression and d finalisation rounds, streaming.
//
// `SipHasher13` (c = 1, d = 3, both keys 0 by default) is the hash behind a
// validator's structural hash.  Input is a byte stream: words are written as
// their 8 little-endian bytes, single bytes as one byte.  The state buffers
// up to 7 pending bytes; every full 8-byte block is absorbed with c rounds.
// `finish` pads the pending bytes with the stream length modulo 256 in the
// top byte, absorbs that block, xors 0xff into v2 and runs d rounds; it does
// not disturb the state, so more bytes can follow.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tessaron::util {

template <int C, int D>
class SipHasher {
public:
    explicit SipHasher(std::uint64_t k0 = 0, std::uint64_t k1 = 0) noexcept
        : v0_(k0 ^ 0x736f6d6570736575ULL),
          v1_(k1 ^ 0x646f72616e646f6dULL),
          v2_(k0 ^ 0x6c7967656e657261ULL),
          v3_(k1 ^ 0x7465646279746573ULL) {}

    void write(const void* data, std::size_t n) noexcept {
        const auto* p = static_cast<const unsigned char*>(data);
        length_ += n;
        if (ntail_ > 0) {
            while (n > 0 && ntail_ < 8) {
                tail_ |= static_cast<std::uint64_t>(*p++) << (8 * ntail_++);
                --n;
            }
            if (ntail_ < 8) return;
            absorb(tail_);
            tail_ = 0;
            ntail_ = 0;
        }
        while (n >= 8) {
            absorb(load_le(p));
            p += 8;
            n -= 8;
        }
        while (n > 0) {
            tail_ |= static_cast<std::uint64_t>(*p++) << (8 * ntail_++);
            --n;
        }
    }

    void write_bytes(std::string_view bytes) noexcept { write(bytes.data(), bytes.size()); }

    void write_u8(std::uint8_t b) noexcept { write(&b, 1); }

    void write_u64(std::uint64_t w) noexcept {
        unsigned char b[8];
        for (int i = 0; i < 8; ++i) b[i] = static_cast<unsigned char>(w >> (8 * i));
        write(b, 8);
    }

    std::uint64_t finish() const noexcept {
        SipHasher s = *this;
        const std::uint64_t b = (static_cast<std::uint64_t>(length_ & 0xff) << 56) | s.tail_;
        s.v3_ ^= b;
        for (int i = 0; i < C; ++i) s.round();
        s.v0_ ^= b;
        s.v2_ ^= 0xff;
        for (int i = 0; i < D; ++i) s.round();
        return s.v0_ ^ s.v1_ ^ s.v2_ ^ s.v3_;
    }

private:
    static std::uint64_t load_le(const unsigned char* p) noexcept {
        std::uint64_t w = 0;
        for (int i = 7; i >= 0; --i) w = (w << 8) | p[i];
        return w;
    }

    void absorb(std::uint64_t m) noexcept {
        v3_ ^= m;
        for (int i = 0; i < C; ++i) round();
        v0_ ^= m;
    }

    void round() noexcept {
        v0_ += v1_;
        v1_ = std::rotl(v1_, 13);
        v1_ ^= v0_;
        v0_ = std::rotl(v0_, 32);
        v2_ += v3_;
        v3_ = std::rotl(v3_, 16);
        v3_ ^= v2_;
        v0_ += v3_;
        v3_ = std::rotl(v3_, 21);
        v3_ ^= v0_;
        v2_ += v1_;
        v1_ = std::rotl(v1_, 17);
        v1_ ^= v2_;
        v2_ = std::rotl(v2_, 32);
    }

    std::uint64_t v0_, v1_, v2_, v3_;
    std::uint64_t tail_ = 0;  // pending bytes, little-endian
    std::uint64_t length_ = 0;
    unsigned ntail_ = 0;
};

using SipHasher13 = SipHasher<1, 3>;
using SipHasher24 = SipHasher<2, 4>;

}  // namespace tessaron::util
