// The product of two sequence automata (see sequence_product.h).
//
// What it computes: the automaton of the sequences that either (union) or
// both (intersection) automata accept, over the reachable pairs only.
//
// Invariants: both inputs are complete and deterministic, so the labels of
// one product state are pairwise disjoint and together cover every
// element; the product is complete and deterministic as well.  Under the
// empty-remainder rule the pair of absent labels is left out because it
// admits nothing,
// and the last label made absent then stands for exactly what it held
// (the complement of the other labels), so no sequence is gained or lost.
// The inputs are only read.
//
// Pairs from which neither (union) or not both (intersection) sides can
// reach an accepting state along any transition accept nothing; they are
// all numbered as one sink, which accepts nothing and loops to itself.
//
// Budget: one failing unit per new product state; the remainders (formed
// once per list of present labels and reused by every state and pair that
// holds it) and the label meets and their emptiness tests (once per pair
// of label objects) take their own units.  A product of two chains of n
// states costs about n units, not n per state.  The caps bound the
// product's size whatever the budget.
#include "core/descr/sequences/sequence_product.h"

#include <algorithm>
#include <map>
#include <unordered_map>

#include "core/descr/budget.h"
#include "core/descr/nested.h"
#include "core/descr/descr_memo.h"
#include "core/descr/sequences/sequence_normalize.h"

namespace tessaron::descr {

namespace {

using State = std::vector<Transition>;

// The remainders of one automaton's states, formed on first use, once per
// list of present labels: the states of a long chain that read the same
// labels share one remainder object, so the label meets keyed by object
// are formed once for all of them.
class Remainders {
public:
    explicit Remainders(const SequenceAutomaton& a) : a_(a), cells_(a.states.size()) {}

    // None when the union of the state's labels cannot be formed.
    const std::optional<SharedDescr>& of(std::uint32_t s) {
        Cell& c = cells_[s];
        if (!c.formed) {
            std::vector<const Descr*> key;
            for (const Transition& t : a_.states[s])
                if (t.label) key.push_back(t.label.get());
            auto [it, fresh] = by_labels_.try_emplace(std::move(key));
            if (fresh) it->second = complement_of_union(a_.states[s]);
            c.remainder = it->second;
            c.formed = true;
        }
        return c.remainder;
    }

    bool proved_empty(std::uint32_t s) {
        Cell& c = cells_[s];
        if (!c.tested) {
            c.empty = of(s) && descr_verdict(**c.remainder) == ir::Emptiness::Empty;
            c.tested = true;
        }
        return c.empty;
    }

private:
    struct Cell {
        std::optional<SharedDescr> remainder;
        bool formed = false;
        bool tested = false;
        bool empty = false;
    };
    const SequenceAutomaton& a_;
    std::vector<Cell> cells_;
    // Keys point into the automaton's labels: alive while it is read.
    std::map<std::vector<const Descr*>, std::optional<SharedDescr>> by_labels_;
};

// The states from which no accepting state can be reached along any
// transition, whatever its label.
std::vector<std::uint8_t> hopeless_states(const SequenceAutomaton& a) {
    const std::size_t n = a.states.size();
    std::vector<std::vector<std::uint32_t>> preds(n);
    for (std::size_t s = 0; s < n; ++s)
        for (const Transition& t : a.states[s]) preds[t.target].push_back(static_cast<std::uint32_t>(s));
    std::vector<std::uint8_t> hopeless(n, 1);
    std::vector<std::uint32_t> queue;
    for (std::size_t s = 0; s < n; ++s)
        if (a.accepting[s]) {
            hopeless[s] = 0;
            queue.push_back(static_cast<std::uint32_t>(s));
        }
    for (std::size_t i = 0; i < queue.size(); ++i)
        for (std::uint32_t p : preds[queue[i]])
            if (hopeless[p]) {
                hopeless[p] = 0;
                queue.push_back(p);
            }
    return hopeless;
}

struct LabelMeet {
    std::optional<SharedDescr> label;  // none: the meet failed
    bool empty = false;                // proved empty
};

std::uint64_t pair_key(std::uint32_t i, std::uint32_t j) { return (std::uint64_t{i} << 32) | j; }

bool by_label_then_target(const Transition& x, const Transition& y) {
    if (auto c = cmp_optional_descr(x.label, y.label); c != 0) return c < 0;
    return x.target < y.target;
}

class Product {
public:
    Product(const SequenceAutomaton& a, const SequenceAutomaton& b, SetOp op)
        : a_(a), b_(b), op_(op), ra_(a), rb_(b), hopeless_a_(hopeless_states(a)), hopeless_b_(hopeless_states(b)) {}

    std::optional<SequenceAutomaton> run() {
        number(0, 0);  // the start pair takes no unit
        for (std::size_t next = 0; next < pairs_.size(); ++next) {
            const bool ok = pairs_[next].first == kSink ? expand_sink(static_cast<std::uint32_t>(next))
                                                        : expand(pairs_[next].first, pairs_[next].second);
            if (!ok) return std::nullopt;
        }
        return normalize_sequence_automaton(std::move(out_));
    }

private:
    // Pairs that accept nothing (one side hopeless in a meet, both in a
    // union) all stand for one sink state: a product of two long chains
    // would otherwise pair every state of one with the other's dead state.
    static constexpr std::uint32_t kSink = UINT32_MAX;

    std::uint32_t number(std::uint32_t i, std::uint32_t j) {
        const auto n = static_cast<std::uint32_t>(pairs_.size());
        index_.emplace(pair_key(i, j), n);
        pairs_.emplace_back(i, j);
        return n;
    }

    bool pair_is_hopeless(std::uint32_t i, std::uint32_t j) const {
        const bool x = hopeless_a_[i] != 0, y = hopeless_b_[j] != 0;
        return op_ == SetOp::Union ? x && y : x || y;
    }

    bool expand_sink(std::uint32_t self) {
        out_.states.push_back({Transition{remainder_label(), self}});
        out_.accepting.push_back(0);
        return true;
    }

    // The product state of a target pair; none past the cap or the budget.
    std::optional<std::uint32_t> target(std::uint32_t i, std::uint32_t j) {
        if (pair_is_hopeless(i, j)) i = j = kSink;
        if (auto it = index_.find(pair_key(i, j)); it != index_.end()) return it->second;
        if (pairs_.size() >= kMaxProductStates) return std::nullopt;
        if (!take_unit()) return std::nullopt;
        return number(i, j);
    }

    bool accepting(std::uint32_t i, std::uint32_t j) const {
        const bool x = a_.accepting[i] != 0, y = b_.accepting[j] != 0;
        return op_ == SetOp::Union ? x || y : x && y;
    }

    // The label of a pair of transitions: present labels met, an absent one
    // read as its state's remainder; null when the meet fails.  Each pair
    // of label objects is met and tested once: the pairs recur in every
    // product state that holds the same two input states' labels.
    const LabelMeet* pair_label(const SharedDescr& x, const SharedDescr& y) {
        const LabelMeet& m = meets_.get({x, y}, [&] {
            LabelMeet met;
            met.label = meet_shared_descrs(x, y);
            if (met.label) met.empty = descr_verdict(**met.label) == ir::Emptiness::Empty;
            return met;
        });
        return m.label ? &m : nullptr;
    }

    bool expand(std::uint32_t i, std::uint32_t j) {
        const std::optional<SharedDescr> ri = ra_.of(i);
        const std::optional<SharedDescr> rj = rb_.of(j);
        if (!ri || !rj) return false;
        const bool empty_remainder = ra_.proved_empty(i) || rb_.proved_empty(j);
        State transitions;
        for (const Transition& ta : a_.states[i])
            for (const Transition& tb : b_.states[j]) {
                SharedDescr label;
                if (!ta.label && !tb.label) {
                    if (empty_remainder) continue;
                } else {
                    const LabelMeet* m = pair_label(ta.label ? ta.label : *ri, tb.label ? tb.label : *rj);
                    if (!m) return false;
                    if (m->empty) continue;
                    label = *m->label;
                }
                const auto t = target(ta.target, tb.target);
                if (!t) return false;
                if (transitions.size() >= kMaxStateTransitions) return false;
                transitions.push_back(Transition{std::move(label), *t});
            }
        if (empty_remainder && !transitions.empty()) {
            std::stable_sort(transitions.begin(), transitions.end(), by_label_then_target);
            transitions.back().label = remainder_label();
        }
        total_ += transitions.size();
        if (total_ > kMaxProductTransitions) return false;
        out_.states.push_back(std::move(transitions));
        out_.accepting.push_back(accepting(i, j) ? 1 : 0);
        return true;
    }

    const SequenceAutomaton& a_;
    const SequenceAutomaton& b_;
    SetOp op_;
    Remainders ra_, rb_;
    std::vector<std::uint8_t> hopeless_a_, hopeless_b_;
    DescrMemo<LabelMeet, 2> meets_;
    std::unordered_map<std::uint64_t, std::uint32_t> index_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs_;
    SequenceAutomaton out_;
    std::size_t total_ = 0;
};

}  // namespace

std::optional<SequenceAutomaton> sequence_product(const SequenceAutomaton& a, const SequenceAutomaton& b, SetOp op) {
    if (a.states.empty() || b.states.empty()) return std::nullopt;
    return Product(a, b, op).run();
}

}  // namespace tessaron::descr
