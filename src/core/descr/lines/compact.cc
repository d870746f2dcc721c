// Line compaction (see compact.h).
//
// What it computes: a shorter list of lines denoting the same values.
//
// Invariants: the result is sorted by `cmp_line`, holds no two equal
// neighbours and no line proved empty; lines keep their own condition
// lists (the explicit form is only consulted).
//
// Budget: the emptiness tests of the lines take failing units (explicit
// forms of negated condition lists, nested attribute tests); an exhausted
// budget leaves lines in, it never fails the compaction.
#include "core/descr/lines/compact.h"

#include <algorithm>

#include "core/descr/lines/atoms.h"
#include "core/descr/lines/emptiness.h"
#include "core/descr/lines/order.h"

namespace tessaron::descr {

std::optional<std::vector<Line>> compact_lines(std::vector<Line> lines) {
    if (lines.empty()) return lines;
    std::vector<Line> kept;
    for (Line& line : lines) {
        if (line_is_empty(line)) continue;
        auto same = std::find_if(kept.begin(), kept.end(), [&](const Line& k) {
            return condition_lists_equal(k.conditions, line.conditions);
        });
        if (same != kept.end()) {
            if (auto joined = combine_atoms(same->atom, line.atom, SetOp::Union)) {
                same->atom = std::move(*joined);
                continue;
            }
        }
        kept.push_back(std::move(line));
    }
    std::stable_sort(kept.begin(), kept.end(), [](const Line& a, const Line& b) { return cmp_line(a, b) < 0; });
    auto last = std::unique(kept.begin(), kept.end(), line_equal);
    kept.erase(last, kept.end());
    if (kept.size() > kMaxTerms) return std::nullopt;
    return kept;
}

}  // namespace tessaron::descr
