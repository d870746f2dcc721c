// Text automata: the builders over the pattern engine, complement, the two
// universes, emptiness, equality and order.
//
// What it computes.  Pattern and length automata come from the pattern
// engine (build_dfa, build_length_dfa), which determinises with every NFA
// thread kept (all-match: exactly the texts the pattern matches as a
// whole) and returns the minimal automaton in canonical form.  The
// complement of a complete automaton flips its accepting flags; the table
// is untouched, so the result stays minimal and canonical.  Emptiness is a
// breadth-first search from the start for an accepting state.
//
// Invariants.  Everything shared here is complete, has 1 to
// `kMaxTextStates` states and is canonical (the builders minimise; flipping
// flags preserves it).
//
// Budget.  The pattern engine caps determinisation at `kMaxTextStates`
// states and its own NFA and state-set limits; a pattern's build is also granted the work
// the thread's budget allows (and, inside a text memo's scope, what is
// left of the scope's pattern work), stops when it is spent and is charged
// what it did.  Inside a scope a pattern is built once; a build stopped for want
// of work is tried again only when it may be granted more than before, so
// a scope spends at most kScopeAutomatonWork on patterns and text products,
// whatever it asks (text_memo.h).
// The str universe is built once per process.  Complement copies the table once; emptiness visits each
// reachable state and class once.
#include "core/descr/values/text_automaton.h"

#include <algorithm>
#include <cassert>
#include <string>
#include <vector>

#include "core/descr/budget.h"
#include "core/descr/values/text_literal.h"
#include "core/descr/values/text_memo.h"

namespace tessaron::descr {

namespace {

SharedTextAutomaton share_optional(std::optional<TextAutomaton> a) {
    if (!a) return {};
    return share_text_automaton(std::move(*a));
}

thread_local PatternBuildCounts t_pattern_counts;

}  // namespace

PatternBuildCounts pattern_build_counts() { return t_pattern_counts; }

SharedTextAutomaton share_text_automaton(TextAutomaton&& automaton) {
    if (automaton.state_count() > kMaxTextStates) return {};
    assert(text_automaton_is_well_formed(automaton));
    return SharedTextAutomaton::make(std::move(automaton));
}

SharedTextAutomaton pattern_automaton(std::string_view pattern, TextKind kind) {
    TextMemo* memory = text_memo();
    pattern::DfaWork work;
    work.max = pattern_work_allowance();
    if (memory) work.max = std::min(work.max, memory->automaton_work_left);
    std::string key;
    if (memory) {
        key.reserve(pattern.size() + 1);
        key.push_back(kind == TextKind::Str ? 's' : 'b');
        key.append(pattern);
        if (auto it = memory->patterns.find(key); it != memory->patterns.end()) {
            const RememberedPattern& r = it->second;
            if (!r.stopped || work.max <= r.granted) return r.automaton;
        }
    }
    std::optional<TextAutomaton> dfa = pattern::build_dfa(pattern, kind, pattern::DfaLimits{}, work);
    ++t_pattern_counts.builds;
    t_pattern_counts.work += work.done;
    const bool paid = charge_pattern_work(work.done);
    SharedTextAutomaton a = paid ? share_optional(std::move(dfa)) : SharedTextAutomaton{};
    if (memory) {
        memory->automaton_work_left -= std::min(memory->automaton_work_left, work.done);
        memory->patterns.insert_or_assign(std::move(key), RememberedPattern{a, work.stopped || !paid, work.max});
    }
    return a;
}

SharedTextAutomaton min_length_automaton(std::uint64_t n, TextKind kind) {
    return share_optional(pattern::build_length_dfa(n, std::nullopt, kind));
}

SharedTextAutomaton max_length_automaton(std::uint64_t n, TextKind kind) {
    return share_optional(pattern::build_length_dfa(0, n, kind));
}

SharedTextAutomaton length_range_automaton(std::uint64_t least, std::optional<std::uint64_t> most, TextKind kind) {
    return share_optional(pattern::build_length_dfa(least, most, kind));
}

SharedTextAutomaton literal_text_automaton(std::string_view bytes) {
    auto chain = literal_chain(bytes);
    if (!chain) return {};
    return share_text_automaton(std::move(*chain));
}

SharedTextAutomaton text_automaton_complement(const SharedTextAutomaton& a) {
    TextAutomaton c = *a;
    for (std::uint8_t& f : c.accepting) f = f ? 0 : 1;
    return share_text_automaton(std::move(c));
}

const SharedTextAutomaton& bytes_universe() {
    static const SharedTextAutomaton universe = [] {
        TextAutomaton u;
        u.class_count = 1;
        u.transitions = {0};
        u.accepting = {1};
        return share_text_automaton(std::move(u));
    }();
    return universe;
}

const SharedTextAutomaton& str_universe() {
    // Any number of UTF-8 units: the length automaton without bounds.
    static const SharedTextAutomaton universe = min_length_automaton(0, TextKind::Str);
    return universe;
}

bool text_automaton_is_empty(const TextAutomaton& a) {
    const std::size_t n = a.state_count();
    if (n == 0) return true;
    std::vector<std::uint8_t> seen(n, 0);
    std::vector<std::uint32_t> queue{0};
    seen[0] = 1;
    for (std::size_t i = 0; i < queue.size(); ++i) {
        const std::uint32_t s = queue[i];
        if (a.accepting[s]) return false;
        for (std::uint32_t c = 0; c < a.class_count; ++c) {
            const std::uint32_t t = a.transitions[std::size_t{s} * a.class_count + c];
            if (!seen[t]) {
                seen[t] = 1;
                queue.push_back(t);
            }
        }
    }
    return true;
}

bool text_automaton_equal(const SharedTextAutomaton& a, const SharedTextAutomaton& b) {
    return a.same(b) || (a && b && *a == *b);
}

std::strong_ordering cmp_text_automaton(const TextAutomaton& a, const TextAutomaton& b) {
    if (auto c = a.class_map <=> b.class_map; c != 0) return c;
    if (auto c = a.class_count <=> b.class_count; c != 0) return c;
    if (auto c = a.transitions <=> b.transitions; c != 0) return c;
    return a.accepting <=> b.accepting;
}

bool text_automaton_is_well_formed(const TextAutomaton& a) {
    const std::size_t n = a.state_count();
    if (n == 0 || n > kMaxTextStates || a.class_count == 0 || a.class_count > 256) return false;
    if (a.transitions.size() != n * a.class_count) return false;
    for (std::uint16_t c : a.class_map)
        if (c >= a.class_count) return false;
    for (std::uint32_t t : a.transitions)
        if (t >= n) return false;
    for (std::uint8_t f : a.accepting)
        if (f > 1) return false;
    return true;
}

}  // namespace tessaron::descr
