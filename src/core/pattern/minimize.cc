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
//    number of marked states.  The predecessors of each (class, state) are
//    precomputed in one flat array.
// 3. Quotient by the partition, merge classes whose columns are equal
//    (numbered by their smallest byte), and renumber the blocks breadth
//    first from the start, targets in ascending class order.
// The result depends only on the language of the input, so equal
// languages give equal automata.
#include <algorithm>
#include <boost/unordered/unordered_flat_map.hpp>
#include <cstring>
#include <string>

#include "core/pattern/dfa.h"
#include "core/util/fxhash.h"

namespace tessaron::pattern {

namespace {

// The states reachable from 0, renumbered in discovery order.
Dfa reachable_part(const Dfa& in) {
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

// Hopcroft refinement: the block of each state.
std::vector<std::uint32_t> refine(const Dfa& d) {
    const std::size_t n = d.state_count();
    const std::uint32_t k = d.class_count;

    // Predecessors by (class, target): pred[pred_begin[c * n + t] ..).
    std::vector<std::uint32_t> pred_begin(std::size_t{k} * n + 1, 0);
    for (std::size_t s = 0; s < n; ++s)
        for (std::uint32_t c = 0; c < k; ++c) ++pred_begin[std::size_t{c} * n + d.transitions[s * k + c] + 1];
    for (std::size_t i = 1; i < pred_begin.size(); ++i) pred_begin[i] += pred_begin[i - 1];
    std::vector<std::uint32_t> pred(n * k);
    {
        std::vector<std::uint32_t> fill(pred_begin.begin(), pred_begin.end() - 1);
        for (std::size_t s = 0; s < n; ++s)
            for (std::uint32_t c = 0; c < k; ++c)
                pred[fill[std::size_t{c} * n + d.transitions[s * k + c]]++] = static_cast<std::uint32_t>(s);
    }

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
    std::vector<std::uint32_t> work;
    for (std::uint32_t b = 0; b < first.size(); ++b) work.push_back(b);

    std::vector<std::uint32_t> splitter, touched;
    while (!work.empty()) {
        const std::uint32_t a = work.back();
        work.pop_back();
        waiting[a] = false;
        splitter.assign(elems.begin() + first[a], elems.begin() + end[a]);
        for (std::uint32_t c = 0; c < k; ++c) {
            touched.clear();
            for (std::uint32_t t : splitter) {
                const std::size_t slot = std::size_t{c} * n + t;
                for (std::uint32_t p = pred_begin[slot]; p < pred_begin[slot + 1]; ++p) {
                    const std::uint32_t s = pred[p];
                    const std::uint32_t b = block[s];
                    if (marked[b] == 0) touched.push_back(b);
                    // Move s to the end of the marked prefix of its block.
                    const std::uint32_t dst = first[b] + marked[b]++;
                    const std::uint32_t other = elems[dst];
                    std::swap(elems[loc[s]], elems[dst]);
                    loc[other] = loc[s];
                    loc[s] = dst;
                }
            }
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
                    work.push_back(nb);
                } else {
                    const std::uint32_t smaller = (end[nb] - first[nb] <= end[b] - first[b]) ? nb : b;
                    waiting[smaller] = true;
                    work.push_back(smaller);
                }
            }
        }
    }
    return block;
}

}  // namespace

Dfa minimize(const Dfa& input) {
    if (input.state_count() == 0 || input.class_count == 0) {
        Dfa empty;
        empty.class_count = 1;
        empty.transitions = {0};
        empty.accepting = {0};
        return empty;
    }
    const Dfa d = reachable_part(input);
    const std::size_t n = d.state_count();
    const std::uint32_t k = d.class_count;
    const std::vector<std::uint32_t> block = refine(d);
    std::uint32_t m = 0;
    for (std::uint32_t b : block) m = std::max(m, b + 1);

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
