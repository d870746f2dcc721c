// Fx-style hashing: the cheap multiplicative hash that keys every hash table
// of our own code and picks the slot of the per-thread sharing tables.
//
// A state starts at 0; writing a word w sets state = (state + w) * K with
// wrapping arithmetic; finishing rotates the state left by 26 bits.  Byte
// strings are folded eight bytes at a time, then the tail, then the length,
// so that "ab" and "a" "b" written as two strings differ.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tessaron::util {

class FxHasher {
public:
    static constexpr std::uint64_t kMultiplier = 0xf1357aea2e62a9c5ULL;

    void write(std::uint64_t word) noexcept { state_ = (state_ + word) * kMultiplier; }

    void write_bytes(std::string_view bytes) noexcept {
        const char* p = bytes.data();
        std::size_t n = bytes.size();
        while (n >= 8) {
            std::uint64_t w;
            std::memcpy(&w, p, 8);
            write(w);
            p += 8;
            n -= 8;
        }
        if (n > 0) {
            std::uint64_t w = 0;
            std::memcpy(&w, p, n);
            write(w);
        }
        write(bytes.size());
    }

    std::uint64_t state() const noexcept { return state_; }
    std::uint64_t finish() const noexcept { return std::rotl(state_, 26); }

private:
    std::uint64_t state_ = 0;
};

// Hash functor for boost::unordered_flat_map / unordered_flat_set keyed by
// integers, pointers or strings.  It does not claim to avalanche, so the
// tables apply their own bit mixing on top of it.
struct FxHash {
    std::size_t operator()(std::uint64_t v) const noexcept {
        FxHasher h;
        h.write(v);
        return h.finish();
    }
    std::size_t operator()(const void* p) const noexcept {
        return (*this)(static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(p)));
    }
    std::size_t operator()(std::string_view s) const noexcept {
        FxHasher h;
        h.write_bytes(s);
        return h.finish();
    }

};

}  // namespace tessaron::util
