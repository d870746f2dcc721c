// Minimisation of a complete byte DFA (Hopcroft's algorithm) and its
// canonical numbering.
//
// 1. Keep the states reachable from state 0.
// 2. Partition refinement: start from {accepting, non-accepting}; take a
//    block A from the worklist and, class by class, split every block B
//    into the states whose target lies in A and the others.  When B was
//    waiting in the worklist both halves wait; otherwise only the smaller
//    half is added, which gives the O(k n log n) bound (k classes, n
//    states).  Blocks are contiguous runs of one array and a split moves
//    the marked states to the front of their run, so a split costs the
//    number of marked states.  The (class, state) pairs entering each
//    state are precomputed in one flat array; for a splitter they are
//    sorted into one bucket per class, so only the classes that enter it
//    are visited.
// 3. Quotient by the partition, merge classes whose columns are equal
//    (numbered by their smallest byte), and renumber the blocks breadth
//    first from the start, targets in ascending class order.
// The result depends only on the language of the input, so equal
// languages give equal automata.
//
// Budget: the counted entry point counts its steps as it goes (a cell of
// the table read or written, a predecessor visited, a class scanned for a
// state of a splitter, a state moved to a new block) and stops once they
// would pass the caller's maximum: O(k n) for the table passes and up to
// O(k n log n) for the refinement, charged as they are done rather than
// guessed from the table's size.  They are charged as DfaWork units at
// `kStepsPerUnit` steps a unit: a step here is an array access, about half
// the time of a unit of determinisation (measured on the automata of
// counted Unicode classes: 4.3 million steps in 13 ms beside 1.5 million
// units of determinisation in 9 ms).
#include <algorithm>
#include <boost/unordered/unordered_flat_map.hpp>
#include <cstring>
#include <optional>
#include <string>

#include "core/pattern/dfa.h"
#include "core/util/fxhash.h"

namespace tessaron::pattern {

namespace {

constexpr std::uint64_t kStepsPerUnit = 2;

// The steps of one minimisation and the most it may take.
struct Steps {
    std::uint64_t done = 0;
    std::uint64_t max = UINT64_MAX;
    // Takes `n` steps when they fit, before they are done; false (and
    // nothing taken) when they would pass the maximum.
    bool take(std::uint64_t n) {
        if (n > max - done) return false;
        done += n;
        return true;
    }
};

// The states reachable from 0, renumbered in discovery order.
Dfa reachable_part(const Dfa& in, Steps& work) {
    const std::size_t n = in.state_count();
    const std::uint32_t k = in.class_count;
    std::vector<std::uint32_t> id(n, UINT32_MAX);
    std::vector<std::uint32_t> order;
    if (n == 0) return in;
    id[0] = 0;
    order.push_back(0);
    for (std::size_t i = 0; i < order.size(); ++i) {
        const std::uint32_t s = order[i];
        for (std::uint32_t c = 0; c < k; ++c) {
            const std::uint32_t t = in.transitions[std::size_t{s} * k + c];
            if (id[t] == UINT32_MAX) {
                id[t] = static_cast<std::uint32_t>(order.size());
                order.push_back(t);
            }
        }
    }
    work.done += (n + order.size()) * std::uint64_t{k};
    Dfa out;
    out.class_map = in.class_map;
    out.class_count = k;
    out.transitions.reserve(order.size() * k);
    for (std::uint32_t s : order) {
        for (std::uint32_t c = 0; c < k; ++c) out.transitions.push_back(id[in.transitions[std::size_t{s} * k + c]]);
        out.accepting.push_back(in.accepting[s]);
    }
    return out;
}

// Hopcroft refinement: the block of each state; none when the work would
// pass `work.max`.
std::optional<std::vector<std::uint32_t>> refine(const Dfa& d, Steps& work) {
    const std::size_t n = d.state_count();
    const std::uint32_t k = d.class_count;

    // Predecessors by target: the (class, state) pairs entering t are
    // in_pairs[in_begin[t] ..).  Counted and filled in one sequential pass
    // over the table each.
    if (!work.take(3 * std::uint64_t{k} * n)) return std::nullopt;
    struct Entering {
        std::uint32_t cls;
        std::uint32_t state;
    };
    std::vector<std::uint32_t> in_begin(n + 1, 0);
    for (std::uint32_t t : d.transitions) ++in_begin[t + 1];
    for (std::size_t i = 1; i < in_begin.size(); ++i) in_begin[i] += in_begin[i - 1];
    std::vector<Entering> in_pairs(n * k);
    {
        std::vector<std::uint32_t> fill(in_begin.begin(), in_begin.end() - 1);
        for (std::size_t s = 0; s < n; ++s)
            for (std::uint32_t c = 0; c < k; ++c)
                in_pairs[fill[d.transitions[s * k + c]]++] = Entering{c, static_cast<std::uint32_t>(s)};
    }
    // Per splitter, the states entering it, one bucket per class.
    std::vector<std::vector<std::uint32_t>> by_class(k);
    std::vector<std::uint32_t> classes_hit;

    std::vector<std::uint32_t> elems(n), loc(n), block(n);
    std::vector<std::uint32_t> first, end, marked;
    std::vector<bool> waiting;
    {
        std::size_t w = 0;
        for (std::uint8_t acc : {std::uint8_t{0}, std::uint8_t{1}}) {
            const std::size_t from = w;
            for (std::size_t s = 0; s < n; ++s) {
                if ((d.accepting[s] != 0) != (acc != 0)) continue;
                elems[w] = static_cast<std::uint32_t>(s);
                loc[s] = static_cast<std::uint32_t>(w);
                block[s] = static_cast<std::uint32_t>(first.size());
                ++w;
            }
            if (w > from) {
                first.push_back(static_cast<std::uint32_t>(from));
                end.push_back(static_cast<std::uint32_t>(w));
                marked.push_back(0);
                waiting.push_back(true);
            }
        }
    }
    std::vector<std::uint32_t> worklist;
    for (std::uint32_t b = 0; b < first.size(); ++b) worklist.push_back(b);

    std::vector<std::uint32_t> touched;
    while (!worklist.empty()) {
        const std::uint32_t a = worklist.back();
        worklist.pop_back();
        waiting[a] = false;
        // The states entering the splitter, by class: the splitter's
        // states and their predecessors (which pays for moving them to the
        // marked part of their blocks, and for splitting those off).
        std::uint64_t entering = end[a] - first[a];
        for (std::uint32_t i = first[a]; i < end[a]; ++i) entering += in_begin[elems[i] + 1] - in_begin[elems[i]];
        if (!work.take(entering)) return std::nullopt;
        for (std::uint32_t i = first[a]; i < end[a]; ++i) {
            const std::uint32_t t = elems[i];
            for (std::uint32_t p = in_begin[t]; p < in_begin[t + 1]; ++p) {
                std::vector<std::uint32_t>& bucket = by_class[in_pairs[p].cls];
                if (bucket.empty()) classes_hit.push_back(in_pairs[p].cls);
                bucket.push_back(in_pairs[p].state);
            }
        }
        for (std::uint32_t c : classes_hit) {
            touched.clear();
            for (std::uint32_t s : by_class[c]) {
                const std::uint32_t b = block[s];
                if (marked[b] == 0) touched.push_back(b);
                // Move s to the end of the marked prefix of its block.
                const std::uint32_t dst = first[b] + marked[b]++;
                const std::uint32_t other = elems[dst];
                std::swap(elems[loc[s]], elems[dst]);
                loc[other] = loc[s];
                loc[s] = dst;
            }
            by_class[c].clear();
            for (std::uint32_t b : touched) {
                const std::uint32_t m = marked[b];
                marked[b] = 0;
                if (m == end[b] - first[b]) continue;
                const auto nb = static_cast<std::uint32_t>(first.size());
                first.push_back(first[b]);
                end.push_back(first[b] + m);
                marked.push_back(0);
                waiting.push_back(false);
                first[b] += m;
                for (std::uint32_t i = first[nb]; i < end[nb]; ++i) block[elems[i]] = nb;
                if (waiting[b]) {
                    waiting[nb] = true;
                    worklist.push_back(nb);
                } else {
                    const std::uint32_t smaller = (end[nb] - first[nb] <= end[b] - first[b]) ? nb : b;
                    waiting[smaller] = true;
                    worklist.push_back(smaller);
                }
            }
        }
        classes_hit.clear();
    }
    return block;
}

}  // namespace

Dfa minimize(const Dfa& input) {
    DfaWork unbounded;
    return *minimize(input, unbounded);
}

std::optional<Dfa> minimize(const Dfa& input, DfaWork& work) {
    if (input.state_count() == 0 || input.class_count == 0) {
        Dfa empty;
        empty.class_count = 1;
        empty.transitions = {0};
        empty.accepting = {0};
        return empty;
    }
    Steps steps;
    const std::uint64_t left = work.left();
    steps.max = left > UINT64_MAX / kStepsPerUnit ? UINT64_MAX : left * kStepsPerUnit;
    auto charge = [&] { work.done += (steps.done + kStepsPerUnit - 1) / kStepsPerUnit; };
    auto stop = [&] {
        charge();
        work.stopped = true;
        return std::nullopt;
    };
    // The table passes alone (reachable part, predecessors, quotient)
    // already past the maximum: stop before any of them.
    if (5 * std::uint64_t{input.class_count} * input.state_count() > steps.max) return stop();
    const Dfa d = reachable_part(input, steps);
    if (steps.done > steps.max) return stop();
    const std::size_t n = d.state_count();
    const std::uint32_t k = d.class_count;
    const std::optional<std::vector<std::uint32_t>> refined = refine(d, steps);
    if (!refined) return stop();
    const std::vector<std::uint32_t>& block = *refined;
    std::uint32_t m = 0;
    for (std::uint32_t b : block) m = std::max(m, b + 1);
    // The quotient, the columns of the class merge, the renumbered table.
    if (!steps.take(std::uint64_t{k} * (n + 3 * std::uint64_t{m}))) return stop();
    charge();

    // Quotient: block x old class -> block.
    std::vector<std::uint32_t> q(std::size_t{m} * k);
    std::vector<std::uint8_t> q_accept(m);
    for (std::size_t s = 0; s < n; ++s) {
        q_accept[block[s]] = d.accepting[s];
        for (std::uint32_t c = 0; c < k; ++c) q[std::size_t{block[s]} * k + c] = block[d.transitions[s * k + c]];
    }

    // Merge classes with equal columns, numbered by their smallest byte.
    std::vector<std::int32_t> new_of_old(k, -1);
    std::vector<std::uint32_t> rep;  // new class -> an old class
    boost::unordered_flat_map<std::string, std::uint32_t, util::FxHash> columns;
    std::string col;
    Dfa out;
    for (int b = 0; b < 256; ++b) {
        const std::uint32_t c = d.class_map[b];
        if (new_of_old[c] < 0) {
            col.assign(4 * std::size_t{m}, '\0');
            for (std::uint32_t s = 0; s < m; ++s) {
                const std::uint32_t t = q[std::size_t{s} * k + c];
                std::memcpy(col.data() + 4 * s, &t, 4);
            }
            auto [it, inserted] = columns.try_emplace(col, static_cast<std::uint32_t>(rep.size()));
            if (inserted) rep.push_back(c);
            new_of_old[c] = static_cast<std::int32_t>(it->second);
        }
        out.class_map[b] = static_cast<std::uint16_t>(new_of_old[c]);
    }
    out.class_count = static_cast<std::uint32_t>(rep.size());

    // Breadth-first renumbering from the start block.
    const std::uint32_t kc = out.class_count;
    std::vector<std::uint32_t> number(m, UINT32_MAX), order;
    number[block[0]] = 0;
    order.push_back(block[0]);
    for (std::size_t i = 0; i < order.size(); ++i) {
        for (std::uint32_t c = 0; c < kc; ++c) {
            const std::uint32_t t = q[std::size_t{order[i]} * k + rep[c]];
            if (number[t] == UINT32_MAX) {
                number[t] = static_cast<std::uint32_t>(order.size());
                order.push_back(t);
            }
        }
    }
    out.transitions.reserve(order.size() * kc);
    for (std::uint32_t b : order) {
        for (std::uint32_t c = 0; c < kc; ++c) out.transitions.push_back(number[q[std::size_t{b} * k + rep[c]]]);
        out.accepting.push_back(q_accept[b]);
    }
    return out;
}

}  // namespace tessaron::pattern
