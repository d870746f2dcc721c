// A Thompson NFA over bytes, compiled from a Hir.  Every consuming state
// reads one byte; classes of code points are compiled to the UTF-8 byte
// sequences that encode them, so the same automaton serves str texts (as
// UTF-8) and bytes texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <variant>
#include <vector>

#include "core/pattern/error.h"
#include "core/pattern/hir.h"
#include "core/util/poll.h"

namespace tessaron::pattern {

struct NfaTransition {
    std::uint8_t lo, hi;  // inclusive byte range
    std::uint32_t next;
};

struct NfaState {
    enum class Kind : std::uint8_t {
        Empty,   // epsilon to next
        Range,   // byte in [lo, hi] -> next
        Sparse,  // transitions[begin, end): sorted, disjoint byte ranges
        Union,   // epsilon to each of alternatives[begin, end)
        Assert,  // epsilon to next when `look` holds here
        Match,
        Fail,
    };
    Kind kind = Kind::Empty;
    Look look = Look::Start;
    std::uint8_t lo = 0, hi = 0;
    std::uint32_t next = 0;
    std::uint32_t begin = 0, end = 0;
};

struct Nfa {
    std::vector<NfaState> states;
    std::vector<NfaTransition> transitions;
    std::vector<std::uint32_t> alternatives;
    std::uint32_t start = 0;
    std::uint32_t looks_used = 0;  // bit look_bit(l) for each assertion present

    // A state that reads a byte, accepts, or waits on an assertion: the
    // states a subset construction keeps.
    bool is_kept(std::uint32_t s) const {
        NfaState::Kind k = states[s].kind;
        return k == NfaState::Kind::Range || k == NfaState::Kind::Sparse || k == NfaState::Kind::Assert ||
               k == NfaState::Kind::Match;
    }
    std::size_t memory_units() const { return states.size() + transitions.size() + alternatives.size(); }
};

struct NfaLimits {
    // States plus transitions plus alternatives (16, 8 and 4 bytes each,
    // and a matcher's working set adds 8 per state, so at most 48 MiB and
    // typically 20 to 30 MiB).  This is the static bound on the work of
    // one byte of text: a step of the simulation, or one new lazy DFA
    // state, visits each NFA state at most twice, and twice more where
    // assertions wait (subset.h).  \w{0,1000}, the
    // largest repetition of a Unicode class that patterns are expected to
    // write, takes 1.51 million units; (?:a{0,1000}){0,1000} takes 4 million
    // and is refused.
    std::size_t max_units = std::size_t{1} << 21;
};

inline constexpr const char* kNfaTooBig = "compiled pattern exceeds the size limit";
// The error of a compilation that a caller's poll stopped: it says nothing
// about the pattern.
inline constexpr const char* kCompileStopped = "pattern compilation stopped";

// Poll units per NFA unit compiled.  A unit costs 10 to 40 ns to build
// (a state, a byte range or a branch, and its layout), so a compilation
// asks its poll about every millisecond or sooner (util/poll.h): a pattern
// near the limit, 2 million units, asks it about 40 to 50 times.
inline constexpr std::uint64_t kCompilePollWeight = 32;

// Fails when the automaton would exceed the limits, or when `poll` stops
// the work (ticked kCompilePollWeight units per NFA unit; kCompileStopped).
std::variant<Nfa, Error> compile_nfa(const Hir& hir, const NfaLimits& limits, util::Poll* poll = nullptr);

}  // namespace tessaron::pattern
