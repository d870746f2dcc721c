// Signed 128-bit arithmetic for the quotients of integer sets.
//
// The quotients of an IntSet are held in __int128.  The standard library
// knows nothing of that type in strict C++ mode, so its limits are written
// here; additions saturate at the limits (an interval end that would leave
// the range sticks to it), and division rounds towards minus or plus
// infinity as asked, never towards zero like the `/` operator: -7 / 2 is -3
// in C++ but floor(-7 / 2) is -4, and rebasing negative quotients needs
// the floor.
#pragma once

#include <cassert>
#include <cstdint>

namespace tessaron::descr {

using i128 = __int128;

inline constexpr i128 kI128Max = static_cast<i128>((static_cast<unsigned __int128>(1) << 127) - 1);
inline constexpr i128 kI128Min = -kI128Max - 1;

inline constexpr i128 sat_add(i128 a, i128 b) noexcept {
    i128 r = 0;
    if (__builtin_add_overflow(a, b, &r)) return b > 0 ? kI128Max : kI128Min;
    return r;
}

inline constexpr i128 sat_sub(i128 a, i128 b) noexcept {
    i128 r = 0;
    if (__builtin_sub_overflow(a, b, &r)) return b < 0 ? kI128Max : kI128Min;
    return r;
}

// floor(a / d) for d >= 1.
inline constexpr i128 floor_div(i128 a, std::int64_t d) noexcept {
    assert(d >= 1);
    const i128 q = a / d;
    return (a % d < 0) ? q - 1 : q;
}

// ceil(a / d) for d >= 1.
inline constexpr i128 ceil_div(i128 a, std::int64_t d) noexcept {
    assert(d >= 1);
    const i128 q = a / d;
    return (a % d > 0) ? q + 1 : q;
}

// a mod d in 0 .. d - 1, for d >= 1.
inline constexpr std::int64_t euclid_mod(i128 a, std::int64_t d) noexcept {
    assert(d >= 1);
    const i128 r = a % d;
    return static_cast<std::int64_t>(r < 0 ? r + d : r);
}

}  // namespace tessaron::descr
