// The value kinds: every Python value falls into exactly one of twelve.
//
// `Kind` names them in their fixed order (None, bool, int, float, str,
// bytes, list, tuple, set, frozenset, dict, other), and that order is the
// slot number of a kind wherever kinds index a table.  Instances of a
// subclass of a builtin type are of that type's kind; a value whose type
// derives from none of them is of kind `Other`.
//
// Code that holds one entry per kind (the descriptors' slots, say) indexes
// it by `Kind` through `kind_slot` and walks the kinds in slot order through
// `kKinds`; no other numbering of the kinds exists.  The oracle answers
// with `Kind` values too.
//
// `KindMask` is a set of kinds, one bit per slot.  The masks the decisions
// compute from nodes never split the non-scalar kinds (list to other):
// they come from `anything` and the scalar nodes, combined by union,
// intersection and complement.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tessaron::ir {

enum class Kind : std::uint8_t {
    None = 0,
    Bool = 1,
    Int = 2,
    Float = 3,
    Str = 4,
    Bytes = 5,
    List = 6,
    Tuple = 7,
    Set = 8,
    Frozenset = 9,
    Dict = 10,
    Other = 11,
};

inline constexpr std::size_t kKindCount = 12;

constexpr std::size_t kind_slot(Kind k) { return static_cast<std::size_t>(k); }

// Every kind, in slot order.
inline constexpr std::array<Kind, kKindCount> kKinds = {
    Kind::None, Kind::Bool, Kind::Int,       Kind::Float, Kind::Str,  Kind::Bytes,
    Kind::List, Kind::Tuple, Kind::Set, Kind::Frozenset, Kind::Dict, Kind::Other,
};

// bool and int: every bool is an int.
constexpr bool is_integral_kind(Kind k) { return k == Kind::Bool || k == Kind::Int; }

class KindMask {
public:
    constexpr KindMask() = default;
    constexpr KindMask(Kind k) : bits_(static_cast<std::uint16_t>(1u << kind_slot(k))) {}  // NOLINT: implicit

    static constexpr KindMask all() { return KindMask(kAllBits); }

    constexpr bool empty() const { return bits_ == 0; }
    constexpr bool contains(Kind k) const { return (bits_ & KindMask(k).bits_) != 0; }
    constexpr bool intersects(KindMask o) const { return (bits_ & o.bits_) != 0; }
    constexpr std::uint16_t bits() const { return bits_; }

    constexpr KindMask operator|(KindMask o) const { return KindMask(bits_ | o.bits_); }
    constexpr KindMask operator&(KindMask o) const { return KindMask(bits_ & o.bits_); }
    // The kinds outside this set.
    constexpr KindMask operator~() const { return KindMask(kAllBits & ~bits_); }
    constexpr KindMask& operator|=(KindMask o) { return *this = *this | o; }
    constexpr KindMask& operator&=(KindMask o) { return *this = *this & o; }
    constexpr bool operator==(const KindMask&) const = default;

private:
    static constexpr std::uint16_t kAllBits = (1u << kKindCount) - 1;
    constexpr explicit KindMask(unsigned bits) : bits_(static_cast<std::uint16_t>(bits)) {}

    std::uint16_t bits_ = 0;
};

// Named masks.
inline constexpr KindMask kNoKinds{};
inline constexpr KindMask kAllKinds = KindMask::all();
// The values of `int`: ints and bools.
inline constexpr KindMask kIntegralKinds = KindMask(Kind::Bool) | Kind::Int;
// None, bool, int, float, str and bytes.
inline constexpr KindMask kScalarKinds =
    KindMask(Kind::None) | Kind::Bool | Kind::Int | Kind::Float | Kind::Str | Kind::Bytes;
// list, tuple, set, frozenset, dict and other.
inline constexpr KindMask kNonScalarKinds = ~kScalarKinds;

}  // namespace tessaron::ir
