// The decision of one public call: structural first, then the descriptor
// route, then the combining rule.
//
// What it computes: `decide_relation` asks `decide_subset` and, only when
// that is undecided, `decide_subset_by_descr`; `decide_emptiness` asks
// `decide_inhabited` and then `decide_empty_by_descr`.  The combining rule
// (`combine_route`): an empty left descriptor or an empty meet proves the
// inclusion; an inhabited meet refutes it only when no recursion was cut
// (with definitions present and a back edge or placeholder in either root,
// the meet may hold a value only because a cut reference stood for every
// value); everything else is undecided.
//
// The descriptor route converts the left side (polarity 0: a superset of
// its values when recursion is cut or a part is inexact); an empty left
// descriptor proves the inclusion without looking at the right side.
// Otherwise the right side is converted with polarity 1 (a subset of its
// values), complemented, met with the left one, and the meet tested for
// emptiness.  An inhabited meet of a bound (an inexact side) refutes
// nothing: the values found may be the bound's alone.
//
// Invariants: an answer other than undecided rests on a proof of one of the
// two routes.  The thread's work budget is restored after every window,
// however it ends.
//
// Budget: the structural step spends the caller's `DecisionBudget` (both
// directions of an equivalence share one); the descriptor route runs each
// of its steps in a work window of 4096 units: the two conversions, the
// emptiness test of the left side alone (and of `is_empty`'s schema), and
// the complement, meet and emptiness test together.  A pattern is built
// into an automaton at most once per call (a descr::TextMemoScope around
// it: a caller that asks two directions opens one around both), and the
// builds of one call share a fixed amount of pattern work on top of the
// windows' charges.  A thread short of native stack (a rewrite or comparison that
// throws NativeStackExhausted, wherever it stops) answers undecided.
#include "core/decide/route.h"

#include "core/descr/budget.h"
#include "core/descr/combine.h"
#include "core/descr/complement.h"
#include "core/descr/convert.h"
#include "core/descr/emptiness.h"
#include "core/descr/text_memo.h"

#include "core/decide/include.h"
#include "core/decide/inhabit.h"
#include "core/ir/resolve.h"
#include "core/util/native_stack.h"

namespace tessaron::decide {

namespace {

// Descriptor emptiness in a window of its own.
Emptiness bounded_emptiness(const descr::Descr& d) {
    descr::WorkWindow window(descr::kWindowUnits);
    return descr::descr_is_empty(d);
}

thread_local RouteCounts t_route_counts;

bool recursion_cut(const ir::Node& node, std::span<const ir::Node> definitions) {
    return !definitions.empty() && ir::has_back_edges(node);
}

}  // namespace

RouteOutcome run_descriptor_route(const ir::Node& left, const ir::Node& right, Oracle& oracle,
                                  std::span<const ir::Node> definitions) {
    bool inexact = false;
    const descr::OptDescr l = descr::descr_of_node(left, definitions, 0, oracle, &inexact);
    if (!l) return RouteOutcome::NoLeft;
    if (bounded_emptiness(*l) == Emptiness::Empty) return RouteOutcome::LeftEmpty;
    const descr::OptDescr r = descr::descr_of_node(right, definitions, 1, oracle, &inexact);
    if (!r) return RouteOutcome::NoRight;
    descr::WorkWindow window(descr::kWindowUnits);
    const descr::OptDescr meet =
        descr::descr_combine(*l, descr::descr_complement(*r), descr::SetOp::Intersection);
    if (!meet) return RouteOutcome::NoMeet;
    switch (descr::descr_is_empty(*meet)) {
        case Emptiness::Empty: return RouteOutcome::MeetEmpty;
        case Emptiness::Inhabited: return inexact ? RouteOutcome::MeetInhabitedInexact : RouteOutcome::MeetInhabited;
        case Emptiness::Undecided: break;
    }
    return RouteOutcome::MeetUndecided;
}

Decision combine_route(RouteOutcome route, bool recursion) {
    switch (route) {
        case RouteOutcome::LeftEmpty:
        case RouteOutcome::MeetEmpty:
            return Decision::Subset;
        case RouteOutcome::MeetInhabited:
            return recursion ? Decision::Undecided : Decision::NotSubset;
        case RouteOutcome::NoLeft:
        case RouteOutcome::NoRight:
        case RouteOutcome::NoMeet:
        case RouteOutcome::MeetUndecided:
        case RouteOutcome::MeetInhabitedInexact:
            break;
    }
    return Decision::Undecided;
}

Decision decide_subset_by_descr(const ir::Node& left, const ir::Node& right, Oracle& oracle,
                                std::span<const ir::Node> definitions) {
    const bool recursion = recursion_cut(left, definitions) || recursion_cut(right, definitions);
    return combine_route(run_descriptor_route(left, right, oracle, definitions), recursion);
}

Emptiness decide_empty_by_descr(const ir::Node& node, Oracle& oracle, std::span<const ir::Node> definitions) {
    bool inexact = false;
    const descr::OptDescr d = descr::descr_of_node(node, definitions, 0, oracle, &inexact);
    if (!d) return Emptiness::Undecided;
    const Emptiness e = bounded_emptiness(*d);
    if (e == Emptiness::Inhabited && (inexact || recursion_cut(node, definitions))) return Emptiness::Undecided;
    return e;
}

RouteCounts route_counts() { return t_route_counts; }

Decision decide_relation(const ir::Node& left, const ir::Node& right, Oracle& oracle,
                         std::span<const ir::Node> definitions, DecisionBudget& budget) {
    try {
        descr::TextMemoScope text_memo;
        DecisionContext ctx{oracle, definitions, budget};
        AssumptionStack stack;
        const Decision structural = decide_subset(left, right, ctx, stack);
        if (structural != Decision::Undecided) {
            ++t_route_counts.structural;
            return structural;
        }
        const Decision by_descr = decide_subset_by_descr(left, right, oracle, definitions);
        ++(by_descr != Decision::Undecided ? t_route_counts.descriptor : t_route_counts.undecided);
        return by_descr;
    } catch (const util::NativeStackExhausted&) {
        ++t_route_counts.undecided;
        return Decision::Undecided;
    }
}

Emptiness decide_emptiness(const ir::Node& node, Oracle& oracle, std::span<const ir::Node> definitions,
                           DecisionBudget& budget) {
    try {
        descr::TextMemoScope text_memo;
        DecisionContext ctx{oracle, definitions, budget};
        const Emptiness structural = decide_inhabited_fresh(node, ctx);
        if (structural != Emptiness::Undecided) return structural;
        return decide_empty_by_descr(node, oracle, definitions);
    } catch (const util::NativeStackExhausted&) {
        return Emptiness::Undecided;
    }
}

}  // namespace tessaron::decide
