// Exact sets of str and bytes values: complete byte automata.
//
// A TextAutomaton is the pattern engine's Dfa: a 256-entry byte-class map,
// a class count, a state-major transition table and one accepting flag per
// state; state 0 is the start and every state has a target on every class
// (a text that cannot continue runs into a dead state that loops to
// itself).  A bytes value belongs when the automaton accepts its bytes, a
// str value when it accepts its UTF-8 form.
//
// Every automaton handed out here is shared (immutable, atomically counted),
// has at most `kMaxTextStates` states, and is minimal in canonical form (pattern::
// minimize): only reachable states, numbered breadth first, classes with
// equal columns merged and numbered by their smallest byte.  Equal languages
// therefore give equal automata, entry for entry.  A builder that would need
// more than `kMaxTextStates` states answers an empty handle: the set cannot be
// represented, an ordinary result.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/descr/shared.h"
#include "core/pattern/dfa.h"
#include "core/pattern/pattern.h"

namespace tessaron::descr {

using TextAutomaton = pattern::Dfa;
using SharedTextAutomaton = Shared<TextAutomaton>;
using pattern::TextKind;

inline constexpr std::size_t kMaxTextStates = 4096;

// Shares a minimal automaton (the caller has minimised it); empty past the
// state cap.
SharedTextAutomaton share_text_automaton(TextAutomaton&& automaton);

// The texts the pattern matches as a whole (the validation walk's matcher
// and this automaton share the parse, so they agree); empty when the
// pattern does not compile, uses a Unicode word boundary or needs more
// than `kMaxTextStates` states.  The build is granted what the thread's work budget
// (and an open text memo's pattern work, text_memo.h) allows, stops when
// that is spent (empty), and is charged what it did (budget.h).  With a
// memo open each pattern is built at most once: a later call returns the
// remembered automaton, or, for a build that was stopped, empty unless it
// may now be granted more.
SharedTextAutomaton pattern_automaton(std::string_view pattern, TextKind kind);

// Pattern automata builds started on the calling thread so far, and the
// work they did (pattern::DfaWork units): work counters for tests.
struct PatternBuildCounts {
    std::uint64_t builds = 0;
    std::uint64_t work = 0;
};
PatternBuildCounts pattern_build_counts();
// Texts of at least / at most n units: code points (as UTF-8 sequences,
// surrogate encodings included) for str, bytes for bytes.  Empty when the
// automaton would need more than `kMaxTextStates` states.
SharedTextAutomaton min_length_automaton(std::uint64_t n, TextKind kind);
SharedTextAutomaton max_length_automaton(std::uint64_t n, TextKind kind);
// Texts of at least `least` and (when given) at most `most` units, built
// minimal (7 * most + 2 states for str): one automaton where a meet of the
// two bounds would pair the states of both.
SharedTextAutomaton length_range_automaton(std::uint64_t least, std::optional<std::uint64_t> most, TextKind kind);
// Exactly one byte string; empty above `kMaxTextStates` - 2 bytes (n + 2
// states).
SharedTextAutomaton literal_text_automaton(std::string_view bytes);

// Every byte string outside the automaton's language.
SharedTextAutomaton text_automaton_complement(const SharedTextAutomaton& a);

// Every byte string (one class, one accepting state).
const SharedTextAutomaton& bytes_universe();
// Every byte string made of one-to-four-byte UTF-8 sequences, surrogate
// encodings included: the str kind's universe.
const SharedTextAutomaton& str_universe();

// True when no accepting state is reachable from the start.
bool text_automaton_is_empty(const TextAutomaton& a);

// Identity, or equal maps, class counts, tables and flags.
bool text_automaton_equal(const SharedTextAutomaton& a, const SharedTextAutomaton& b);
// Total order: class map, class count, transitions, accepting flags, each
// lexicographically.
std::strong_ordering cmp_text_automaton(const TextAutomaton& a, const TextAutomaton& b);

// Structure: at least one state, at most `kMaxTextStates`, complete, every class and
// target in range.  (Minimality is minimize(a) == a.)
bool text_automaton_is_well_formed(const TextAutomaton& a);

}  // namespace tessaron::descr
