// The high-level form of a parsed pattern: what it matches, with flags,
// escapes, case folding and Unicode classes already resolved.  Captures,
// names and greediness are gone: the engine answers whole-text membership,
// for which neither the position of groups nor the preference between
// alternatives matters.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/pattern/interval_set.h"

namespace tessaron::pattern {

// Zero-width assertions.  The ASCII forms look at bytes; the Unicode forms
// look at the characters around the position.
enum class Look : std::uint8_t {
    Start,          // \A, or ^ without m
    End,            // \z, or $ without m
    StartLF,        // (?m)^
    EndLF,          // (?m)$
    StartCRLF,      // (?mR)^
    EndCRLF,        // (?mR)$
    WordAscii,      // (?-u)\b
    NotWordAscii,   // (?-u)\B
    WordStartAscii,
    WordEndAscii,
    WordStartHalfAscii,
    WordEndHalfAscii,
    WordUnicode,    // \b
    NotWordUnicode, // \B
    WordStartUnicode,
    WordEndUnicode,
    WordStartHalfUnicode,
    WordEndHalfUnicode,
};
inline constexpr int kLookCount = 18;
inline constexpr std::uint32_t look_bit(Look l) { return 1u << static_cast<int>(l); }
inline constexpr std::uint32_t kUnicodeWordLooks =
    look_bit(Look::WordUnicode) | look_bit(Look::NotWordUnicode) | look_bit(Look::WordStartUnicode) |
    look_bit(Look::WordEndUnicode) | look_bit(Look::WordStartHalfUnicode) | look_bit(Look::WordEndHalfUnicode);

inline constexpr std::uint32_t kUnbounded = UINT32_MAX;

struct Hir {
    enum class Kind : std::uint8_t {
        Empty,        // matches the empty text
        Literal,      // the bytes in `bytes`
        UnicodeClass, // one code point of `set`, as UTF-8
        ByteClass,    // one byte of `set`
        Assert,       // `look`
        Repeat,       // subs[0] between min and max times
        Concat,       // subs in order
        Alternate,    // one of subs
    };

    Kind kind = Kind::Empty;
    Look look = Look::Start;
    std::uint32_t min = 0, max = 0;
    std::string bytes;
    IntervalSet set;
    std::vector<Hir> subs;

    static Hir empty() { return Hir{}; }
    static Hir literal(std::string b) {
        Hir h;
        h.kind = Kind::Literal;
        h.bytes = std::move(b);
        return h;
    }
    static Hir unicode_class(IntervalSet s) {
        Hir h;
        h.kind = Kind::UnicodeClass;
        h.set = std::move(s);
        return h;
    }
    static Hir byte_class(IntervalSet s) {
        Hir h;
        h.kind = Kind::ByteClass;
        h.set = std::move(s);
        return h;
    }
    static Hir assertion(Look l) {
        Hir h;
        h.kind = Kind::Assert;
        h.look = l;
        return h;
    }
    static Hir repeat(Hir sub, std::uint32_t min, std::uint32_t max) {
        Hir h;
        h.kind = Kind::Repeat;
        h.min = min;
        h.max = max;
        h.subs.push_back(std::move(sub));
        return h;
    }
    static Hir concat(std::vector<Hir> subs) {
        if (subs.empty()) return empty();
        if (subs.size() == 1) return std::move(subs[0]);
        Hir h;
        h.kind = Kind::Concat;
        h.subs = std::move(subs);
        return h;
    }
    static Hir alternate(std::vector<Hir> subs) {
        if (subs.size() == 1) return std::move(subs[0]);
        Hir h;
        h.kind = Kind::Alternate;
        h.subs = std::move(subs);
        return h;
    }
};

}  // namespace tessaron::pattern
