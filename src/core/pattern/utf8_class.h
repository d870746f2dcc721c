// A class of code points as a tree of UTF-8 byte ranges, ready to be
// copied into an NFA as many times as a pattern repeats it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/pattern/interval_set.h"

namespace tessaron::pattern {

struct ClassTree {
    static constexpr std::uint32_t kTarget = UINT32_MAX;  // edge leaves the class
    struct Edge {
        std::uint8_t lo, hi;
        std::uint32_t next;  // an earlier node, or kTarget
    };
    // Node i owns edges[begin[i], begin[i + 1]): sorted, disjoint byte
    // ranges.  Nodes come children first; the last one is the root.
    std::vector<std::uint32_t> begin;
    std::vector<Edge> edges;

    std::size_t node_count() const { return begin.empty() ? 0 : begin.size() - 1; }
};

// The tree of a non-empty class of scalar values.  Large classes (the
// Unicode properties, \w, \d, \s) are built once per process and shared.
std::shared_ptr<const ClassTree> utf8_class_tree(const IntervalSet& set);

}  // namespace tessaron::pattern
