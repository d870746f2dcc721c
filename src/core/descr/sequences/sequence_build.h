// Building sequence automata from the shape of a list or tuple schema.
//
// A sequence schema has n prefix items and, optionally, a tail item that
// repeats.  Its automaton reads the prefix in states 0 to n-1, accepts in
// state n (looping on the tail item when there is one) and sends every
// other element to a dead sink, state n+1.  An item that admits every
// element gets one transition with an absent label; any other item gets
// its label and an absent label to the dead sink.  The automaton is
// normalised before it is placed in the list (6) or tuple (7) slot.
//
// Length bounds of lists and tuples are the same automata with every item
// admitting every value (at least n: n prefix items and a tail; at most
// n: the kind's universe outside "at least n + 1"), written directly in
// normal form: a chain of n + 1 (at least) or n + 2 (at most) states.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/descr/descr.h"

namespace tessaron::descr {

// Longest prefix of a length bound: at least `kMaxCountItems`, at most one
// fewer items.
inline constexpr std::uint64_t kMaxCountItems = 4096;

// The transitions of a state reading `label` into `next`: an absent label
// when the label admits every element, else the label and an absent label
// to `dead`.  One saturating unit.
std::vector<Transition> state_transitions(const SharedDescr& label, std::uint32_t next, std::uint32_t dead);

// No descriptor for a kind other than List and Tuple.  `tail` null: no tail.
OptDescr build_sequence_automaton(std::span<const SharedDescr> items, const SharedDescr* tail, Kind kind);

// Lists or tuples of at least `least` and (when given) at most `most`
// items; none past the caps (at least `kMaxCountItems`, at most one fewer), nothing at all
// when `most` < `least`.
OptDescr count_range_descr(std::uint64_t least, std::optional<std::uint64_t> most, Kind kind);
// Lists or tuples of at least / at most n items; none past the caps.
OptDescr min_count_descr(std::uint64_t n, Kind kind);
OptDescr max_count_descr(std::uint64_t n, Kind kind);

}  // namespace tessaron::descr
