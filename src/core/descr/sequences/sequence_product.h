// Union and intersection of sequence automata: the product automaton.
//
// A product state is a pair of states, one of each automaton, numbered
// breadth first from (0, 0) in the order pairs are met.  It accepts when
// either state accepts (union) or both do (intersection).  For each pair
// of transitions it has one transition on the meet of their labels to the
// pair of their targets; an absent label is read as its state's
// remainder (what no present label of that state admits).  Labels proved
// empty give no transition.  Pairs that can accept nothing (a side with no
// path to an accepting state, in a meet; both, in a union) are one sink
// state.
//
// The empty-remainder rule: when one of the two remainders is proved empty, the pair of
// absent labels would admit nothing and gives no transition; the state's
// transitions are sorted and the last one's label made absent, so every
// product state still has exactly one way out for each element.
//
// Caps: `kMaxProductStates` product states, `kMaxStateTransitions`
// transitions in one state, `kMaxProductTransitions` in all;
// one failing work unit per new state.  Crossing a cap, a refused unit, a
// remainder or label meet that cannot be formed fail the product (none).
// The result is in normal form (sequence_normalize.h).
#pragma once

#include <cstddef>
#include <optional>

#include "core/descr/sequences/sequence_automaton.h"
#include "core/descr/set_op.h"

namespace tessaron::descr {

inline constexpr std::size_t kMaxProductStates = 4096;
inline constexpr std::size_t kMaxStateTransitions = 4096;
inline constexpr std::size_t kMaxProductTransitions = 65536;

std::optional<SequenceAutomaton> sequence_product(const SequenceAutomaton& a, const SequenceAutomaton& b, SetOp op);

}  // namespace tessaron::descr
