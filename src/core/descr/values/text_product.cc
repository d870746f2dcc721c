// The product of two text automata over their joint byte classes.
//
// What it computes.  The joint classes split the bytes so that each joint
// class lies inside one class of either automaton; the product runs both
// automata side by side on one representative pair of classes per joint
// class.  Pairs of states are numbered breadth first from (0, 0) through a
// hash map, so only reachable pairs exist and rows come out in number
// order; a pair accepts when both states do (intersection) or either does
// (union).  Both inputs are complete, so the product is complete, and its
// language is the meet or join of theirs; pattern::minimize then brings it
// to canonical form, so the result compares equal to any other automaton
// of the same language.
//
// A pair in which one side sits in the operation's absorbing state (a
// dead state for a meet, a state accepting everything for a join) behaves
// as that state whatever the other side reads, so all such pairs are one
// product state: a meet with an automaton that has died does not walk the
// other automaton's remaining states (the UTF-8 tails of a Unicode class,
// say) only for the minimisation to merge them again.
//
// A product whose every pair accepts as one operand's state does (and
// whose absorbed pairs all hold that operand's absorbing state) has that
// operand's language: the operand itself, already canonical, is the
// result, and the minimisation is skipped (a pattern met with the str
// universe that holds it, a meet with a superset).
//
// Invariants.  Pair numbers are handed out in order of first appearance,
// never by hash order, so the product (and its minimal form) does not
// depend on the hash function.
//
// Budget.  At most `kMaxTextStates` pairs are numbered (absorbed pairs
// count once): the pair that would be one past it ends the product with
// no automaton, and so does a row that would take the work past the caller's `max_work`.  The
// work reported is the rows computed times the joint class count (at most
// `kMaxTextStates` x 256 table entries) and the steps of the product's
// minimisation (up to O(k n log n), counted by pattern::minimize as it
// goes), and a minimisation that would take the work past `max_work`
// stops with no automaton too.  Inside a text memo's scope (text_memo.h)
// a product already computed is answered from the memo, at no work, and
// the products of the scope share `kScopeAutomatonWork` with its pattern
// builds.
#include "core/descr/values/text_product.h"

#include <boost/unordered/unordered_flat_map.hpp>

#include <algorithm>
#include <functional>

#include "core/descr/values/text_memo.h"
#include "core/util/fxhash.h"

namespace tessaron::descr {

JointClasses product_byte_classes(const std::array<std::uint16_t, 256>& first,
                                  const std::array<std::uint16_t, 256>& second) {
    JointClasses j;
    // Pairs seen so far, keyed by both class numbers.
    boost::unordered_flat_map<std::uint32_t, std::uint16_t, util::FxHash> seen;
    for (int b = 0; b < 256; ++b) {
        const std::uint32_t key = (std::uint32_t{first[b]} << 16) | second[b];
        auto [it, inserted] = seen.try_emplace(key, static_cast<std::uint16_t>(j.pairs.size()));
        if (inserted) j.pairs.emplace_back(first[b], second[b]);
        j.class_map[b] = it->second;
    }
    j.class_count = static_cast<std::uint32_t>(j.pairs.size());
    return j;
}

namespace {

// Per state: 1 when it loops to itself on every class with the given
// accepting flag (a dead state for 0, a state accepting everything for 1).
std::vector<std::uint8_t> sinks(const TextAutomaton& d, std::uint8_t accepting) {
    std::vector<std::uint8_t> out(d.state_count(), 0);
    for (std::uint32_t s = 0; s < d.state_count(); ++s) {
        if (d.accepting[s] != accepting) continue;
        bool loops = true;
        for (std::uint32_t c = 0; c < d.class_count && loops; ++c)
            loops = d.transitions[std::size_t{s} * d.class_count + c] == s;
        out[s] = loops ? 1 : 0;
    }
    return out;
}

}  // namespace

namespace {

TextProduct compute_product(const SharedTextAutomaton& a, const SharedTextAutomaton& b, SetOp op,
                            std::uint64_t max_work) {
    const TextAutomaton& x = *a;
    const TextAutomaton& y = *b;
    // A pair holding the absorbing state of the operation (dead for a meet,
    // everything for a join) behaves as that state whatever the other
    // side does: all such pairs share one key, so a product does not copy
    // the other automaton's states behind a dead end.
    const std::uint8_t absorbing = op == SetOp::Intersection ? 0 : 1;
    const std::vector<std::uint8_t> x_sink = sinks(x, absorbing), y_sink = sinks(y, absorbing);
    auto key_of = [&](std::uint32_t s, std::uint32_t t) {
        return (x_sink[s] || y_sink[t]) ? UINT64_MAX : (std::uint64_t{s} << 32) | t;
    };
    const JointClasses joint = product_byte_classes(x.class_map, y.class_map);
    const std::uint32_t k = joint.class_count;

    TextAutomaton p;
    p.class_map = joint.class_map;
    p.class_count = k;

    std::vector<std::pair<std::uint32_t, std::uint32_t>> states{{0, 0}};
    boost::unordered_flat_map<std::uint64_t, std::uint32_t, util::FxHash> number;
    // Whether the product so far behaves as one operand alone: every pair
    // numbered accepts as that operand's state does, and every pair merged
    // into the absorbing one has that operand's state absorbing too.  Then
    // its language is the operand's, which is shared in canonical form
    // already: no minimisation is needed.
    bool as_a = true, as_b = true;
    auto note_absorbed = [&](std::uint32_t s, std::uint32_t t) {
        as_a = as_a && x_sink[s];
        as_b = as_b && y_sink[t];
    };
    if (key_of(0, 0) == UINT64_MAX) note_absorbed(0, 0);
    number.emplace(key_of(0, 0), 0);
    TextProduct out;
    for (std::size_t i = 0; i < states.size(); ++i) {
        const auto [s, t] = states[i];
        const bool sa = x.accepting[s] != 0, ta = y.accepting[t] != 0;
        const bool accepts = op == SetOp::Intersection ? (sa && ta) : (sa || ta);
        p.accepting.push_back(accepts);
        as_a = as_a && accepts == sa;
        as_b = as_b && accepts == ta;
        if (k > max_work - out.work) return out;
        out.work += k;
        bool have_last = false;
        std::uint64_t last_key = 0;
        std::uint32_t last_number = 0;
        for (std::uint32_t c = 0; c < k; ++c) {
            const auto [c1, c2] = joint.pairs[c];
            const std::uint32_t s2 = x.transitions[std::size_t{s} * x.class_count + c1];
            const std::uint32_t t2 = y.transitions[std::size_t{t} * y.class_count + c2];
            const std::uint64_t key = key_of(s2, t2);
            if (key == UINT64_MAX) note_absorbed(s2, t2);
            // Neighbouring classes often reach the same pair: found again
            // without a hash.
            if (!have_last || key != last_key) {
                auto it = number.find(key);
                if (it == number.end()) {
                    if (states.size() >= kMaxTextStates) return out;
                    it = number.emplace(key, static_cast<std::uint32_t>(states.size())).first;
                    states.emplace_back(s2, t2);
                }
                have_last = true;
                last_key = key;
                last_number = it->second;
            }
            p.transitions.push_back(last_number);
        }
    }
    if (as_a) {
        out.automaton = a;
        return out;
    }
    if (as_b) {
        out.automaton = b;
        return out;
    }
    // The minimisation counts its steps in the same work and stops where
    // the product's allowance ends.
    pattern::DfaWork minimising;
    minimising.max = max_work - out.work;
    std::optional<TextAutomaton> minimal = pattern::minimize(p, minimising);
    // Stopped: it needed more than was left, which is spent.
    out.work = minimal ? out.work + minimising.done : max_work;
    if (minimal) out.automaton = share_text_automaton(std::move(*minimal));
    return out;
}

}  // namespace

// A hash of an automaton's table: its sizes, class map and flags, and at
// most 512 transitions taken evenly over the table (a hit is checked
// against the whole table, so the hash need only tell most tables apart,
// and stays cheap on the largest ones).
static std::uint64_t text_automaton_hash(const TextAutomaton& a) {
    util::FxHasher h;
    h.write(a.class_count);
    h.write(a.state_count());
    h.write_bytes(std::string_view(reinterpret_cast<const char*>(a.class_map.data()), sizeof(a.class_map)));
    h.write_bytes(std::string_view(reinterpret_cast<const char*>(a.accepting.data()), a.accepting.size()));
    const std::size_t n = a.transitions.size();
    const std::size_t stride = n <= 512 ? 1 : n / 512;
    for (std::size_t i = 0; i < n; i += stride) h.write(a.transitions[i]);
    return h.finish();
}

namespace {
thread_local std::uint64_t t_text_product_work = 0;

TextProduct counted_product(const SharedTextAutomaton& a, const SharedTextAutomaton& b, SetOp op,
                            std::uint64_t max_work) {
    TextProduct out = compute_product(a, b, op, max_work);
    t_text_product_work += out.work;
    return out;
}
}  // namespace

std::uint64_t text_product_work() { return t_text_product_work; }

TextProduct text_product(const SharedTextAutomaton& a, const SharedTextAutomaton& b, SetOp op,
                         std::uint64_t max_work) {
    TextMemo* memo = text_memo();
    if (!memo) return counted_product(a, b, op, max_work);
    // Products are remembered by their operands' languages: a complement
    // or a meet made again is a new object with the same (canonical)
    // table.  Both operations commute, so the key takes the hashes in
    // order, and a hit is taken only when the operands are equal.
    const std::uint64_t ha = text_automaton_hash(*a), hb = text_automaton_hash(*b);
    const ProductKey key{std::min(ha, hb), std::max(ha, hb), static_cast<std::uint8_t>(op)};
    auto it = memo->products.find(key);
    if (it != memo->products.end()) {
        const RememberedProduct& r = it->second;
        if ((text_automaton_equal(r.a, a) && text_automaton_equal(r.b, b)) ||
            (text_automaton_equal(r.a, b) && text_automaton_equal(r.b, a)))
            return TextProduct{r.result, 0};
    }
    // The products of one scope share its automaton work.
    TextProduct out = counted_product(a, b, op, std::min(max_work, memo->automaton_work_left));
    memo->automaton_work_left -= std::min(memo->automaton_work_left, out.work);
    if (out.automaton && it == memo->products.end() && memo->products.size() < kMaxRememberedProducts)
        memo->products.emplace(key, RememberedProduct{a, b, out.automaton});
    return out;
}

}  // namespace tessaron::descr
