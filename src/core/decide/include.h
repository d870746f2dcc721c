// Structural inclusion: whether every value of one schema tree is a value
// of another.
//
// `decide_subset` works on the trees themselves, over one pool and one
// definitions list, and asks the oracle only leaf questions.  It answers
// subset (proved), not a subset (refuted: the left side has a value outside
// the right one) or undecided.  A refutation is given only for a left side shown
// to be inhabited; an undecided comparison still proves inclusion when the
// left side is shown to be empty or the right side covers every kind.
//
// The container and refinement rules live in include_containers.h; they and
// `decide_subset` call each other.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include <boost/unordered/unordered_flat_map.hpp>

#include "core/decide/decision.h"
#include "core/ir/node.h"
#include "core/util/fxhash.h"

namespace tessaron::decide {

// The coinductive hypotheses of one top-level inclusion question: the pairs
// (left, right) whose back edges are being expanded on the current path.  A
// question equal (node_eq) to a pair on the stack holds.
class AssumptionStack {
public:
    void push(const ir::Node& left, const ir::Node& right);
    void pop();
    bool holds(const ir::Node& left, const ir::Node& right) const;
    std::size_t size() const { return pairs_.size(); }

private:
    struct Pair {
        ir::Node left;
        ir::Node right;
        std::uint64_t key;
    };
    std::vector<Pair> pairs_;
    // How many pairs on the stack have each key: most questions are
    // answered "no" by one look-up instead of a scan.
    boost::unordered_flat_map<std::uint64_t, std::uint32_t, util::FxHash> key_counts_;
};

Decision decide_subset(const ir::Node& left, const ir::Node& right, DecisionContext& ctx, AssumptionStack& stack);

// A key node_eq-equal nodes share, from the node alone (its kind, flag,
// index and list sizes): nodes with different keys are never equal.
std::uint64_t node_shape_key(const ir::Node& node);

// Left refined (with constraints): subset when its inner node is a subset,
// else undecided.  Left a back edge inside the definitions: the question
// for its definition, under the assumption (left, right).  Anything else:
// undecided.
Decision decide_subset_unfold_left(const ir::Node& left, const ir::Node& right, DecisionContext& ctx,
                                   AssumptionStack& stack);

// The kind fallback: not a subset when kinds, lengths or classes show a
// left value outside the right side (subject to the refutation check of the
// caller), subset when the oracle proves the leaf inclusion, else
// undecided.
Decision decide_subset_by_kind(const ir::Node& left, const ir::Node& right, DecisionContext& ctx,
                               AssumptionStack& stack);

// True when the two nodes provably share no value: structurally, or by an
// empty intersection.
bool meet_is_empty(const ir::Node& a, const ir::Node& b, DecisionContext& ctx);

}  // namespace tessaron::decide
