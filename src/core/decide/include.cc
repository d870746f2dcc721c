// Structural inclusion of schema trees.
//
// What it computes: `decide_subset(L, R)`, whether every value of L is a
// value of R: subset (proved), not a subset (refuted) or undecided.  The question runs through
// a fixed sequence of phases, cheap ones first (identity, whole-kind masks,
// equality, the assumptions, literal lists), then splitting (a union on
// the left, an intersection on the right, an intersection on the left, a
// union on the right), then recursion and the rules by the right side's
// kind (containers and refinements in include_containers.cc), and last the
// kind fallback.  The first phase that answers ends the call.
//
// Invariants:
//   * A phase's answer is one of three outcomes.  "Holds" is returned as
//     subset.  "Refute" is a claim only after the refutation check: L must
//     be shown inhabited (a left side with no value is a subset of
//     anything), so every "not a subset" that leaves `decide_subset` comes
//     with an inhabited left side.  "Undecided" goes to the undecided fallback, which still proves
//     inclusion for an empty left side or a right side covering every kind.
//   * Recursion is coinductive: before a back edge on either side is
//     replaced by its definition, the pair is pushed as an assumption, and
//     a question equal to an assumption on the current path holds.  The
//     stack is restored on every return.
//   * Declined oracle answers never prove and never refute.
//
// Budget: each call takes one step of the call's DecisionBudget (the
// question of a node against itself takes none) and one nesting level for
// its duration; spent steps or a nesting past the limit answer undecided.
// The disjointness tests it asks take a step per node pair they visit
// (disjoint.h), so comparing L with every member of a large union on the
// right, for every member of a large union on the left, is paid for; the
// narrowing of a union compares each member with L structurally once.  The
// assumption look-up is one hash probe in the usual case.  L is found
// among the members of a large union on the right through the call's
// index of that union (union_facts.h), and literal lists are walked once
// per call, their walks charged by their length; fixed-length alternatives
// that differ at one position only are asked about as one sequence.  Nodes made on
// the way (narrowed unions, meets, instance nodes) belong to the call that
// made them.
#include "core/decide/include.h"

#include <algorithm>
#include <cassert>
#include <memory>
#include <optional>

#include "core/decide/disjoint.h"
#include "core/decide/include_containers.h"
#include "core/decide/inhabit.h"
#include "core/decide/union_facts.h"
#include "core/ir/construct.h"
#include "core/ir/order.h"

namespace tessaron::decide {

using ir::kAllKinds;
using ir::Node;
using ir::NodeKind;

// --- assumptions ------------------------------------------------------------

namespace {

void write_shape(const Node& n, util::FxHasher& h) {
    h.write(static_cast<std::uint64_t>(n.kind));
    h.write(n.kind == NodeKind::Anything ? 0 : n.flag);
    h.write(n.index);
    h.write(ir::as_span(n.nodes).size());
    h.write(ir::as_span(n.entries).size());
    h.write(ir::as_span(n.clauses).size());
    h.write(ir::as_span(n.constraints).size());
    h.write(n.child ? 1 : 0);
}

}  // namespace

std::uint64_t node_shape_key(const Node& node) {
    util::FxHasher h;
    write_shape(node, h);
    return h.finish();
}

namespace {

std::uint64_t pair_key(const Node& left, const Node& right) {
    util::FxHasher h;
    write_shape(left, h);
    write_shape(right, h);
    return h.finish();
}

}  // namespace

void AssumptionStack::push(const Node& left, const Node& right) {
    const std::uint64_t key = pair_key(left, right);
    pairs_.push_back(Pair{left, right, key});
    ++key_counts_[key];
}

void AssumptionStack::pop() {
    assert(!pairs_.empty() && "pop without a push");
    if (pairs_.empty()) return;
    const std::uint64_t key = pairs_.back().key;
    pairs_.pop_back();
    auto it = key_counts_.find(key);
    if (--it->second == 0) key_counts_.erase(it);
}

bool AssumptionStack::holds(const Node& left, const Node& right) const {
    if (pairs_.empty()) return false;
    const std::uint64_t key = pair_key(left, right);
    if (!key_counts_.contains(key)) return false;
    for (const Pair& p : pairs_)
        if (p.key == key && ir::node_eq(p.left, left) && ir::node_eq(p.right, right)) return true;
    return false;
}

// --- helpers ----------------------------------------------------------------

namespace {

// Kinds some of whose values lie outside every value of builtin kind k:
// every other kind (int: but bool); for a container kind the scalar kinds.
KindMask outside_kind(Kind k) {
    switch (k) {
        case Kind::None: return ~KindMask(Kind::None);
        case Kind::Bool: return ~KindMask(Kind::Bool);
        case Kind::Int: return ~ir::kIntegralKinds;
        case Kind::Float: return ~KindMask(Kind::Float);
        case Kind::Str: return ~KindMask(Kind::Str);
        case Kind::Bytes: return ~KindMask(Kind::Bytes);
        case Kind::List:
        case Kind::Tuple:
        case Kind::Set:
        case Kind::Frozenset:
        case Kind::Dict:
        case Kind::Other:
            return ir::kScalarKinds;
    }
    return ir::kNoKinds;
}

// The answer for a left side none of whose values lies in the right side
// (or, for a refutation, with some value outside it): a subset exactly
// when it has no value at all.
Decision subset_iff_empty(Emptiness left) {
    switch (left) {
        case Emptiness::Empty: return Decision::Subset;
        case Emptiness::Inhabited: return Decision::NotSubset;
        case Emptiness::Undecided: break;
    }
    return Decision::Undecided;
}

// A refutation stands only for an inhabited left side.
[[gnu::noinline]] Decision refutation_check(const Node& left, DecisionContext& ctx) {
    if (left.kind == NodeKind::Union ? union_trivially_inhabited(left, ctx) : trivially_inhabited(left))
        return Decision::NotSubset;
    return subset_iff_empty(decide_inhabited_fresh(left, ctx));
}

[[gnu::noinline]] Decision undecided_fallback(const Node& left, const Node& right, DecisionContext& ctx) {
    if (decide_inhabited_fresh(left, ctx) == Emptiness::Empty) return Decision::Subset;
    if (right.kind != NodeKind::Union)
        return ir::whole_kinds(right) == kAllKinds ? Decision::Subset : Decision::Undecided;
    return union_covered_kinds(right, ctx) == kAllKinds ? Decision::Subset : Decision::Undecided;
}

// Anything, and the whole kinds int, float, str and bytes.
bool has_infinitely_many_values(const Node& node) {
    switch (node.kind) {
        case NodeKind::Anything:
        case NodeKind::Int:
        case NodeKind::Float:
        case NodeKind::Str:
        case NodeKind::Bytes:
            return true;
        default:
            return false;
    }
}

// Both sides literal lists, or a left side with infinitely many values
// against a literal list.  None when the phase hands on.
[[gnu::noinline]] std::optional<Decision> literal_phase(const Node& left, const Node& right, DecisionContext& ctx) {
    const bool left_listable = left.kind == NodeKind::Literal || left.kind == NodeKind::Union;
    const bool right_listable = right.kind == NodeKind::Literal || right.kind == NodeKind::Union;
    if (right_listable && has_infinitely_many_values(left)) {
        // Infinitely many values never lie within finitely many constants.
        LiteralList scratch;
        std::uint64_t walked = 0;
        const bool finite = literal_list(right, ctx.facts, scratch, walked) != nullptr;
        charge_members(ctx, walked);
        if (finite) return Decision::NotSubset;
    }
    if (!left_listable || !right_listable) return std::nullopt;
    // The lists' walks and the look-ups are charged by the literals they
    // touch; the lists of large unions are built once per call.
    LiteralList left_scratch, right_scratch;
    std::uint64_t walked = 0;
    const LiteralList* lefts = literal_list(left, ctx.facts, left_scratch, walked);
    const LiteralList* rights = lefts ? literal_list(right, ctx.facts, right_scratch, walked) : nullptr;
    if (!rights) {
        charge_members(ctx, walked);
        return std::nullopt;
    }
    std::optional<Decision> answer;
    bool all_found = true;
    for (std::uint64_t i : lefts->in_order) {
        ++walked;
        if (std::binary_search(rights->sorted.begin(), rights->sorted.end(), i)) continue;
        const Answer unequal_to_itself = ctx.oracle.literals_distinct(i, i);
        if (unequal_to_itself == Answer::Yes) continue;  // admits no value
        if (unequal_to_itself == Answer::Declined) {
            all_found = false;
            continue;
        }
        const std::uint64_t one[1] = {i};
        walked += rights->in_order.size();
        if (ctx.oracle.literal_sets_disjoint(one, rights->in_order) == Answer::Yes) answer = Decision::NotSubset;
        all_found = false;
        break;
    }
    charge_members(ctx, walked);
    if (answer) return answer;
    if (all_found) return Decision::Subset;
    return std::nullopt;
}

// A union on the left holds when every member does.
[[gnu::noinline]] Decision left_union(const Node& left, const Node& right, DecisionContext& ctx, AssumptionStack& stack) {
    bool undecided = false;
    for (const Node& m : ir::as_span(left.members())) {
        const Decision d = decide_subset(m, right, ctx, stack);
        if (d == Decision::NotSubset) return Decision::NotSubset;
        if (d == Decision::Undecided) undecided = true;
    }
    return undecided ? Decision::Undecided : Decision::Subset;
}

// An intersection on the right holds when every member does.
[[gnu::noinline]] Decision right_intersection(const Node& left, const Node& right, DecisionContext& ctx, AssumptionStack& stack) {
    bool undecided = false;
    for (const Node& m : ir::as_span(right.members())) {
        const Decision d = decide_subset(left, m, ctx, stack);
        if (d == Decision::NotSubset) return Decision::NotSubset;
        if (d == Decision::Undecided) undecided = true;
    }
    return undecided ? Decision::Undecided : Decision::Subset;
}

// A back edge on the right replaced by its definition, the pair assumed
// meanwhile.
Decision expand_right_back_edge(const Node& left, const Node& right, DecisionContext& ctx, AssumptionStack& stack) {
    if (right.definition() >= ctx.definitions.size()) return Decision::Undecided;
    stack.push(left, right);
    const Decision d = decide_subset(left, ctx.definitions[right.definition()], ctx, stack);
    stack.pop();
    return d;
}

// An intersection on the left.
[[gnu::noinline]] Decision left_intersection(const Node& left, const Node& right, DecisionContext& ctx, AssumptionStack& stack) {
    std::span<const Node> members = ir::as_span(left.members());
    for (const Node& m : members)
        if (decide_subset(m, right, ctx, stack) == Decision::Subset) return Decision::Subset;
    if (right.kind == NodeKind::Union)
        for (const Node& m : ir::as_span(right.members()))
            if (decide_subset(left, m, ctx, stack) == Decision::Subset) return Decision::Subset;
    // A class spelled with its attributes: the class decides.
    if (members.size() == 2) {
        const Node* cls = nullptr;
        const Node* fields = nullptr;
        for (const Node& m : members) {
            if (m.kind == NodeKind::Instance) cls = &m;
            if (m.kind == NodeKind::Object) fields = &m;
        }
        if (cls && fields) {
            if (right.kind == NodeKind::Instance) {
                const Node instance = Node::instance(cls->pool_index());
                if (ctx.oracle.leaf_relation(instance, right) == Answer::No) return Decision::NotSubset;
            }
            if (class_disjoint_from_kinds(right, cls->pool_index(), ctx)) return Decision::NotSubset;
        }
    }
    // A recursive right side: its definition may be a union whose members
    // the intersection meets one by one, as the rules above cannot see.
    if (right.kind == NodeKind::BackEdge) return expand_right_back_edge(left, right, ctx, stack);
    return decide_subset_by_kind(left, right, ctx, stack);
}

// The intersection node of a and b has no value (the meet test of
// `meet_is_empty` without its structural part).
bool empty_intersection(const Node& a, const Node& b, DecisionContext& ctx) {
    return decide_inhabited_fresh(ir::intersect_pair(a, b, ctx.definitions), ctx) == Emptiness::Empty;
}

// A union on the right, when some member refuted L: narrowed to the
// members that can meet L.  `misses[i]` says member i was shown to miss L;
// none when no member misses L or the narrowed question is undecided.
[[gnu::noinline]] std::optional<Decision> narrow_right_union(const Node& left, std::span<const Node> members,
                                                             const std::vector<bool>& misses, DecisionContext& ctx,
                                                             AssumptionStack& stack) {
    if (std::find(misses.begin(), misses.end(), true) == misses.end()) return std::nullopt;
    std::vector<Node> kept;
    for (std::size_t i = 0; i < members.size(); ++i)
        if (!misses[i]) kept.push_back(members[i]);
    Decision d;
    if (kept.empty()) {
        d = subset_iff_empty(decide_inhabited_fresh(left, ctx));
    } else if (kept.size() == 1) {
        d = decide_subset(left, kept.front(), ctx, stack);
    } else {
        Node narrowed;
        narrowed.kind = NodeKind::Union;
        narrowed.nodes = std::make_shared<const std::vector<Node>>(std::move(kept));
        d = decide_subset(left, narrowed, ctx, stack);
    }
    if (d == Decision::Undecided) return std::nullopt;
    return d;
}

// The two narrowings of a union on the right: members that miss L by
// structure alone, then those that miss it by an empty meet.  Each member
// is compared with L structurally once: the second pass keeps the first
// one's findings and meets only the members it left; when it finds no
// more, its narrowed question is the first one's and is not asked again.
std::optional<Decision> narrow_right_union(const Node& left, std::span<const Node> members, DecisionContext& ctx,
                                           AssumptionStack& stack) {
    std::vector<bool> misses(members.size());
    for (std::size_t i = 0; i < members.size(); ++i) misses[i] = nodes_disjoint(left, members[i], ctx);
    if (std::optional<Decision> o = narrow_right_union(left, members, misses, ctx, stack)) return o;
    bool more = false;
    for (std::size_t i = 0; i < members.size(); ++i)
        if (!misses[i] && empty_intersection(left, members[i], ctx)) misses[i] = more = true;
    if (!more) return std::nullopt;
    return narrow_right_union(left, members, misses, ctx, stack);
}

// The union of the alternatives' items at `position`, charged by the
// members gathered.  Literal lists (the usual case: tagged blocks of
// constants) are united as sorted index lists, whose canonical order is
// the order of the indices; anything else through the constructor.
Node united_items(std::span<const std::vector<Node>> alternatives, std::size_t position, DecisionContext& ctx) {
    std::vector<std::uint64_t> indices;
    std::uint64_t walked = 0;
    bool literals = true;
    for (const std::vector<Node>& alternative : alternatives) {
        LiteralList scratch;
        const LiteralList* list = literal_list(alternative[position], ctx.facts, scratch, walked);
        if (!list) {
            literals = false;
            break;
        }
        indices.insert(indices.end(), list->sorted.begin(), list->sorted.end());
    }
    if (literals) {
        walked += indices.size();
        charge_members(ctx, walked);
        std::sort(indices.begin(), indices.end());
        indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
        if (indices.size() == 1) return Node::literal(indices.front());
        std::vector<Node> members;
        members.reserve(indices.size());
        for (std::uint64_t i : indices) members.push_back(Node::literal(i));
        Node u;
        u.kind = NodeKind::Union;
        u.nodes = std::make_shared<const std::vector<Node>>(std::move(members));
        return u;
    }
    std::vector<Node> items;
    items.reserve(alternatives.size());
    for (const std::vector<Node>& alternative : alternatives) {
        const Node& item = alternative[position];
        walked += item.kind == NodeKind::Union ? ir::as_span(item.members()).size() : 1;
        items.push_back(item);
    }
    charge_members(ctx, walked);
    return ir::unite_nodes(std::move(items), ctx.definitions);
}

// Fixed-length alternatives that agree, item for item, everywhere but at
// one position: their union is the one sequence with their common items
// and, at that position, the union of theirs.  Left within it is left
// within those alternatives; when every other member of the right union
// is disjoint from L (`shaped` marks the alternatives and the members of
// their shape already shown disjoint), a refutation of it is one of the
// whole union too.  None when the alternatives are not of that form or
// the question is undecided.  The merged item list is charged by its
// members, each alternative compared with the first by one step.
[[gnu::noinline]] std::optional<Decision> merged_alternatives(const Node& left, std::span<const Node> members,
                                                              const std::vector<bool>& shaped,
                                                              std::span<const std::vector<Node>> alternatives,
                                                              DecisionContext& ctx, AssumptionStack& stack) {
    if (alternatives.size() < 2) return std::nullopt;
    const std::vector<Node>& first = alternatives.front();
    std::optional<std::size_t> differing;
    for (const std::vector<Node>& alternative : alternatives.subspan(1)) {
        if (!ctx.budget.take()) return std::nullopt;
        for (std::size_t j = 0; j < first.size(); ++j) {
            if (ir::node_eq(alternative[j], first[j])) continue;
            if (differing && *differing != j) return std::nullopt;
            differing = j;
        }
    }
    if (!differing) return std::nullopt;
    std::vector<Node> prefix = first;
    prefix[*differing] = united_items(alternatives, *differing, ctx);
    if (ctx.budget.steps <= 0) return std::nullopt;
    const Node merged =
        ir::make_sequence(left.flavour(), std::make_shared<const std::vector<Node>>(std::move(prefix)), nullptr);
    const Decision d = decide_subset(left, merged, ctx, stack);
    if (d == Decision::Subset) return d;
    if (d != Decision::NotSubset) return std::nullopt;
    for (std::size_t i = 0; i < members.size(); ++i)
        if (!shaped[i] && !nodes_disjoint(left, members[i], ctx)) return std::nullopt;
    return d;
}

// A union on the right (L neither a union nor an intersection).
[[gnu::noinline]] Decision right_union(const Node& left, const Node& right, DecisionContext& ctx, AssumptionStack& stack) {
    std::span<const Node> members = ir::as_span(right.members());
    if (union_has_member(right, left, ctx)) return Decision::Subset;
    bool some_refuted = false;
    for (const Node& m : members) {
        const Decision d = decide_subset(left, m, ctx, stack);
        if (d == Decision::Subset) return Decision::Subset;
        some_refuted = some_refuted || d == Decision::NotSubset;
    }
    // A fixed-length sequence against the fixed-length alternatives of its
    // length, split position by position.  An alternative disjoint from L
    // covers none of its values and is left out: the search splits L once
    // per alternative it keeps.
    if (std::optional<std::vector<Node>> items = fixed_sequence_items(left)) {
        std::vector<std::vector<Node>> alternatives;
        std::vector<bool> shaped(members.size());  // an alternative, or of its shape and disjoint from L
        for (std::size_t i = 0; i < members.size(); ++i) {
            const Node& m = members[i];
            if (m.kind != NodeKind::Sequence || m.flavour() != left.flavour() || m.tail() ||
                ir::as_span(m.prefix()).size() != items->size())
                continue;
            shaped[i] = true;
            if (!nodes_disjoint(left, m, ctx))
                alternatives.emplace_back(ir::as_span(m.prefix()).begin(), ir::as_span(m.prefix()).end());
        }
        if (std::optional<Decision> o = merged_alternatives(left, members, shaped, alternatives, ctx, stack))
            return *o;
        if (!alternatives.empty() && decide_fixed_sequence_in_union(*items, alternatives, ctx, stack))
            return Decision::Subset;
    }
    if (some_refuted)
        if (std::optional<Decision> o = narrow_right_union(left, members, ctx, stack)) return *o;
    const Decision d = decide_subset_unfold_left(left, right, ctx, stack);
    if (d == Decision::Subset) return Decision::Subset;
    if (left.kind == NodeKind::Instance && ctx.oracle.leaf_relation(left, right) == Answer::Yes) return Decision::Subset;
    if (d == Decision::NotSubset) return Decision::NotSubset;
    return decide_subset_by_kind(left, right, ctx, stack);
}

// The rules by the kind of the right side.
[[gnu::noinline]] Decision by_right_kind(const Node& left, const Node& right, DecisionContext& ctx, AssumptionStack& stack) {
    switch (right.kind) {
        case NodeKind::Sequence:
            if (left.kind != NodeKind::Sequence) break;
            if (left.flavour() == right.flavour()) return decide_subset_sequences(left, right, ctx, stack);
            return decide_subset_by_kind(left, right, ctx, stack);
        case NodeKind::Set:
            if (left.kind != NodeKind::Set) break;
            if (left.flavour() == right.flavour() && left.element() && right.element())
                return decide_subset(*left.element(), *right.element(), ctx, stack);
            return decide_subset_by_kind(left, right, ctx, stack);
        case NodeKind::Mapping:
            if (left.kind != NodeKind::Mapping) break;
            return decide_subset_mappings(left, right, ctx, stack);
        case NodeKind::Object:
            if (left.kind != NodeKind::Object) break;
            return decide_subset_fields(ir::as_span(left.entries), ir::as_span(right.entries), ctx, stack);
        case NodeKind::Complement: {
            if (!right.inner()) return Decision::Undecided;
            const Node& x = *right.inner();
            if (left.kind == NodeKind::Complement && left.inner())
                return decide_subset(x, *left.inner(), ctx, stack);
            if (meet_is_empty(left, x, ctx)) return Decision::Subset;
            if (decide_subset(left, x, ctx, stack) != Decision::Subset) return Decision::Undecided;
            // L lies inside X: it is inside the complement only when empty.
            return subset_iff_empty(decide_inhabited_fresh(left, ctx));
        }
        case NodeKind::Refined:
            // Texts of a length the right side's bounds exclude.
            if (left.kind == NodeKind::Refined && left.inner()
                    ? text_length_outside(*left.inner(), ir::as_span(left.constraints), ir::as_span(right.constraints))
                    : text_length_outside(left, {}, ir::as_span(right.constraints)))
                return Decision::NotSubset;
            if (left.kind != NodeKind::Refined || !left.inner() || !right.inner()) break;
            if (decide_subset_refined(*left.inner(), ir::as_span(left.constraints), *right.inner(),
                                      ir::as_span(right.constraints), ctx, stack) == Decision::Subset)
                return Decision::Subset;
            return decide_subset_by_kind(left, right, ctx, stack);
        case NodeKind::BackEdge:
            return expand_right_back_edge(left, right, ctx, stack);
        default:
            break;
    }
    if (left.kind == NodeKind::Refined && left.inner() &&
        decide_subset(*left.inner(), right, ctx, stack) == Decision::Subset)
        return Decision::Subset;
    return decide_subset_by_kind(left, right, ctx, stack);
}

[[gnu::noinline]] Decision subset_phases(const Node& left, const Node& right, DecisionContext& ctx, AssumptionStack& stack) {
    const std::optional<KindMask> right_kinds = ir::whole_kinds(right);
    if (right_kinds) {
        if (const std::optional<KindMask> left_kinds = ir::whole_kinds(left))
            return left_kinds->intersects(~*right_kinds) ? Decision::NotSubset : Decision::Subset;
    }
    if (ir::node_eq(left, right)) return Decision::Subset;
    if (stack.holds(left, right)) return Decision::Subset;
    if (std::optional<Decision> o = literal_phase(left, right, ctx)) return *o;
    if (right_kinds == kAllKinds) return Decision::Subset;
    if (left.kind == NodeKind::Union) return left_union(left, right, ctx, stack);
    if (right.kind == NodeKind::Intersection) return right_intersection(left, right, ctx, stack);
    if (left.kind == NodeKind::Intersection) return left_intersection(left, right, ctx, stack);
    if (right.kind == NodeKind::Union) return right_union(left, right, ctx, stack);
    if (left.kind == NodeKind::Refined && left.inner() && ir::as_span(left.constraints).empty())
        return decide_subset(*left.inner(), right, ctx, stack);
    if (right.kind == NodeKind::Refined && right.inner() && ir::as_span(right.constraints).empty())
        return decide_subset(left, *right.inner(), ctx, stack);
    if (left.kind == NodeKind::BackEdge) return decide_subset_unfold_left(left, right, ctx, stack);
    return by_right_kind(left, right, ctx, stack);
}

}  // namespace

// --- entry points -----------------------------------------------------------

Decision decide_subset(const Node& left, const Node& right, DecisionContext& ctx, AssumptionStack& stack) {
    if (&left == &right) return Decision::Subset;
    NestingLevel level;
    if (!level.entered() || !ctx.budget.take()) return Decision::Undecided;
    // A refutation by the phases still asks that the left side be inhabited.
    switch (subset_phases(left, right, ctx, stack)) {
        case Decision::Subset: return Decision::Subset;
        case Decision::NotSubset: return refutation_check(left, ctx);
        case Decision::Undecided: break;
    }
    return undecided_fallback(left, right, ctx);
}

Decision decide_subset_unfold_left(const Node& left, const Node& right, DecisionContext& ctx,
                                   AssumptionStack& stack) {
    if (left.kind == NodeKind::Refined && left.inner() && !ir::as_span(left.constraints).empty())
        return decide_subset(*left.inner(), right, ctx, stack) == Decision::Subset ? Decision::Subset
                                                                                    : Decision::Undecided;
    if (left.kind == NodeKind::BackEdge && left.definition() < ctx.definitions.size()) {
        stack.push(left, right);
        const Decision d = decide_subset(ctx.definitions[left.definition()], right, ctx, stack);
        stack.pop();
        return d;
    }
    return Decision::Undecided;
}

Decision decide_subset_by_kind(const Node& left, const Node& right, DecisionContext& ctx, AssumptionStack& stack) {
    Oracle& oracle = ctx.oracle;
    // An empty container on the left that the right side's least length
    // excludes.
    if (has_positive_min_len(right) &&
        (left.kind == NodeKind::Set || (left.kind == NodeKind::Sequence && ir::element_schema(left))))
        return Decision::NotSubset;
    // Whole kinds on the left that the right side's kind leaves out.
    if (const std::optional<KindMask> left_kinds = ir::whole_kinds(left))
        if (const std::optional<Kind> right_kind = node_builtin_kind(right, oracle))
            if (left_kinds->intersects(outside_kind(*right_kind))) return Decision::NotSubset;
    // A class on the right: whole builtin kinds on the left that are not
    // all instances of it.
    if (right.kind == NodeKind::Instance) {
        const std::uint64_t cls = right.pool_index();
        if (left.kind == NodeKind::Complement && left.inner()) {
            if (const std::optional<Kind> k = node_builtin_kind(*left.inner(), oracle)) {
                // The builtin kinds the complement holds whole.
                const KindMask excluded = ir::is_integral_kind(*k) ? ir::kIntegralKinds : KindMask(*k);
                for (const Kind j : ir::kKinds) {
                    if (j == Kind::Other || excluded.contains(j)) continue;
                    if (oracle.kind_within_class(j, cls) == Answer::No) return Decision::NotSubset;
                }
            }
        } else {
            const std::optional<Kind> k = node_builtin_kind(left, oracle);
            if (k && oracle.kind_within_class(*k, cls) == Answer::No) return Decision::NotSubset;
        }
    }
    if (nodes_disjoint(left, right, ctx)) return Decision::NotSubset;
    const Answer leaf = oracle.leaf_relation(left, right);
    if (leaf == Answer::Yes) return Decision::Subset;
    if (leaf == Answer::No) return Decision::NotSubset;
    if (right.kind == NodeKind::Refined && right.inner())
        return decide_subset(left, *right.inner(), ctx, stack) == Decision::NotSubset ? Decision::NotSubset
                                                                                       : Decision::Undecided;
    return Decision::Undecided;
}

bool meet_is_empty(const Node& a, const Node& b, DecisionContext& ctx) {
    return nodes_disjoint(a, b, ctx) || empty_intersection(a, b, ctx);
}

}  // namespace tessaron::decide
