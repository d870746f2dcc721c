// Acceptance of sequence automata (see sequence_accept.h).
//
// What it computes: reachability of an accepting state over transitions
// whose labels are proved inhabited (strict) or not proved empty
// (lenient).
//
// Invariants: the automaton is only read.  An undecided label or remainder
// is followed only leniently, so "accepts" in strict mode and "accepts
// nothing" in lenient mode rest on proofs.
//
// Budget: no unit of its own; the remainders and emptiness tests take
// theirs, and an exhausted budget makes them undecided.  The verdict asks
// each label once for both searches.
#include "core/descr/sequences/sequence_accept.h"

#include <algorithm>

#include "core/descr/nested.h"
#include "core/descr/descr_memo.h"

namespace tessaron::descr {

namespace {

using ir::Emptiness;

// The answers of labels and remainders, shared by both searches.
class Answers {
public:
    explicit Answers(const SequenceAutomaton& a) : remainder_(a.states.size()), a_(a) {}

    Emptiness of_label(const SharedDescr& label) {
        return labels_.get({label}, [&] { return descr_verdict(*label); });
    }

    Emptiness of_remainder(std::uint32_t s) {
        std::optional<Emptiness>& r = remainder_[s];
        if (!r) {
            const auto rest = complement_of_union(a_.states[s]);
            r = rest ? descr_verdict(**rest) : Emptiness::Undecided;
        }
        return *r;
    }

private:
    DescrMemo<Emptiness> labels_;
    std::vector<std::optional<Emptiness>> remainder_;
    const SequenceAutomaton& a_;
};

bool search(const SequenceAutomaton& a, AcceptMode mode, Answers& answers) {
    std::vector<std::uint8_t> visited(a.states.size(), 0);
    std::vector<std::uint32_t> queue{0};
    for (std::size_t next = 0; next < queue.size(); ++next) {
        const std::uint32_t s = queue[next];
        if (visited[s]) continue;
        visited[s] = 1;
        if (a.accepting[s]) return true;
        for (const Transition& t : a.states[s]) {
            if (visited[t.target]) continue;
            const Emptiness e = t.label ? answers.of_label(t.label) : answers.of_remainder(s);
            const bool follow = mode == AcceptMode::Strict ? e == Emptiness::Inhabited : e != Emptiness::Empty;
            if (follow) queue.push_back(t.target);
        }
    }
    return false;
}

}  // namespace

bool sequence_automaton_accepts(const SequenceAutomaton& a, AcceptMode mode) {
    if (a.states.empty()) return false;
    Answers answers(a);
    return search(a, mode, answers);
}

ir::Emptiness sequence_verdict(const SequenceAutomaton& a) {
    if (a.states.empty() || sequence_is_trivially_empty(a)) return Emptiness::Empty;
    Answers answers(a);
    if (search(a, AcceptMode::Strict, answers)) return Emptiness::Inhabited;
    return search(a, AcceptMode::Lenient, answers) ? Emptiness::Undecided : Emptiness::Empty;
}

}  // namespace tessaron::descr
