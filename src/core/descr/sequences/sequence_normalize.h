// The normal form of sequence automata.
//
// Every operation that builds a sequence automaton ends here: parallel
// transitions (one state, one target) are merged by the union of their
// labels, transitions whose label is proved empty are dropped, each
// state's transitions are sorted (present labels by the descriptor order,
// then by target; absent labels last, by target), states that cannot be
// told apart are merged, and the states are numbered breadth first from
// the start, unreachable ones dropped.
//
// Two states are merged when partition refinement puts them in one class:
// starting from the accepting flags, a class is split by the states'
// signatures (per class of target, the union of the labels leading
// there) until every class's states have equal signatures.  Only states
// whose targets changed class are looked at again, and a class that
// splits keeps its largest part, so the work is O(t log n) signatures for
// t transitions and n states.  Labels are compared structurally, so
// equivalent states with differently written labels may stay apart;
// states merged are always equivalent.
//
// Nothing here fails.  A label union that cannot be formed keeps the
// transitions apart; an undecided emptiness keeps the transition; a
// refinement that runs out of budget before its fixpoint merges nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/descr/sequences/sequence_automaton.h"

namespace tessaron::descr {

// Transitions of one state with the same target merged into the first of
// them: an absent label absorbs the other, two present ones are joined
// (kept apart when the union fails).  Accepting flags unchanged.
SequenceAutomaton merge_parallel_transitions(SequenceAutomaton a);

SequenceAutomaton normalize_sequence_automaton(SequenceAutomaton a);

// The classes of equivalent states found by partition refinement, one per
// state, numbered in order of first occurrence from state 0; none when the
// budget ran out before the fixpoint.  One failing unit to begin and one
// per 64 signatures computed.
std::optional<std::vector<std::uint32_t>> sequence_state_classes(const SequenceAutomaton& a);

}  // namespace tessaron::descr
