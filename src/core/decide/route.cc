// The decision of one public call: structural first, then the descriptor
// route, then the combining rule.
//
// What it computes: `decide_relation` asks `decide_subset` and, only when
// that is undecided, `decide_subset_by_descr`; when both are undecided,
// `decide_subset` of the contrapositive (~right within ~left: the rules
// are not symmetric, so it settles what they leave open, such as a left
// side disjoint from every member of a union under a complement) and the
// structural inhabitation of left & ~right, which proves the inclusion
// only when empty.  The combining rule (`combine_route`): an empty left
// descriptor or an empty meet proves the inclusion; an inhabited meet
// refutes it only when no recursion was cut (with definitions present and
// a back edge or placeholder in either root, the meet may hold a value
// only because a cut reference stood for every value) and neither side is
// a bound; everything else is undecided.  Where the right side gave no
// descriptor as a subset of its values, or the meet was inhabited only
// through a cut or a bound, `refute_by_bounds` converts the sides the
// other way round (the left one as a subset, the right one as a
// superset): an inhabited meet of those refutes whatever was cut or
// bounded.
//
// `decide_emptiness` first reads its schema as inclusions, so that "is
// A & ~B empty?" gets the proof of "is A within B?": a complement ~B is
// empty exactly when anything is within B, and an intersection of members
// M1..Mn exactly when the meet of all members but Mi is within the
// complement of Mi (a complement member's complement being its inner
// node), for any i; with several complement members, also when the meet
// of the others is within the union of their inner nodes.  The questions:
// that union first, then one per member, complement members first, at
// most `kEmptinessQuestions`.  Each is asked of the structural rules both
// ways round (the question and its contrapositive); then the first
// `kEmptinessRoutes` of the descriptor route with its bounds (every
// question's meet is the same set, but each side is converted in a window
// of its own, and an empty side proves a question at once; of the two
// questions of two members, one route).  "subset"
// proves the schema empty,
// "not_subset" (a value of the meet outside the complement) inhabited.
// When none decides, `decide_inhabited` and then `decide_empty_by_descr`
// answer; of an intersection, the latter converts the members one by one
// and meets them in turn, so that it stops at an empty member or partial
// meet even where another member has no descriptor, as the route of "A
// within B" stops at an empty left side without converting B.  What a
// relation decision of A and B proves, the emptiness test of A & ~B
// proves too, within its budget (one for all its questions): its questions
// hold the relation's and its contrapositive, its member-by-member meet
// holds the route's empty left side and its meet, and its structural
// inhabitation is the relation's last step.
//
// The descriptor route converts the left side (Polarity::Above: a superset
// of its values when recursion is cut or a part is bounded); an empty left
// descriptor proves the inclusion without looking at the right side.
// Otherwise the right side is converted with Polarity::Below (a subset of
// its values), complemented, met with the left one, and the meet tested
// for emptiness.  An inhabited meet of a bound (a bounded side) refutes
// nothing: the values found may be the bound's alone.
//
// Invariants: an answer other than undecided rests on a proof of one of the
// routes; the contrapositive's refutation is one of the question itself (a
// value outside ~left is a value of left).  The thread's work budget is
// restored after every window, however it ends.
//
// Budget: the structural steps spend the caller's `DecisionBudget` (both
// directions of an equivalence, and every question an emptiness test asks,
// share one); the descriptor route runs each of its steps in a work window
// of `descr::kWindowUnits`: the two conversions, the emptiness test of the left side
// alone (and of `is_empty`'s schema), and the complement, meet and
// emptiness test together.  A relation decision runs at most two routes
// (the second one converting the sides the other way round), an emptiness
// test at most twice that, before its own conversion of the schema.  A
// pattern is built into an automaton at most once per call (a
// descr::TextMemoScope around it: a caller that asks two directions opens
// one around both), and the builds of one call share a fixed amount of
// pattern work on top of the windows' charges.  The orders, equalities and
// proved verdicts of shared descriptors are kept for the call as well (a
// descr::DecisionMemoScope beside it).  A thread short of native
// stack (a rewrite or comparison that throws NativeStackExhausted,
// wherever it stops) answers undecided.
#include "core/decide/route.h"

#include <vector>

#include "core/descr/budget.h"
#include "core/descr/lines/combine.h"
#include "core/descr/lines/complement.h"
#include "core/descr/convert/convert.h"
#include "core/descr/decision_memo.h"
#include "core/descr/lines/emptiness.h"
#include "core/descr/values/text_memo.h"

#include "core/decide/include.h"
#include "core/decide/inhabit.h"
#include "core/decide/union_facts.h"
#include "core/ir/construct.h"
#include "core/ir/resolve.h"
#include "core/util/native_stack.h"

namespace tessaron::decide {

namespace {

// Descriptor emptiness in a window of its own.
Emptiness bounded_emptiness(const descr::Descr& d) {
    descr::WorkWindow window(descr::kWindowUnits);
    return descr::descr_verdict(d);
}

thread_local RouteCounts t_route_counts;

bool recursion_cut(const ir::Node& node, std::span<const ir::Node> definitions) {
    return !definitions.empty() && ir::has_back_edges(node);
}

// The relation decision itself, uncounted: the structural rules, the
// descriptor route, then the structural rules again on the contrapositive
// (~right within ~left) and structural inhabitation of left & ~right,
// which prove what the rules' asymmetry leaves open (a left side disjoint
// from each member of a union inside a complement on the right).
Decision relation(const ir::Node& left, const ir::Node& right, Oracle& oracle, std::span<const ir::Node> definitions,
                  DecisionBudget& budget, UnionFacts& facts, bool& structural) {
    DecisionContext ctx{oracle, definitions, budget, &facts};
    {
        AssumptionStack stack;
        const Decision d = decide_subset(left, right, ctx, stack);
        structural = d != Decision::Undecided;
        if (structural) return d;
    }
    const Decision by_descr = decide_subset_by_descr(left, right, oracle, definitions);
    if (by_descr != Decision::Undecided) return by_descr;
    const ir::Node outside = ir::complement_node(right);
    {
        AssumptionStack stack;
        const Decision d = decide_subset(outside, ir::complement_node(left), ctx, stack);
        structural = d != Decision::Undecided;
        if (structural) return d;
    }
    structural = decide_inhabited_fresh(ir::intersect_pair(left, outside, definitions), ctx) == Emptiness::Empty;
    return structural ? Decision::Subset : Decision::Undecided;
}

// How many inclusion questions one emptiness test asks at most, and of
// how many of them the descriptor route.
constexpr std::size_t kEmptinessQuestions = 8;
constexpr std::size_t kEmptinessRoutes = 2;

// The inclusion questions an emptiness test asks of `node` (see the essay
// above): none when it is neither a complement nor an intersection.
std::vector<std::pair<ir::Node, ir::Node>> emptiness_questions(const ir::Node& node,
                                                                std::span<const ir::Node> definitions) {
    std::vector<std::pair<ir::Node, ir::Node>> out;
    if (node.kind == ir::NodeKind::Complement) {
        if (node.inner()) out.emplace_back(ir::Node::anything(false), *node.inner());
        return out;
    }
    if (node.kind != ir::NodeKind::Intersection) return out;
    const std::span<const ir::Node> members = ir::as_span(node.members());
    std::vector<std::size_t> order;
    std::vector<ir::Node> positive;
    std::vector<ir::Node> excluded;
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (members[i].kind == ir::NodeKind::Complement && members[i].inner()) {
            order.push_back(i);
            excluded.push_back(*members[i].inner());
        } else {
            positive.push_back(members[i]);
        }
    }
    if (excluded.size() > 1)
        out.emplace_back(ir::intersect_nodes(std::move(positive), definitions),
                         ir::unite_nodes(std::move(excluded), definitions));
    for (std::size_t i = 0; i < members.size(); ++i)
        if (members[i].kind != ir::NodeKind::Complement || !members[i].inner()) order.push_back(i);
    for (const std::size_t i : order) {
        if (out.size() == kEmptinessQuestions) break;
        std::vector<ir::Node> rest;
        rest.reserve(members.size() - 1);
        for (std::size_t j = 0; j < members.size(); ++j)
            if (j != i) rest.push_back(members[j]);
        out.emplace_back(ir::intersect_nodes(std::move(rest), definitions), ir::complement_node(members[i]));
    }
    return out;
}

Emptiness emptiness_of(Decision d) {
    switch (d) {
        case Decision::Subset: return Emptiness::Empty;
        case Decision::NotSubset: return Emptiness::Inhabited;
        case Decision::Undecided: break;
    }
    return Emptiness::Undecided;
}

// The emptiness of `node` read as inclusions (see the essay above): each
// question by the structural rules, both ways round, then the first one
// by the descriptor route (the meet it tests is the same for every
// question); undecided when there is no question or none decides.
Emptiness emptiness_by_inclusion(const ir::Node& node, Oracle& oracle, std::span<const ir::Node> definitions,
                                 DecisionBudget& budget, UnionFacts& facts) {
    const std::vector<std::pair<ir::Node, ir::Node>> questions = emptiness_questions(node, definitions);
    if (questions.empty()) return Emptiness::Undecided;
    DecisionContext ctx{oracle, definitions, budget, &facts};
    for (const auto& [left, right] : questions) {
        for (int way = 0; way < 2; ++way) {
            AssumptionStack stack;
            const Decision d = way == 0 ? decide_subset(left, right, ctx, stack)
                                        : decide_subset(ir::complement_node(right), ir::complement_node(left), ctx, stack);
            if (d != Decision::Undecided) return emptiness_of(d);
        }
    }
    // Of two members, each question is the other's contrapositive: one
    // route serves both.
    const bool pair = node.kind == ir::NodeKind::Intersection && ir::as_span(node.members()).size() == 2;
    for (std::size_t i = 0; i < questions.size() && i < (pair ? 1 : kEmptinessRoutes); ++i) {
        const Emptiness e =
            emptiness_of(decide_subset_by_descr(questions[i].first, questions[i].second, oracle, definitions));
        if (e != Emptiness::Undecided) return e;
    }
    return Emptiness::Undecided;
}

// Descriptor emptiness of an intersection, member by member: each member
// converted in a window of its own (positive members first, then the
// complements), met into the running meet, and the meet tested after each
// member, so that it stops, empty, at the first member or partial meet
// proved empty -- as an inclusion's route stops at an empty left side
// without converting the right one.  A member without a descriptor is left
// out of the meet, which still holds every value of the intersection:
// then only emptiness is proved, and "inhabited" needs every member exact.
Emptiness intersection_empty_by_descr(const ir::Node& node, Oracle& oracle, std::span<const ir::Node> definitions) {
    const std::span<const ir::Node> members = ir::as_span(node.members());
    std::vector<const ir::Node*> order;
    order.reserve(members.size());
    for (const ir::Node& m : members)
        if (m.kind != ir::NodeKind::Complement) order.push_back(&m);
    for (const ir::Node& m : members)
        if (m.kind == ir::NodeKind::Complement) order.push_back(&m);
    bool bounded = false;
    bool partial = false;
    descr::OptDescr meet;
    Emptiness e = Emptiness::Undecided;
    for (const ir::Node* m : order) {
        descr::OptDescr d = descr::descr_bound_of_node(*m, definitions, ir::Polarity::Above, oracle, bounded);
        if (!d) {
            partial = true;
            continue;
        }
        if (meet) {
            descr::WorkWindow window(descr::kWindowUnits);
            d = descr::descr_combine(*meet, *d, descr::SetOp::Intersection);
            if (!d) return Emptiness::Undecided;
        }
        meet = std::move(d);
        e = bounded_emptiness(*meet);
        if (e == Emptiness::Empty) return e;
    }
    if (partial || (e == Emptiness::Inhabited && (bounded || recursion_cut(node, definitions))))
        return Emptiness::Undecided;
    return e;
}

}  // namespace

RouteOutcome run_descriptor_route(const ir::Node& left, const ir::Node& right, Oracle& oracle,
                                  std::span<const ir::Node> definitions) {
    bool bounded = false;
    const descr::OptDescr l = descr::descr_bound_of_node(left, definitions, ir::Polarity::Above, oracle, bounded);
    if (!l) return RouteOutcome::NoLeft;
    if (bounded_emptiness(*l) == Emptiness::Empty) return RouteOutcome::LeftEmpty;
    const descr::OptDescr r = descr::descr_bound_of_node(right, definitions, ir::Polarity::Below, oracle, bounded);
    if (!r) return RouteOutcome::NoRight;
    descr::WorkWindow window(descr::kWindowUnits);
    const descr::OptDescr meet =
        descr::descr_combine(*l, descr::descr_complement(*r), descr::SetOp::Intersection);
    if (!meet) return RouteOutcome::NoMeet;
    switch (descr::descr_verdict(*meet)) {
        case Emptiness::Empty: return RouteOutcome::MeetEmpty;
        case Emptiness::Inhabited: return bounded ? RouteOutcome::MeetInhabitedBounded : RouteOutcome::MeetInhabited;
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
        case RouteOutcome::MeetInhabitedBounded:
            break;
    }
    return Decision::Undecided;
}

Decision refute_by_bounds(const ir::Node& left, const ir::Node& right, Oracle& oracle,
                          std::span<const ir::Node> definitions) {
    bool bounded = false;
    const descr::OptDescr l = descr::descr_bound_of_node(left, definitions, ir::Polarity::Below, oracle, bounded);
    if (!l) return Decision::Undecided;
    const descr::OptDescr r = descr::descr_bound_of_node(right, definitions, ir::Polarity::Above, oracle, bounded);
    if (!r) return Decision::Undecided;
    descr::WorkWindow window(descr::kWindowUnits);
    const descr::OptDescr meet =
        descr::descr_combine(*l, descr::descr_complement(*r), descr::SetOp::Intersection);
    if (!meet) return Decision::Undecided;
    return descr::descr_verdict(*meet) == Emptiness::Inhabited ? Decision::NotSubset : Decision::Undecided;
}

Decision decide_subset_by_descr(const ir::Node& left, const ir::Node& right, Oracle& oracle,
                                std::span<const ir::Node> definitions) {
    const bool recursion = recursion_cut(left, definitions) || recursion_cut(right, definitions);
    const RouteOutcome route = run_descriptor_route(left, right, oracle, definitions);
    const Decision d = combine_route(route, recursion);
    if (d != Decision::Undecided) return d;
    switch (route) {
        case RouteOutcome::NoRight:
        case RouteOutcome::MeetInhabited:
        case RouteOutcome::MeetInhabitedBounded: return refute_by_bounds(left, right, oracle, definitions);
        default: break;
    }
    return Decision::Undecided;
}

Emptiness decide_empty_by_descr(const ir::Node& node, Oracle& oracle, std::span<const ir::Node> definitions) {
    if (node.kind == ir::NodeKind::Intersection) return intersection_empty_by_descr(node, oracle, definitions);
    bool bounded = false;
    const descr::OptDescr d = descr::descr_bound_of_node(node, definitions, ir::Polarity::Above, oracle, bounded);
    if (!d) return Emptiness::Undecided;
    const Emptiness e = bounded_emptiness(*d);
    if (e == Emptiness::Inhabited && (bounded || recursion_cut(node, definitions))) return Emptiness::Undecided;
    return e;
}

RouteCounts route_counts() { return t_route_counts; }

Decision decide_relation(const ir::Node& left, const ir::Node& right, Oracle& oracle,
                         std::span<const ir::Node> definitions, DecisionBudget& budget) {
    try {
        descr::TextMemoScope text_memo;
        descr::DecisionMemoScope descr_memo;
        UnionFacts facts;
        bool structural = false;
        const Decision d = relation(left, right, oracle, definitions, budget, facts, structural);
        ++(structural ? t_route_counts.structural
                      : d != Decision::Undecided ? t_route_counts.descriptor : t_route_counts.undecided);
        return d;
    } catch (const util::NativeStackExhausted&) {
        ++t_route_counts.undecided;
        return Decision::Undecided;
    }
}

Emptiness decide_emptiness(const ir::Node& node, Oracle& oracle, std::span<const ir::Node> definitions,
                           DecisionBudget& budget) {
    try {
        descr::TextMemoScope text_memo;
        descr::DecisionMemoScope descr_memo;
        UnionFacts facts;
        const Emptiness by_inclusion = emptiness_by_inclusion(node, oracle, definitions, budget, facts);
        if (by_inclusion != Emptiness::Undecided) return by_inclusion;
        DecisionContext ctx{oracle, definitions, budget, &facts};
        const Emptiness structural = decide_inhabited_fresh(node, ctx);
        if (structural != Emptiness::Undecided) return structural;
        return decide_empty_by_descr(node, oracle, definitions);
    } catch (const util::NativeStackExhausted&) {
        return Emptiness::Undecided;
    }
}

}  // namespace tessaron::decide
