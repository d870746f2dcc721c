// Conditions: whether one can hold, their pruning, and the product of two
// condition lists.
//
// A condition is proved unsatisfiable, by these tests in this order, when:
//   1. it excludes an ancestor of a class it requires;
//   2. it requires two classes derived from different builtin types,
//      neither a subclass of the other;
//   3. it requires the exact type of a literal beside any other class (an
//      exact int is an instance of no class an instance node names);
//   4. it requires an attribute whose value descriptor is proved empty.
// One that passes is known satisfiable when it requires at most one class
// and no attribute value was left undecided, else possibly satisfiable.
// Asked for a slot, three more things make it only possibly satisfiable: a
// required class whose builtin kind is not the slot's; in the None and
// bool slots, whose values have no subclasses, any attribute requirement;
// and on an exact-type line, whose attributes are fixed, likewise.
//
// Complements: a condition's complement is the union of its entries each
// reversed; a negated list is made explicit as the product of the
// complements of its conditions.
//
// Budget: the attribute test asks descriptor emptiness, which takes
// failing units through the explicit forms it builds; an exhausted budget
// leaves a condition possibly satisfiable, never unsatisfiable.  The
// product takes one failing unit per pair of conditions and prunes what
// it gathered once more than `kCompactAbove` wait; more than `kMaxTerms`
// after pruning fail.
#pragma once

#include <optional>
#include <vector>

#include "core/descr/descr.h"
#include "core/ir/answers.h"

namespace tessaron::descr {

// Whether the condition can hold: empty when proved unsatisfiable,
// inhabited when known satisfiable, undecided when possibly satisfiable.
// `slot`: the kind of the slot the condition is asked for, or none
// when only a proof of unsatisfiability matters.
ir::Emptiness condition_verdict(const Condition& c, std::optional<Kind> slot = std::nullopt);

// Simplified (optional requirements without value dropped, implied classes
// dropped), unsatisfiable and duplicate conditions dropped, sorted by
// `condition_less`; none when more than `kMaxTerms` remain.
std::optional<std::vector<Condition>> prune_conditions(std::vector<Condition> conditions);

// The conjunction of two conditions; none when two attribute values fail
// to meet.
std::optional<Condition> meet_conditions(const Condition& x, const Condition& y);

// The conditions that hold when one of `first` and one of `second` hold.
std::optional<std::vector<Condition>> product_condition_lists(const std::vector<Condition>& first,
                                                              const std::vector<Condition>& second);

// Single-entry conditions whose union is every value failing `c`: per
// attribute (in name order) the complemented value with the optional flag
// flipped, per required class that class excluded, per excluded class that
// class required.  The empty condition gives no condition.  Never fails;
// each present attribute value costs a saturating unit.
std::vector<Condition> complement_condition(const Condition& c);

// The conditions of a list made explicit: a positive list copied, a
// negated one as the product of the complements of its conditions,
// starting from one empty condition.  None when a product fails.
std::optional<std::vector<Condition>> positive_conditions(const ConditionList& list);

// The meet of two condition lists as a positive list: the product of two
// positive lists; otherwise the positive list (one empty condition when
// both are negated) multiplied by the complement of every condition of
// each negated list, the first list's before the second's.
std::optional<std::vector<Condition>> meet_condition_lists(const ConditionList& p, const ConditionList& q);

}  // namespace tessaron::descr
