// Structural inclusion of containers and refinements: the rules
// `decide_subset` hands pairs of sequences, mappings, object nodes and
// refined nodes to.  Every comparison of parts calls `decide_subset` again
// with the same context and assumption stack.
//
// Each rule answers a Decision that `decide_subset` reads as its result
// step does: subset (proved), not a subset (refuted; still subject to the
// refutation check: the left side must be shown inhabited), undecided.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "core/decide/decision.h"
#include "core/decide/include.h"
#include "core/ir/node.h"

namespace tessaron::decide {

// Two sequences of the same flavour, position by position, with their
// repeated tails.
Decision decide_subset_sequences(const ir::Node& left, const ir::Node& right, DecisionContext& ctx,
                                 AssumptionStack& stack);

// Two mappings: the right side's declared keys, then the left side's keys
// the right one does not declare, then the left side's clauses.
Decision decide_subset_mappings(const ir::Node& left, const ir::Node& right, DecisionContext& ctx,
                                AssumptionStack& stack);

// Two object nodes, attribute by attribute (attributes the right side does
// not name do not matter).
Decision decide_subset_fields(std::span<const ir::RecordEntry> left, std::span<const ir::RecordEntry> right,
                              DecisionContext& ctx, AssumptionStack& stack);

// Two refined nodes: the inner nodes included and every right constraint
// implied by the left ones.  Subset or undecided, never a refutation.
Decision decide_subset_refined(const ir::Node& left_inner, std::span<const ir::Constraint> left_constraints,
                               const ir::Node& right_inner, std::span<const ir::Constraint> right_constraints,
                               DecisionContext& ctx, AssumptionStack& stack);

// Whether some value of `left_inner` narrowed by `left_constraints` has a
// length that `right_constraints` exclude: the left inner node is whole
// str or bytes kinds (texts of every length), its constraints are length
// bounds only, and the least or greatest length it admits lies outside the
// right side's length bounds.  Decided from the bounds whatever their
// size; `decide_subset` still checks that the left side is inhabited.
bool text_length_outside(const ir::Node& left_inner, std::span<const ir::Constraint> left_constraints,
                         std::span<const ir::Constraint> right_constraints);

// The prefix items of a sequence without a tail; none when it has one.
std::optional<std::vector<ir::Node>> fixed_sequence_items(const ir::Node& sequence);

// Whether the fixed-length sequences with `items` lie within the union of
// the fixed-length alternatives `candidates` (each an item list of the same
// length), splitting position by position.  False means "not proved".
bool decide_fixed_sequence_in_union(std::span<const ir::Node> items,
                                    std::span<const std::vector<ir::Node>> candidates, DecisionContext& ctx,
                                    AssumptionStack& stack);

// The left field with exactly these key bytes, or null.
const ir::RecordEntry* find_field_by_key(std::span<const ir::RecordEntry> fields, std::string_view key);

}  // namespace tessaron::decide
