// The road from two schema trees to one answer: the structural decisions,
// then the descriptor route for what they leave undecided, and the rule
// that combines the two.
//
// The descriptor route converts both sides into descriptors (per-kind
// normal forms), meets the left one with the complement of the right one
// and tests the meet for emptiness.  Its outcome alone is not the answer:
// the conversion cuts recursion after one unfolding, so an inhabited meet
// refutes only when neither root holds a back edge or placeholder.
//
// Each step of the route runs in a work window of its own
// (`descr::kWindowUnits`):
// the conversion of either side, the emptiness test of the left side
// alone, and the complement, meet and emptiness test together.  Running
// out of a window is an ordinary outcome (no descriptor, undecided).
#pragma once

#include <cstdint>
#include <span>

#include "core/decide/decision.h"
#include "core/ir/node.h"

namespace tessaron::decide {

// What the descriptor route established about "left within right".
enum class RouteOutcome : std::uint8_t {
    NoLeft,         // the left side could not be converted
    LeftEmpty,      // the left descriptor is empty: the inclusion holds
    NoRight,        // the right side could not be converted
    NoMeet,         // the meet with the complement ran out of budget
    MeetEmpty,      // left minus right is empty
    MeetInhabited,  // left minus right has a value (in the unfolded trees)
    MeetUndecided,  // the emptiness test could not tell
    // left minus right has a value, but a side's descriptor only bounds its
    // schema (see descr_of_node): no refutation
    MeetInhabitedBounded,
};

// The descriptor route for "left within right" over one pool (behind
// `oracle`) and one definitions list.
RouteOutcome run_descriptor_route(const ir::Node& left, const ir::Node& right, Oracle& oracle,
                                  std::span<const ir::Node> definitions);

// The answer of a route outcome: an empty meet (or left side) proves the
// inclusion whatever the unfolding cut or the bounds; an inhabited meet of
// exact descriptors refutes it only when `recursion` is clear; everything
// else is undecided.
Decision combine_route(RouteOutcome route, bool recursion);

// A refutation of "left within right" by bounds the other way round: the
// left side converted with Polarity::Below (recursion cut to nothing, no
// part bounded: a subset of its values), the right one with
// Polarity::Above (cut to anything, a literal dict key bounded: a
// superset).  A value of the first
// outside the second is a value of the left side outside the right one,
// whatever was cut or bounded, so an inhabited meet refutes; anything
// else is undecided.  Its own windows, as the route's.
Decision refute_by_bounds(const ir::Node& left, const ir::Node& right, Oracle& oracle,
                          std::span<const ir::Node> definitions);

// The descriptor route combined with what the recursion of the two roots
// allows it to claim (recursion: definitions present and a back edge or
// placeholder in either root); when that is undecided because the right
// side could not be converted as a subset of its values, or the meet was
// inhabited only through a cut or a bound, `refute_by_bounds`.
Decision decide_subset_by_descr(const ir::Node& left, const ir::Node& right, Oracle& oracle,
                                std::span<const ir::Node> definitions);

// Descriptor emptiness of one schema tree.  "Inhabited" only when no
// recursion was cut and the descriptor is exact (the cut or the bound may
// have added the values found).  An intersection is converted member by
// member and met in turn: "empty" at the first member or partial meet
// proved empty, even when a later member has no descriptor.
Emptiness decide_empty_by_descr(const ir::Node& node, Oracle& oracle, std::span<const ir::Node> definitions);

// "left within right" for one public call: the structural decision under
// `budget` (a fresh assumption stack), then, when it is undecided, the
// descriptor route, then the structural decision of "~right within ~left"
// and the structural inhabitation of left & ~right under the same budget;
// inside a descr::TextMemoScope and a descr::DecisionMemoScope (the
// caller's, when they are open).
Decision decide_relation(const ir::Node& left, const ir::Node& right, Oracle& oracle,
                         std::span<const ir::Node> definitions, DecisionBudget& budget);

// How the relation decisions of the calling thread ended so far: answered
// by the structural decision, answered by the descriptor route, or left
// undecided by both.  A work counter for tests and the soundness sweep.
struct RouteCounts {
    std::uint64_t structural = 0;
    std::uint64_t descriptor = 0;
    std::uint64_t undecided = 0;
};
RouteCounts route_counts();

// Whether one schema tree admits no value: a complement or an intersection
// read as inclusion questions (relation decisions under `budget`, so that
// `A & ~B` is empty exactly when "A within B" is proved), then structural
// inhabitation under `budget`, then, when it is undecided, descriptor
// emptiness.
Emptiness decide_emptiness(const ir::Node& node, Oracle& oracle, std::span<const ir::Node> definitions,
                           DecisionBudget& budget);

}  // namespace tessaron::decide
