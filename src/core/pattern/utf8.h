// UTF-8 helpers: encoding, strict decoding (scalar values only, no
// overlong forms), and the split of a code point range into byte-range
// sequences that the NFA compiler turns into byte transitions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessaron::pattern::utf8 {

inline constexpr std::uint32_t kInvalid = 0xFFFFFFFF;

void encode(std::uint32_t c, std::string& out);

// Decodes the scalar value starting at s[i]; sets len to its byte length.
// Returns kInvalid (len 1) for a malformed or truncated sequence.
std::uint32_t decode(std::string_view s, std::size_t i, std::size_t& len);

// Decodes the scalar value that ends exactly at s[end - 1], or kInvalid.
std::uint32_t decode_last(std::string_view s, std::size_t end);

// Offset of the first malformed byte, or s.size() when s is valid UTF-8.
std::size_t first_invalid(std::string_view s);

struct ByteRange {
    std::uint8_t lo, hi;
    bool operator==(const ByteRange&) const = default;
};

// One UTF-8 shape: the byte strings b0 b1 ... with b_k in ranges[k].
struct Sequence {
    std::array<ByteRange, 4> ranges;
    std::uint8_t len;
};

// Appends the sequences that together encode exactly the scalar values in
// [lo, hi] (surrogates must not be inside), in ascending byte order.
void split_range(std::uint32_t lo, std::uint32_t hi, std::vector<Sequence>& out);

}  // namespace tessaron::pattern::utf8
