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
// objects (a failing one keeps the transitions apart), emptiness tests
// theirs (an undecided one keeps the transition), and the refinement one
// failing unit to begin and one per `kSignaturesPerUnit` signatures it
// computes.  It computes signatures only for states whose targets changed
// block, and a state changes block only into one at most half as large, so
// a chain of n states (n rounds to tell apart) costs O(n) signatures, not
// n^2.
#include "core/descr/sequences/sequence_normalize.h"

#include <algorithm>
#include <cassert>
#include <deque>
#include <map>
#include <unordered_map>

#include "core/descr/budget.h"
#include "core/descr/nested.h"
#include "core/descr/descr_memo.h"

namespace tessaron::descr {

namespace {

using State = std::vector<Transition>;

// Unions of labels, formed once per pair of label objects within one
// normalisation (refinement passes join the same pairs again and again);
// none: the union failed.
using Joins = DescrMemo<std::optional<SharedDescr>, 2>;

std::optional<SharedDescr> join_labels(Joins& joins, const SharedDescr& a, const SharedDescr& b) {
    return joins.get({a, b}, [&] { return join_shared_descrs(a, b); });
}

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
        entry.label = remainder_label();
        return;
    }
    if (auto joined = join_labels(joins, entry.label, t.label)) {
        entry.label = std::move(*joined);
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

// Emptiness of labels, asked once per label object within one call.
using LabelEmptiness = DescrMemo<ir::Emptiness>;

bool proved_empty(LabelEmptiness& empty, const SharedDescr& label) {
    return empty.get({label}, [&] { return descr_verdict(*label); }) == ir::Emptiness::Empty;
}

// Merge parallel transitions, drop labels proved empty, sort.
void tidy_states(SequenceAutomaton& a, LabelEmptiness& empty, Joins& joins) {
    for (State& s : a.states) {
        State merged = merge_state(s, joins);
        std::erase_if(merged, [&](const Transition& t) { return t.label && proved_empty(empty, t.label); });
        std::stable_sort(merged.begin(), merged.end(), transition_before);
        s = std::move(merged);
    }
}

// A state's signature: per block of target, the union of the labels
// leading there (`target` holds the block), sorted.
using Signature = State;

// Entries of one block: the absent label first, then present labels by
// the descriptor order (equal blocks arise only where a union failed).
bool signature_entry_before(const Transition& a, const Transition& b) {
    if (a.target != b.target) return a.target < b.target;
    if (bool(a.label) != bool(b.label)) return !a.label;
    return cmp_optional_descr(a.label, b.label) < 0;
}

struct SignatureLess {
    bool operator()(const Signature& a, const Signature& b) const {
        if (a.size() != b.size()) return a.size() < b.size();
        for (std::size_t i = 0; i < a.size(); ++i) {
            const Transition& x = a[i];
            const Transition& y = b[i];
            if (x.target != y.target) return x.target < y.target;
            if (auto c = cmp_optional_descr(x.label, y.label); c != 0) return c < 0;
        }
        return false;
    }
};

Signature signature(const SequenceAutomaton& a, std::size_t s, const std::vector<std::uint32_t>& block,
                    Joins& joins) {
    Signature sig;
    std::unordered_map<std::uint32_t, std::size_t> first;
    for (const Transition& t : a.states[s]) merge_entry(sig, first, Transition{t.label, block[t.target]}, joins);
    std::stable_sort(sig.begin(), sig.end(), signature_entry_before);
    return sig;
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

// Partition refinement by signatures, splitting only where something
// changed.  Blocks are contiguous runs of `elems`.  A round keys the
// states marked dirty (those with a target that changed block in the last
// round) under the partition as the round found it; in a block, the states
// not marked keep equal signatures (their targets' blocks are unchanged),
// so one of them stands for all.  A block whose states fall into several
// signatures keeps its number for the largest group and gives the others
// new blocks, whose predecessors are dirty in the next round.  With the
// largest group staying, a state changes block only into one at most half
// the size of the last, so the signatures computed number O(t log n) for
// t transitions and n states, where a pass over every state per round
// would cost n per round and n rounds for a chain.
//
// The fixpoint is the coarsest partition that refines the accepting flags
// and in which every block's states have equal signatures: the one the
// pass-by-pass refinement reaches, found with less work.
class Refinement {
public:
    Refinement(const SequenceAutomaton& a, Joins& joins)
        : a_(a), joins_(joins), m_(a.states.size()), block_(m_), elems_(m_), loc_(m_), preds_(m_),
          stamp_(m_, 0) {
        for (std::size_t s = 0; s < m_; ++s)
            for (const Transition& t : a.states[s])
                if (preds_[t.target].empty() || preds_[t.target].back() != s)
                    preds_[t.target].push_back(static_cast<std::uint32_t>(s));
        // Two blocks by the accepting flag (one may stay empty).
        std::size_t pos = 0;
        for (const std::uint8_t flag : {std::uint8_t{0}, std::uint8_t{1}}) {
            first_.push_back(static_cast<std::uint32_t>(pos));
            for (std::size_t s = 0; s < m_; ++s)
                if ((a.accepting[s] != 0) == (flag != 0)) {
                    block_[s] = flag;
                    loc_[s] = static_cast<std::uint32_t>(pos);
                    elems_[pos++] = static_cast<std::uint32_t>(s);
                }
            end_.push_back(static_cast<std::uint32_t>(pos));
        }
    }

    // The block of each state; none when a unit was refused first.
    std::optional<std::vector<std::uint32_t>> run() {
        if (!take_unit()) return std::nullopt;
        std::vector<std::uint32_t> dirty(m_);
        for (std::size_t s = 0; s < m_; ++s) dirty[s] = static_cast<std::uint32_t>(s);
        while (!dirty.empty()) {
            if (!round(dirty)) return std::nullopt;
        }
        return block_;
    }

private:
    struct Group {
        std::vector<std::uint32_t> states;  // the dirty ones
        bool clean = false;                 // also every state not dirty
    };
    struct Split {
        std::uint32_t block;
        std::vector<std::vector<std::uint32_t>> moved;  // one list per new block
    };

    // One unit per kSignaturesPerUnit signatures computed.
    bool count_signature() {
        if (++signatures_ % kSignaturesPerUnit == 0) return take_unit();
        return true;
    }

    bool round(std::vector<std::uint32_t>& dirty) {
        ++epoch_;
        for (std::uint32_t s : dirty) stamp_[s] = epoch_;
        // Dirty states by block, blocks in order of first appearance.
        std::vector<std::uint32_t> blocks;
        std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> by_block;
        for (std::uint32_t s : dirty) {
            auto [it, fresh] = by_block.try_emplace(block_[s]);
            if (fresh) blocks.push_back(block_[s]);
            it->second.push_back(s);
        }
        std::vector<Split> splits;
        for (std::uint32_t b : blocks) {
            const std::vector<std::uint32_t>& marked = by_block[b];
            std::map<Signature, std::size_t, SignatureLess> index;
            std::vector<Group> groups;
            auto group_of = [&](Signature sig) -> Group& {
                auto [it, fresh] = index.try_emplace(std::move(sig), groups.size());
                if (fresh) groups.push_back(Group{});
                return groups[it->second];
            };
            const std::size_t size = end_[b] - first_[b];
            const std::size_t clean_count = size - marked.size();
            if (clean_count > 0) {
                std::uint32_t rep = 0;
                for (std::uint32_t i = first_[b]; i < end_[b]; ++i)
                    if (stamp_[elems_[i]] != epoch_) {
                        rep = elems_[i];
                        break;
                    }
                if (!count_signature()) return false;
                group_of(signature(a_, rep, block_, joins_)).clean = true;
            }
            for (std::uint32_t s : marked) {
                if (!count_signature()) return false;
                group_of(signature(a_, s, block_, joins_)).states.push_back(s);
            }
            if (groups.size() == 1) continue;
            std::size_t largest = 0, largest_size = 0;
            for (std::size_t g = 0; g < groups.size(); ++g) {
                const std::size_t n = groups[g].states.size() + (groups[g].clean ? clean_count : 0);
                if (n > largest_size) largest = g, largest_size = n;
            }
            Split split{b, {}};
            for (std::size_t g = 0; g < groups.size(); ++g) {
                if (g == largest) continue;
                std::vector<std::uint32_t> moved = std::move(groups[g].states);
                if (groups[g].clean)
                    for (std::uint32_t i = first_[b]; i < end_[b]; ++i)
                        if (stamp_[elems_[i]] != epoch_) moved.push_back(elems_[i]);
                split.moved.push_back(std::move(moved));
            }
            splits.push_back(std::move(split));
        }
        // Apply every split of the round, then mark the predecessors of
        // the states that changed block.
        dirty.clear();
        ++epoch_;
        for (Split& split : splits) {
            for (std::vector<std::uint32_t>& moved : split.moved) {
                const auto nb = static_cast<std::uint32_t>(first_.size());
                const std::uint32_t group_end = end_[split.block];
                for (std::uint32_t s : moved) {
                    // Swap s to the back of the block's run and shrink it.
                    const std::uint32_t last = --end_[split.block];
                    const std::uint32_t other = elems_[last];
                    std::swap(elems_[loc_[s]], elems_[last]);
                    loc_[other] = loc_[s];
                    loc_[s] = last;
                    block_[s] = nb;
                    for (std::uint32_t p : preds_[s])
                        if (stamp_[p] != epoch_) {
                            stamp_[p] = epoch_;
                            dirty.push_back(p);
                        }
                }
                first_.push_back(end_[split.block]);
                end_.push_back(group_end);
            }
        }
        return true;
    }

    static constexpr std::uint64_t kSignaturesPerUnit = 64;

    const SequenceAutomaton& a_;
    Joins& joins_;
    std::size_t m_;
    std::vector<std::uint32_t> block_, elems_, loc_;
    std::vector<std::uint32_t> first_, end_;  // per block: its run of elems_
    std::vector<std::vector<std::uint32_t>> preds_;
    std::vector<std::uint32_t> stamp_;
    std::uint32_t epoch_ = 0;
    std::uint64_t signatures_ = 0;
};

std::optional<std::vector<std::uint32_t>> state_classes(const SequenceAutomaton& a, Joins& joins) {
    auto block = Refinement(a, joins).run();
    if (!block) return std::nullopt;
    // Classes numbered by first occurrence from state 0.
    std::unordered_map<std::uint32_t, std::uint32_t> number;
    std::vector<std::uint32_t> classes(block->size());
    for (std::size_t s = 0; s < block->size(); ++s)
        classes[s] = number.try_emplace((*block)[s], static_cast<std::uint32_t>(number.size())).first->second;
    return classes;
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
    SequenceAutomaton out = renumber_breadth_first(a);
    assert(sequence_automaton_is_normal(out));
    return out;
}

}  // namespace tessaron::descr
