// Sequence automata of list and tuple shapes (see sequence_build.h).
//
// What it computes: the automaton of the sequences whose i-th element lies
// in the i-th item and whose elements past the prefix lie in the tail
// (there are none without a tail), normalised, as a descriptor.
//
// Invariants: every state built here is complete and deterministic: a
// label and the absent label (its complement) to the sink, or the absent
// label alone.  Item descriptors are read, never consumed.
//
// Budget: one saturating unit per state reading an item, plus the
// complement and emptiness test that decide whether the item admits every
// element (asked once per item object), and what normalisation takes.
// Count bounds are written in normal form directly and take nothing.
#include "core/descr/sequences/sequence_build.h"

#include "core/descr/budget.h"
#include "core/descr/nested.h"
#include "core/descr/sequences/sequence_normalize.h"

namespace tessaron::descr {

namespace {

// Whether the label admits every element: its complement proved empty.
bool admits_everything(const SharedDescr& label) {
    return descr_verdict(descr_complement(*label)) == ir::Emptiness::Empty;
}

std::vector<Transition> transitions_of(const SharedDescr& label, bool everything, std::uint32_t next,
                                       std::uint32_t dead) {
    if (everything) return {Transition{remainder_label(), next}};
    return {Transition{label, next}, Transition{remainder_label(), dead}};
}

// Reads items of one object once.
class ItemStates {
public:
    std::vector<Transition> of(const SharedDescr& label, std::uint32_t next, std::uint32_t dead) {
        take_saturating_unit();
        if (!last_.same(label)) {
            last_ = label;
            everything_ = admits_everything(label);
        }
        return transitions_of(label, everything_, next, dead);
    }

private:
    SharedDescr last_;
    bool everything_ = false;
};

}  // namespace

std::vector<Transition> state_transitions(const SharedDescr& label, std::uint32_t next, std::uint32_t dead) {
    take_saturating_unit();
    return transitions_of(label, admits_everything(label), next, dead);
}

OptDescr build_sequence_automaton(std::span<const SharedDescr> items, const SharedDescr* tail, Kind kind) {
    if (kind != Kind::List && kind != Kind::Tuple) return std::nullopt;
    const auto n = static_cast<std::uint32_t>(items.size());
    const std::uint32_t dead = n + 1;
    SequenceAutomaton a;
    a.states.resize(n + 2);
    a.accepting.assign(n + 2, 0);
    ItemStates states;
    for (std::uint32_t i = 0; i < n; ++i) a.states[i] = states.of(items[i], i + 1, dead);
    if (tail)
        a.states[n] = states.of(*tail, n, dead);
    else
        a.states[n] = {Transition{remainder_label(), dead}};
    a.states[dead] = {Transition{remainder_label(), dead}};
    a.accepting[n] = 1;
    Descr d;
    descr_of_atom(d, kind, normalize_sequence_automaton(std::move(a)));
    return d;
}

// Counting automata are written in normal form: a chain whose states all
// differ (by accepting, and by the distance to the first accepting state
// or to the dead one), every transition an absent label, numbered breadth
// first.
OptDescr count_range_descr(std::uint64_t least, std::optional<std::uint64_t> most, Kind kind) {
    if (kind != Kind::List && kind != Kind::Tuple) return std::nullopt;
    if (most ? *most >= kMaxCountItems : least > kMaxCountItems) return std::nullopt;
    SequenceAutomaton a;
    if (most && *most < least) {
        a = sequence_complement(sequence_universe());  // no sequence at all
    } else {
        // States 0..top count the items; without a greatest count the last
        // loops, with one it leads to the dead state.
        const auto top = static_cast<std::uint32_t>(most ? *most : least);
        const std::uint32_t size = most ? top + 2 : top + 1;
        a.states.resize(size);
        a.accepting.assign(size, 0);
        for (std::uint32_t i = 0; i < top; ++i) a.states[i] = {Transition{remainder_label(), i + 1}};
        for (std::uint32_t i = static_cast<std::uint32_t>(least); i <= top; ++i) a.accepting[i] = 1;
        if (most) {
            a.states[top] = {Transition{remainder_label(), top + 1}};
            a.states[top + 1] = {Transition{remainder_label(), top + 1}};
        } else {
            a.states[top] = {Transition{remainder_label(), top}};
        }
    }
    Descr d;
    descr_of_atom(d, kind, std::move(a));
    return d;
}

OptDescr min_count_descr(std::uint64_t n, Kind kind) { return count_range_descr(n, std::nullopt, kind); }

OptDescr max_count_descr(std::uint64_t n, Kind kind) { return count_range_descr(0, n, kind); }

}  // namespace tessaron::descr
