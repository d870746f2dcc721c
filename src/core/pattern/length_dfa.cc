// Length automata: the texts of at least `min` and at most `max` units, built
// minimal.
//
// What it computes.  A unit is one byte (bytes) or one UTF-8 sequence,
// surrogate encodings included (str).  The unit universe U -- every text of
// whole units -- is a small minimal automaton whose start is its only
// accepting state: a text returns to the start exactly when it completes a
// unit.  Its other states are a dead state (bytes have none) and the
// partial states of multi-byte encodings (six for str: one, two or three
// continuation bytes due, and the narrowed second bytes after E0, F0 and
// F4).  The length automaton is U with a counter: state (i, u) has read i
// whole units and stands in state u of U.  Completing a unit moves from
// layer i to layer i + 1; with no upper bound the counter stops at `min`
// (every later count is alike, so a unit begun at `min` shares the partial
// states of one begun at `min - 1`); with one, a unit begun or completed
// past `max` goes to the dead state.  Layer i accepts at its start state
// when i >= min.
//
// Invariants.  The automaton is built minimal: two boundary states differ
// in the counts they still admit, two partial states in their layer or in
// the bytes still due, so no two states share a language, and every state
// is reachable.  Its state count is therefore known before it is built:
// with p partial states of U, (p + 1) * n + 2 for "at most n" and, for
// n >= 1, "at least n" as well (7n + 2 for str: n + 1 boundary states, six
// partial states per count still to reach, the dead state), n + 1 for "at
// least n" bytes.  The result is put into canonical form by `minimize`,
// which keeps that count.
//
// Budget.  The state cap applies to that exact count before anything is
// allocated, so a bound that cannot fit costs nothing and one that fits
// costs one table of at most `max_states` rows.
#include <algorithm>
#include <optional>
#include <vector>

#include "core/pattern/dfa.h"
#include "core/pattern/hir.h"

namespace tessaron::pattern {

namespace {

Hir byte_range(std::uint32_t lo, std::uint32_t hi) { return Hir::byte_class(IntervalSet({{lo, hi}})); }

// One code point as UTF-8, surrogate encodings included: the same texts as
// the str universe of the algebra.
Hir utf8_unit() {
    std::vector<Hir> alts;
    auto seq = [](std::vector<Hir> parts) { return Hir::concat(std::move(parts)); };
    const Hir cont = byte_range(0x80, 0xBF);
    alts.push_back(byte_range(0x00, 0x7F));
    alts.push_back(seq({byte_range(0xC2, 0xDF), cont}));
    alts.push_back(seq({byte_range(0xE0, 0xE0), byte_range(0xA0, 0xBF), cont}));
    alts.push_back(seq({byte_range(0xE1, 0xEF), cont, cont}));
    alts.push_back(seq({byte_range(0xF0, 0xF0), byte_range(0x90, 0xBF), cont, cont}));
    alts.push_back(seq({byte_range(0xF1, 0xF3), cont, cont, cont}));
    alts.push_back(seq({byte_range(0xF4, 0xF4), byte_range(0x80, 0x8F), cont, cont}));
    return Hir::alternate(std::move(alts));
}

// The minimal automaton of every text of whole units.
Dfa build_unit_universe(TextKind kind) {
    Hir unit = kind == TextKind::Bytes ? byte_range(0x00, 0xFF) : utf8_unit();
    auto nfa = compile_nfa(Hir::repeat(std::move(unit), 0, kUnbounded), NfaLimits{});
    auto dfa = determinize(std::get<Nfa>(nfa), DfaLimits{});
    return minimize(*dfa);
}

const Dfa& unit_universe(TextKind kind) {
    static const Dfa str = build_unit_universe(TextKind::Str);
    static const Dfa bytes = build_unit_universe(TextKind::Bytes);
    return kind == TextKind::Str ? str : bytes;
}

constexpr std::uint32_t kNone = UINT32_MAX;

bool is_dead(const Dfa& u, std::uint32_t s) {
    if (u.accepting[s]) return false;
    for (std::uint32_t c = 0; c < u.class_count; ++c)
        if (u.transitions[std::size_t{s} * u.class_count + c] != s) return false;
    return true;
}

}  // namespace

std::optional<Dfa> build_length_dfa(std::uint64_t min, std::optional<std::uint64_t> max, TextKind kind,
                                    const DfaLimits& limits) {
    if (max && *max < min) {
        Dfa empty;
        empty.class_count = 1;
        empty.transitions = {0};
        empty.accepting = {0};
        return empty;
    }
    const Dfa& u = unit_universe(kind);
    const std::uint32_t k = u.class_count;
    // U's states: the start (0), the dead one if any, the partial ones.
    std::uint32_t dead_u = kNone;
    std::vector<std::uint32_t> partial_index(u.state_count(), kNone);
    std::uint32_t partials = 0;
    for (std::uint32_t s = 1; s < u.state_count(); ++s) {
        if (is_dead(u, s))
            dead_u = s;
        else
            partial_index[s] = partials++;
    }

    // Boundary states for the counts 0..top, and a layer of partial states
    // per count a unit in progress completes to.  With no upper bound the
    // count saturates at `min`, so a unit begun at the last boundary shares
    // the layer of one begun just before it (layer top - 1; layer 0 alone
    // when top is 0, where units complete back to count 0).  With one, no
    // unit begins at the last boundary, and a dead state takes it.
    const bool bounded = max.has_value();
    const std::uint64_t top = bounded ? *max : min;
    const std::uint64_t width = std::uint64_t{partials} + 1;
    // A boundary state per count at least (which also keeps the sums below
    // far from overflowing).
    if (top >= limits.max_states || top >= UINT32_MAX / width) return std::nullopt;
    const std::uint64_t partial_layers = bounded ? top : std::max<std::uint64_t>(top, 1);
    const bool has_dead = bounded || dead_u != kNone;
    const std::uint64_t live = std::max(top * width + 1, partials == 0 ? 0 : partial_layers * width);
    const std::uint64_t count = live + (has_dead ? 1 : 0);
    if (count > limits.max_states) return std::nullopt;

    const auto dead = static_cast<std::uint32_t>(live);  // used only when has_dead
    auto boundary = [&](std::uint64_t i) { return static_cast<std::uint32_t>(i * width); };
    auto partial = [&](std::uint64_t layer, std::uint32_t s) {
        return static_cast<std::uint32_t>(layer * width + 1 + partial_index[s]);
    };
    // The boundary state of count n, or the dead state past the bound.
    auto counted = [&](std::uint64_t n) { return !bounded ? boundary(std::min(n, top)) : n > top ? dead : boundary(n); };

    Dfa dfa;
    dfa.class_map = u.class_map;
    dfa.class_count = k;
    dfa.transitions.assign(count * k, 0);
    dfa.accepting.assign(count, 0);
    for (std::uint64_t i = 0; i <= top; ++i) {
        const std::uint32_t b = boundary(i);
        dfa.accepting[b] = i >= min ? 1 : 0;
        // The layer of a unit begun here, if one may begin.
        const bool may_begin = !bounded || i < top;
        const std::uint64_t layer = bounded ? i : std::min(i, partial_layers - 1);
        for (std::uint32_t c = 0; c < k; ++c) {
            const std::uint32_t t = u.transitions[c];
            dfa.transitions[std::size_t{b} * k + c] =
                t == dead_u ? dead : t == 0 ? counted(i + 1) : may_begin ? partial(layer, t) : dead;
        }
    }
    for (std::uint64_t layer = 0; layer < partial_layers && partials != 0; ++layer) {
        for (std::uint32_t s = 1; s < u.state_count(); ++s) {
            if (partial_index[s] == kNone) continue;
            const std::uint32_t p = partial(layer, s);
            for (std::uint32_t c = 0; c < k; ++c) {
                const std::uint32_t t = u.transitions[std::size_t{s} * k + c];
                dfa.transitions[std::size_t{p} * k + c] =
                    t == dead_u ? dead : t == 0 ? counted(layer + 1) : partial(layer, t);
            }
        }
    }
    if (has_dead)
        for (std::uint32_t c = 0; c < k; ++c) dfa.transitions[std::size_t{dead} * k + c] = dead;
    return minimize(dfa);
}

}  // namespace tessaron::pattern
