// Sequence automata: the atoms of the list and tuple slots.
//
// A SequenceAutomaton reads a list or tuple element by element.  Each
// state has a list of transitions; a transition's label is the descriptor
// of the elements it admits, and an absent label stands for every element
// that no present label of the same state admits (the state's remainder),
// so every state has a way out for every element.  A sequence belongs when
// a path from state 0 reads its elements in order and ends in an accepting
// state.
//
// Because every state is complete, flipping the accepting flags is the
// complement.  The universe is one accepting state looping to itself on an
// absent label: every sequence.
#pragma once

#include <compare>
#include <cstdint>
#include <vector>

#include "core/descr/descr_fwd.h"

namespace tessaron::descr {

struct Transition {
    SharedDescr label;  // absent (`remainder_label()`): the state's remainder
    std::uint32_t target = 0;
};

// The absent label: what no present label of the same state admits.
inline SharedDescr remainder_label() { return SharedDescr(); }

struct SequenceAutomaton {
    std::vector<std::vector<Transition>> states;  // state 0 starts
    std::vector<std::uint8_t> accepting;          // per state, 1 or 0
};

// The structure of the normal form (sequence_normalize.h), which every
// automaton in a descriptor keeps: at least one state; one accepting flag,
// 0 or 1, per state; every target a state of the automaton; in each state
// at least one transition, the present labels first, in the descriptor
// order, then at most one absent label (the builders and products always
// write one; a state written with present labels that cover every element
// keeps none); states numbered breadth first from state 0, reading each
// state's transitions in order, every state reached.  What needs deciding
// (labels proved empty dropped, equivalent states merged) is not checked.
// Builders assert it.
bool sequence_automaton_is_normal(const SequenceAutomaton& a);

// Every sequence of the kind.
SequenceAutomaton sequence_universe();
bool sequence_is_universe(const SequenceAutomaton& a);
// No state accepts: no sequence at all (the complement of the universe).
bool sequence_is_trivially_empty(const SequenceAutomaton& a);

// The same states and transitions (labels shared), every accepting flag
// flipped.
SequenceAutomaton sequence_complement(const SequenceAutomaton& a);

// Equal state counts, per state equal transitions (targets, labels both
// absent, the same or equal descriptors), equal accepting flags.
bool sequence_automaton_equal(const SequenceAutomaton& a, const SequenceAutomaton& b);
// The states as lists of transitions (label, absent first, then target),
// then the accepting flags.
std::strong_ordering cmp_sequence_automaton(const SequenceAutomaton& a, const SequenceAutomaton& b);

}  // namespace tessaron::descr
