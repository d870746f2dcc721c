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
// Invariants: an answer other than undecided rests on a proof of one of the
// two routes; the stand-in route below proves nothing.
//
// Budget: the structural step spends the caller's `DecisionBudget` (both
// directions of an equivalence share one); the descriptor route has budgets
// of its own.  A thread short of native stack (a rewrite or comparison that
// throws NativeStackExhausted, wherever it stops) answers undecided.
#include "core/decide/route.h"

#include "core/decide/include.h"
#include "core/decide/inhabit.h"
#include "core/ir/resolve.h"
#include "core/util/native_stack.h"

namespace tessaron::decide {

RouteOutcome run_descriptor_route(const ir::Node&, const ir::Node&, Oracle&, std::span<const ir::Node>) {
    return RouteOutcome::NoLeft;
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
            break;
    }
    return Decision::Undecided;
}

Decision decide_subset_by_descr(const ir::Node& left, const ir::Node& right, Oracle& oracle,
                                std::span<const ir::Node> definitions) {
    const bool recursion = !definitions.empty() && (ir::has_back_edges(left) || ir::has_back_edges(right));
    return combine_route(run_descriptor_route(left, right, oracle, definitions), recursion);
}

Emptiness decide_empty_by_descr(const ir::Node&, Oracle&, std::span<const ir::Node>) { return Emptiness::Undecided; }

Decision decide_relation(const ir::Node& left, const ir::Node& right, Oracle& oracle,
                         std::span<const ir::Node> definitions, DecisionBudget& budget) {
    try {
        DecisionContext ctx{oracle, definitions, budget};
        AssumptionStack stack;
        const Decision structural = decide_subset(left, right, ctx, stack);
        if (structural != Decision::Undecided) return structural;
        return decide_subset_by_descr(left, right, oracle, definitions);
    } catch (const util::NativeStackExhausted&) {
        return Decision::Undecided;
    }
}

Emptiness decide_emptiness(const ir::Node& node, Oracle& oracle, std::span<const ir::Node> definitions,
                           DecisionBudget& budget) {
    try {
        DecisionContext ctx{oracle, definitions, budget};
        const Emptiness structural = decide_inhabited_fresh(node, ctx);
        if (structural != Emptiness::Undecided) return structural;
        return decide_empty_by_descr(node, oracle, definitions);
    } catch (const util::NativeStackExhausted&) {
        return Emptiness::Undecided;
    }
}

}  // namespace tessaron::decide
