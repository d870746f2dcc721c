// Normal form of sequence automata (see sequence_normalize.h).
//
// What it computes: an automaton accepting the same sequences, with at most
// one transition per target in each state (unless a union failed), no
// label proved empty, sorted transitions, equivalent states merged where
// their signatures show it, and states numbered breadth first.
//
// Invariants: the input is complete and deterministic (each state's labels,
// the absent one standing for the rest, are disjoint and cover every
// element); so is the result, since merging joins labels of one state and
// dropping removes only labels that hold nothing.  Merged states have
// equal accepting flags and, per class of target, equal label unions
// under a partition that is a fixpoint: a bisimulation, so they accept
// the same sequences.  Without a fixpoint nothing is merged.
//
// Budget: unions of labels take their units, once per pair of label
// objects (a failing one keeps the transitions apart), emptiness tests theirs (an undecided one keeps the
// transition), and each refinement pass takes one failing unit per 64
// states: a chain of n states needs n passes, so an unbounded refinement
// of a long chain would cost n^2 signature steps.
#include "core/descr/sequence_normalize.h"

#include <algorithm>
#include <cassert>
#include <deque>
#include <map>
#include <unordered_map>

#include "core/descr/budget.h"
#include "core/descr/combine.h"
#include "core/descr/emptiness.h"
#include "core/descr/order.h"

namespace tessaron::descr {

namespace {

using State = std::vector<Transition>;

// Per pass of refinement: one unit per this many states.
constexpr std::size_t kStatesPerPassUnit = 64;

// Unions of labels, formed once per pair of label objects within one
// normalisation (refinement passes join the same pairs again and again).
// Entries hold their inputs, so no address is reused meanwhile; a failed
// union stays failed, as the budget never rises.
class Joins {
public:
    SharedDescr join(const SharedDescr& a, const SharedDescr& b) {
        auto [it, fresh] = memo_.try_emplace(std::make_pair(a.get(), b.get()));
        if (fresh) it->second = Entry{a, b, join_shared_descrs(a, b)};
        return it->second.result;
    }

private:
    struct Entry {
        SharedDescr a, b, result;
    };
    std::map<std::pair<const Descr*, const Descr*>, Entry> memo_;
};

// `t` merged into the first entry of `out` with the same key (target or
// class), or appended.  `first` maps keys to that first entry.
void merge_entry(State& out, std::unordered_map<std::uint32_t, std::size_t>& first, const Transition& t,
                 Joins& joins) {
    const auto it = first.find(t.target);
    if (it == first.end()) {
        first.emplace(t.target, out.size());
        out.push_back(t);
        return;
    }
    Transition& entry = out[it->second];
    if (!entry.label || !t.label) {
        entry.label = SharedDescr();
        return;
    }
    if (SharedDescr joined = joins.join(entry.label, t.label)) {
        entry.label = std::move(joined);
        return;
    }
    out.push_back(t);
}

State merge_state(const State& s, Joins& joins) {
    State out;
    std::unordered_map<std::uint32_t, std::size_t> first;
    for (const Transition& t : s) merge_entry(out, first, t, joins);
    return out;
}

// Present labels first, by the descriptor order and then target; absent
// labels last, by target.
bool transition_before(const Transition& a, const Transition& b) {
    if (bool(a.label) != bool(b.label)) return bool(a.label);
    if (a.label) {
        if (auto c = cmp_optional_descr(a.label, b.label); c != 0) return c < 0;
    }
    return a.target < b.target;
}

// Emptiness of labels, asked once per label object within one call.  The
// memo holds a handle to each label, so no address is reused meanwhile.
class LabelEmptiness {
public:
    bool proved_empty(const SharedDescr& label) {
        auto [it, fresh] = memo_.try_emplace(label.get(), label, ir::Emptiness::Undecided);
        if (fresh) it->second.second = descr_is_empty(*label);
        return it->second.second == ir::Emptiness::Empty;
    }

private:
    std::unordered_map<const Descr*, std::pair<SharedDescr, ir::Emptiness>> memo_;
};

// Merge parallel transitions, drop labels proved empty, sort.
void tidy_states(SequenceAutomaton& a, LabelEmptiness& empty, Joins& joins) {
    for (State& s : a.states) {
        State merged = merge_state(s, joins);
        std::erase_if(merged, [&](const Transition& t) { return t.label && empty.proved_empty(t.label); });
        std::stable_sort(merged.begin(), merged.end(), transition_before);
        s = std::move(merged);
    }
}

// What identifies a class in one pass: accepting flag, previous class and
// the signature (class of target, merged label), sorted.
struct ClassKey {
    std::uint8_t accepting = 0;
    std::uint32_t previous = 0;
    State signature;  // `target` holds the class
};

// Entries of one class: the absent label first, then present labels by
// the descriptor order (equal classes arise only where a union failed).
bool signature_entry_before(const Transition& a, const Transition& b) {
    if (a.target != b.target) return a.target < b.target;
    if (bool(a.label) != bool(b.label)) return !a.label;
    return cmp_optional_descr(a.label, b.label) < 0;
}

struct ClassKeyLess {
    bool operator()(const ClassKey& a, const ClassKey& b) const {
        if (a.accepting != b.accepting) return a.accepting < b.accepting;
        if (a.previous != b.previous) return a.previous < b.previous;
        if (a.signature.size() != b.signature.size()) return a.signature.size() < b.signature.size();
        for (std::size_t i = 0; i < a.signature.size(); ++i) {
            const Transition& x = a.signature[i];
            const Transition& y = b.signature[i];
            if (x.target != y.target) return x.target < y.target;
            if (auto c = cmp_optional_descr(x.label, y.label); c != 0) return c < 0;
        }
        return false;
    }
};

ClassKey class_key(const SequenceAutomaton& a, std::size_t s, const std::vector<std::uint32_t>& classes,
                   Joins& joins) {
    ClassKey key{a.accepting[s], classes[s], {}};
    std::unordered_map<std::uint32_t, std::size_t> first;
    for (const Transition& t : a.states[s])
        merge_entry(key.signature, first, Transition{t.label, classes[t.target]}, joins);
    std::stable_sort(key.signature.begin(), key.signature.end(), signature_entry_before);
    return key;
}

SequenceAutomaton quotient(const SequenceAutomaton& a, const std::vector<std::uint32_t>& classes) {
    const std::uint32_t count = classes.empty() ? 1 : *std::max_element(classes.begin(), classes.end()) + 1;
    SequenceAutomaton q;
    q.states.resize(count);
    q.accepting.assign(count, 0);
    for (std::size_t s = 0; s < a.states.size(); ++s) {
        const std::uint32_t k = classes[s];
        q.accepting[k] = a.accepting[s];
        State mapped;
        mapped.reserve(a.states[s].size());
        for (const Transition& t : a.states[s]) mapped.push_back(Transition{t.label, classes[t.target]});
        q.states[k] = std::move(mapped);
    }
    return q;
}

SequenceAutomaton renumber_breadth_first(const SequenceAutomaton& a) {
    constexpr std::uint32_t kUnnumbered = UINT32_MAX;
    std::vector<std::uint32_t> number(a.states.size(), kUnnumbered);
    std::vector<std::uint32_t> order;
    number[0] = 0;
    order.push_back(0);
    for (std::size_t next = 0; next < order.size(); ++next)
        for (const Transition& t : a.states[order[next]])
            if (number[t.target] == kUnnumbered) {
                number[t.target] = static_cast<std::uint32_t>(order.size());
                order.push_back(t.target);
            }
    SequenceAutomaton out;
    out.states.reserve(order.size());
    out.accepting.reserve(order.size());
    for (std::uint32_t s : order) {
        State renumbered = a.states[s];
        for (Transition& t : renumbered) t.target = number[t.target];
        out.states.push_back(std::move(renumbered));
        out.accepting.push_back(a.accepting[s]);
    }
    return out;
}

}  // namespace

SequenceAutomaton merge_parallel_transitions(SequenceAutomaton a) {
    Joins joins;
    for (State& s : a.states) s = merge_state(s, joins);
    return a;
}

namespace {

std::optional<std::vector<std::uint32_t>> state_classes(const SequenceAutomaton& a, Joins& joins) {
    const std::size_t m = a.states.size();
    const std::uint64_t units_per_pass = std::max<std::uint64_t>(1, (m + kStatesPerPassUnit - 1) / kStatesPerPassUnit);
    std::vector<std::uint32_t> classes(m, 0);
    for (std::size_t pass = 0; pass <= m; ++pass) {
        if (!take_units(units_per_pass)) return std::nullopt;
        std::map<ClassKey, std::uint32_t, ClassKeyLess> index;
        std::vector<std::uint32_t> next(m, 0);
        for (std::size_t s = 0; s < m; ++s) {
            auto [it, fresh] =
                index.try_emplace(class_key(a, s, classes, joins), static_cast<std::uint32_t>(index.size()));
            next[s] = it->second;
        }
        if (next == classes) return classes;
        classes = std::move(next);
    }
    // Each pass refines the last, so a fixpoint comes within m + 1 passes;
    // should it not, merging by unstable classes could join states that
    // differ, so nothing is merged.
    return std::nullopt;
}

}  // namespace

std::optional<std::vector<std::uint32_t>> sequence_state_classes(const SequenceAutomaton& a) {
    Joins joins;
    return state_classes(a, joins);
}

SequenceAutomaton normalize_sequence_automaton(SequenceAutomaton a) {
    assert(a.states.size() == a.accepting.size());
    if (a.states.empty()) return a;
    LabelEmptiness empty;
    Joins joins;
    tidy_states(a, empty, joins);
    if (auto classes = state_classes(a, joins)) {
        a = quotient(a, *classes);
        tidy_states(a, empty, joins);
    }
    return renumber_breadth_first(a);
}

}  // namespace tessaron::descr
