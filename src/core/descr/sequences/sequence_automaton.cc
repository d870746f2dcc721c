// Sequence automata: universe, complement, equality and order.
#include "core/descr/sequences/sequence_automaton.h"

#include <algorithm>
#include <cassert>

#include "core/descr/nested.h"

namespace tessaron::descr {

SequenceAutomaton sequence_universe() {
    SequenceAutomaton a;
    a.states.push_back({Transition{remainder_label(), 0}});
    a.accepting.push_back(1);
    return a;
}

bool sequence_is_universe(const SequenceAutomaton& a) {
    return a.states.size() == 1 && a.accepting.size() == 1 && a.accepting[0] == 1 && a.states[0].size() == 1 &&
           !a.states[0][0].label && a.states[0][0].target == 0;
}

bool sequence_is_trivially_empty(const SequenceAutomaton& a) {
    return std::none_of(a.accepting.begin(), a.accepting.end(), [](std::uint8_t f) { return f != 0; });
}

SequenceAutomaton sequence_complement(const SequenceAutomaton& a) {
    assert(sequence_automaton_is_normal(a));
    SequenceAutomaton c = a;
    for (std::uint8_t& f : c.accepting) f = f ? 0 : 1;
    return c;
}

bool sequence_automaton_is_normal(const SequenceAutomaton& a) {
    const std::size_t n = a.states.size();
    if (n == 0 || a.accepting.size() != n) return false;
    if (std::any_of(a.accepting.begin(), a.accepting.end(), [](std::uint8_t f) { return f > 1; })) return false;
    // Breadth first from state 0 in transition order, the states come in
    // their own order: state s is taken from the queue s-th, and a target
    // not reached before is the next state, `reached`.
    std::size_t reached = 1;
    for (std::size_t s = 0; s < n; ++s) {
        if (s >= reached) return false;  // no path from state 0
        const std::vector<Transition>& state = a.states[s];
        if (state.empty()) return false;  // no way out: not complete
        for (std::size_t i = 0; i < state.size(); ++i) {
            const Transition& t = state[i];
            if (t.target >= n) return false;
            if (!t.label && i + 1 < state.size()) return false;  // an absent label not last
            if (t.label && i > 0 && cmp_optional_descr(state[i - 1].label, t.label) > 0) return false;
            if (t.target == reached)
                ++reached;
            else if (t.target > reached)
                return false;  // numbered out of breadth-first order
        }
    }
    return true;
}

namespace {

bool transition_equal(const Transition& a, const Transition& b) {
    return a.target == b.target && optional_descr_equal(a.label, b.label);
}

std::strong_ordering cmp_transition(const Transition& a, const Transition& b) {
    if (auto c = cmp_optional_descr(a.label, b.label); c != 0) return c;
    return a.target <=> b.target;
}

bool state_equal(const std::vector<Transition>& a, const std::vector<Transition>& b) {
    return lists_equal(a, b, transition_equal);
}

std::strong_ordering cmp_state(const std::vector<Transition>& a, const std::vector<Transition>& b) {
    return cmp_lists(a, b, cmp_transition);
}

}  // namespace

bool sequence_automaton_equal(const SequenceAutomaton& a, const SequenceAutomaton& b) {
    return a.accepting == b.accepting && lists_equal(a.states, b.states, state_equal);
}

std::strong_ordering cmp_sequence_automaton(const SequenceAutomaton& a, const SequenceAutomaton& b) {
    if (auto c = cmp_lists(a.states, b.states, cmp_state); c != 0) return c;
    return a.accepting <=> b.accepting;
}

}  // namespace tessaron::descr
