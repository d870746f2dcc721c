// The literal chain: the automaton of exactly one byte string t (n bytes),
// written straight in minimal canonical form.
//
// What it computes.  The chain has the states "first i bytes read" for i
// = 0 .. n and a dead state; state i < n moves to i + 1 on byte t[i] and to
// the dead state on every other byte, and only state n accepts.  These n +
// 2 states are already pairwise distinguishable (state i accepts exactly
// the suffix t[i..], the dead state nothing) and all reachable, so the
// chain is minimal; what remains is the canonical numbering:
//   * classes: each distinct byte of t has a column of its own (the
//     positions where it occurs, which differ between bytes), and every
//     byte absent from t shares the all-dead column; classes are numbered
//     by their smallest byte, so byte 0 is in class 0;
//   * states: breadth first from state 0, targets taken in ascending class
//     order.  Row i (i < n) has just two targets: i + 1 on the class of
//     t[i] and the dead state on every other class, so i + 1 is met first
//     exactly when t[i] is in class 0 (that is, t[i] is byte 0).  For "ba"
//     the dead state is number 1 and the state after "b" number 2.
//
// Invariants.  The result equals pattern::minimize of the chain, entry for
// entry (the native tests check it on random texts).
//
// Budget.  n + 2 states times at most 256 classes table entries: the
// output's own size; above the state cap less 2 bytes nothing is built.
#include "core/descr/values/text_literal.h"

#include <array>
#include <vector>

#include "core/descr/values/text_automaton.h"

namespace tessaron::descr {

std::optional<pattern::Dfa> literal_chain(std::string_view bytes) {
    const std::size_t n = bytes.size();
    if (n + 2 > kMaxTextStates) return std::nullopt;
    auto byte_at = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };

    pattern::Dfa d;
    std::array<bool, 256> present{};
    for (std::size_t i = 0; i < n; ++i) present[byte_at(i)] = true;
    int absent_class = -1;
    std::uint32_t classes = 0;
    for (int b = 0; b < 256; ++b) {
        if (present[b]) {
            d.class_map[b] = static_cast<std::uint16_t>(classes++);
        } else {
            if (absent_class < 0) absent_class = static_cast<int>(classes++);
            d.class_map[b] = static_cast<std::uint16_t>(absent_class);
        }
    }
    d.class_count = classes;

    // Breadth-first numbering over chain positions 0 .. n and dead = n + 1.
    const std::size_t dead = n + 1;
    constexpr std::uint32_t kUnset = UINT32_MAX;
    std::vector<std::uint32_t> number(n + 2, kUnset);
    std::vector<std::size_t> order{0};
    number[0] = 0;
    auto visit = [&](std::size_t s) {
        if (number[s] == kUnset) {
            number[s] = static_cast<std::uint32_t>(order.size());
            order.push_back(s);
        }
    };
    for (std::size_t i = 0; i < order.size(); ++i) {
        const std::size_t s = order[i];
        if (s < n && d.class_map[byte_at(s)] == 0) {
            visit(s + 1);
            visit(dead);
        } else if (s < n) {
            visit(dead);
            visit(s + 1);
        } else {
            visit(dead);
        }
    }

    const std::uint32_t k = d.class_count;
    d.transitions.assign(order.size() * k, number[dead]);
    d.accepting.assign(order.size(), 0);
    for (std::size_t i = 0; i < order.size(); ++i) {
        const std::size_t s = order[i];
        if (s < n) d.transitions[i * k + d.class_map[byte_at(s)]] = number[s + 1];
        if (s == n) d.accepting[i] = 1;
    }
    return d;
}

}  // namespace tessaron::descr
