// Determinisation of the pattern NFA into a complete byte DFA.
//
// A DFA state is a pair (context bits, sorted unresolved NFA set), the same
// representation the lazy DFA uses; states are discovered breadth first
// from the start state, and every byte class of every state is followed
// through Stepper::advance, so a state's row is exactly the lazy DFA's.
// The empty set is the dead state.  A state accepts when its set reaches
// Match with the end-of-text assertions applied (the "end of input"
// transition of a DFA that matches whole texts).
//
// The semantics is all-match: a set keeps every NFA thread, so the DFA
// accepts every text that some path of the pattern matches as a whole.
//
// Budget: at most max_states states (the 4097th ends the build with none),
// at most max_set_units NFA ids kept in total, each state's row computed in
// O(NFA size); Unicode word boundaries give none.  The result is then
// minimised (minimize.cc).  The counted entry points also count the work
// as it is done (DfaWork: the NFA's units, the NFA states each row's subset
// steps visit, the ids hashed into keys, the classes of each row, the
// minimisation's own steps) and stop as soon as it passes the caller's maximum, so
// a pattern whose automaton is costly to build (a counted repetition of
// two thousand over a class keeps sets of thousands of NFA states) takes
// no more time than the caller granted.
#include <algorithm>
#include <boost/unordered/unordered_flat_map.hpp>
#include <string>

#include "core/pattern/dfa.h"
#include "core/pattern/parse.h"
#include "core/pattern/subset.h"
#include "core/util/fxhash.h"

namespace tessaron::pattern {

bool Dfa::accepts(std::string_view text) const {
    if (accepting.empty()) return false;
    std::uint32_t s = 0;
    for (char c : text) s = next(s, static_cast<std::uint8_t>(c));
    return accepting[s] != 0;
}

std::optional<Dfa> determinize(const Nfa& nfa, const DfaLimits& limits) {
    DfaWork unbounded;
    return determinize(nfa, limits, unbounded);
}

std::optional<Dfa> determinize(const Nfa& nfa, const DfaLimits& limits, DfaWork& work) {
    if (nfa.looks_used & kUnicodeWordLooks) return std::nullopt;
    const ByteClasses classes = byte_classes(nfa);
    const std::uint8_t ctx_mask = context_mask(nfa.looks_used);
    Stepper stepper(nfa);

    std::vector<std::vector<std::uint32_t>> sets;
    std::vector<std::uint8_t> ctxs;
    boost::unordered_flat_map<std::string, std::uint32_t, util::FxHash> index;
    std::size_t units = 0;
    bool over = false;

    // The last state interned: neighbouring classes of a row often lead to
    // the same state (the dead one above all), found again without a hash.
    std::vector<std::uint32_t> last_set;
    std::uint8_t last_ctx = 0;
    std::uint32_t last_id = UINT32_MAX;
    auto intern = [&](std::uint8_t ctx, std::vector<std::uint32_t>& set) -> std::uint32_t {
        std::sort(set.begin(), set.end());
        if (!stepper.has_pending(set)) ctx = 0;
        if (last_id != UINT32_MAX && ctx == last_ctx && set == last_set) return last_id;
        last_set = set;
        last_ctx = ctx;
        last_id = UINT32_MAX;
        std::string key = state_key(ctx, set);
        if (auto it = index.find(key); it != index.end()) return last_id = it->second;
        if (sets.size() >= limits.max_states || units + set.size() > limits.max_set_units) {
            over = true;
            return 0;
        }
        units += set.size();
        const auto id = static_cast<std::uint32_t>(sets.size());
        sets.push_back(set);
        ctxs.push_back(ctx);
        index.emplace(std::move(key), id);
        return last_id = id;
    };

    Dfa dfa;
    dfa.class_count = classes.count;
    for (int b = 0; b < 256; ++b) dfa.class_map[b] = classes.map[b];

    std::vector<std::uint32_t> start;
    const std::uint32_t seed = nfa.start;
    stepper.closure(&seed, 1, start);
    intern(kCtxStart & ctx_mask, start);

    std::vector<std::uint32_t> next;
    std::uint64_t visited = stepper.work;
    for (std::size_t id = 0; id < sets.size(); ++id) {
        const std::uint8_t ctx = ctxs[id];
        const bool pending = stepper.has_pending(sets[id]);
        const Side before = context_side(ctx);
        for (std::uint32_t c = 0; c < classes.count; ++c) {
            const std::uint8_t b = classes.representative[c];
            const std::uint32_t holds = pending ? evaluate_looks(before, byte_side(b), nfa.looks_used) : 0;
            stepper.advance(sets[id], holds, b, next);
            // The step's work: one for the class, the NFA states it visited
            // and the ids hashed into its target's key.
            work.done += 1 + (stepper.work - visited) + next.size();
            visited = stepper.work;
            if (work.done > work.max) {
                work.stopped = true;
                return std::nullopt;
            }
            const std::uint32_t target = intern(context_after(b, ctx_mask), next);
            if (over) return std::nullopt;
            dfa.transitions.push_back(target);
        }
        const std::uint32_t at_end = evaluate_looks(before, edge_side(), nfa.looks_used);
        dfa.accepting.push_back(stepper.accepts(sets[id], at_end) ? 1 : 0);
    }
    return dfa;
}

std::optional<Dfa> build_dfa(std::string_view pattern, TextKind kind, const DfaLimits& limits) {
    DfaWork unbounded;
    return build_dfa(pattern, kind, limits, unbounded);
}

std::optional<Dfa> build_dfa(std::string_view pattern, TextKind kind, const DfaLimits& limits, DfaWork& work) {
    ParseOptions po;
    po.utf8 = kind == TextKind::Str;
    // The parse is linear in the pattern (its classes are bounded by the
    // Unicode tables); it counts one unit per pattern byte.
    work.done += pattern.size() + 1;
    if (work.done > work.max) {
        work.stopped = true;
        return std::nullopt;
    }
    auto parsed = parse(pattern, po);
    if (!std::holds_alternative<Hir>(parsed)) return std::nullopt;
    // The NFA may grow no larger than the work left allows.
    NfaLimits nfa_limits = limits.nfa;
    const bool work_bounds_nfa = work.left() < nfa_limits.max_units;
    if (work_bounds_nfa) nfa_limits.max_units = static_cast<std::size_t>(work.left());
    auto nfa = compile_nfa(std::get<Hir>(parsed), nfa_limits);
    if (!std::holds_alternative<Nfa>(nfa)) {
        if (work_bounds_nfa) {
            work.done = work.max;
            work.stopped = true;
        }
        return std::nullopt;
    }
    work.done += std::get<Nfa>(nfa).memory_units();
    auto dfa = determinize(std::get<Nfa>(nfa), limits, work);
    if (!dfa) return std::nullopt;
    // Minimisation counts what it does in the same work.
    return minimize(*dfa, work);
}

}  // namespace tessaron::pattern
