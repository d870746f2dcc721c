// Whether a sequence automaton accepts some sequence.
//
// A breadth-first search from the start state, each state visited once,
// that stops at the first accepting state.  A transition is followed by
// the strict search when its label is proved inhabited, by the lenient
// search when it is not proved empty; an absent label is read as the
// state's remainder, formed once per visited state (undecided when it
// cannot be formed).  Strict success proves a sequence exists; lenient
// failure proves none does.
#pragma once

#include "core/descr/sequences/sequence_automaton.h"
#include "core/ir/answers.h"

namespace tessaron::descr {

enum class AcceptMode : std::uint8_t { Lenient = 0, Strict = 1 };

bool sequence_automaton_accepts(const SequenceAutomaton& a, AcceptMode mode);

// Inhabited when the strict search succeeds, undecided when only the
// lenient one does, empty otherwise.
ir::Emptiness sequence_verdict(const SequenceAutomaton& a);

}  // namespace tessaron::descr
