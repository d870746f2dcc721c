// Complete deterministic byte automata of patterns, for the text algebra.
//
// build_dfa accepts exactly the texts that compile_full_match's matcher
// matches (same parse, same NFA, same subset step), so the algebra's set
// decisions and the validation walk never disagree.  The automaton is
// anchored at the start of the text and accepting means "the text may end
// here", so acceptance is whole-text membership: every way of matching
// counts (a|ab accepts "ab", a+? accepts "aaa"), not only the preferred one.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "core/pattern/nfa.h"
#include "core/pattern/pattern.h"

namespace tessaron::pattern {

struct Dfa {
    std::array<std::uint16_t, 256> class_map{};  // byte -> class, every entry < class_count
    std::uint32_t class_count = 0;
    std::vector<std::uint32_t> transitions;      // state * class_count + class -> state
    std::vector<std::uint8_t> accepting;         // per state, 1 or 0

    // State 0 is the start.  Every state has a target on every class; a
    // text that cannot continue runs into a non-accepting state that loops
    // to itself.
    std::size_t state_count() const { return accepting.size(); }
    std::uint32_t next(std::uint32_t state, std::uint8_t byte) const {
        return transitions[std::size_t{state} * class_count + class_map[byte]];
    }
    bool accepts(std::string_view text) const;

    bool operator==(const Dfa&) const = default;
};

struct DfaLimits {
    // States of the automaton as determinised, before minimisation (length
    // automata are built minimal).
    std::size_t max_states = 4096;
    // NFA state ids held by all DFA states during determinisation (4 bytes
    // each), in place of a byte limit on the determinisation.
    std::size_t max_set_units = std::size_t{1} << 21;
    NfaLimits nfa;
};

// The work of one build, counted as it goes, and the most it may do.  A
// unit is about one cheap machine step: one per NFA unit compiled (states,
// transitions, alternatives), per NFA state the subset step visits, per
// NFA id hashed into a state's key, per class of each state's row, and per
// step of the minimisation (minimize.cc).  A build whose work would pass `max`
// stops where it is and answers none with `stopped` set (the work done so
// far stays counted): running out is an ordinary result, told apart from
// a pattern that fails or needs more states than the limits allow.
struct DfaWork {
    std::uint64_t max = UINT64_MAX;
    std::uint64_t done = 0;
    bool stopped = false;

    std::uint64_t left() const { return done < max ? max - done : 0; }
};

// The minimal automaton of the pattern's language, or none when the pattern
// does not compile, uses a Unicode word boundary (which a byte automaton
// cannot decide), or needs more than the limits allow.
std::optional<Dfa> build_dfa(std::string_view pattern, TextKind kind, const DfaLimits& limits = {});
// The same, counting its work in `work` and stopping once it would pass
// `work.max` (before minimising, when the table is too large to minimise
// within what is left).
std::optional<Dfa> build_dfa(std::string_view pattern, TextKind kind, const DfaLimits& limits, DfaWork& work);

// The texts of at least `min` and (when given) at most `max` units: bytes
// for Bytes, UTF-8 sequences (surrogate encodings included, as in the str
// universe) for Str.  Built minimal, so `max_states` bounds the minimal
// automaton: "at most n code points" and "at least n" (n >= 1) have
// 7n + 2 states, so str bounds up to 584 fit; bytes need n + 2 (at most)
// or n + 1 (at least).  None past the limits.
std::optional<Dfa> build_length_dfa(std::uint64_t min, std::optional<std::uint64_t> max, TextKind kind,
                                    const DfaLimits& limits = {});

// Determinises an NFA (the shared step of subset.h); none past the limits
// or when the NFA has Unicode word boundaries.  Not minimised.
std::optional<Dfa> determinize(const Nfa& nfa, const DfaLimits& limits);
std::optional<Dfa> determinize(const Nfa& nfa, const DfaLimits& limits, DfaWork& work);

// The minimal equivalent automaton in canonical form: only states reachable
// from 0, numbered breadth first from 0 with targets taken in ascending
// class order; no two states with the same language; no two classes with
// the same column, classes numbered by their smallest byte (byte 0 is in
// class 0).  Two automata whose states are all reachable accept the same
// texts exactly when their minimised forms are equal.
Dfa minimize(const Dfa& dfa);
// The same, counting its work in `work` (see minimize.cc) and stopping once
// it would pass `work.max`: none then, with `stopped` set.
std::optional<Dfa> minimize(const Dfa& dfa, DfaWork& work);

}  // namespace tessaron::pattern
