// Structural inhabitation of schema trees.
//
// What it computes: for one node, whether its set of values is empty,
// inhabited or undecided, together with the whole kinds it admits
// when it is exactly a union of whole kinds.  Scalars and `anything` are
// settled by their kind bits; containers by their required parts (a
// sequence by its prefix items, a record by its required values; the empty
// list, set and dict need nothing); unions, complements and intersections
// by bit arithmetic first, then, for intersections, by joint tests
// (a pure node beside its complement, a disjoint pair, contradictory
// bounds or lengths, incompatible records); recursion by the least fixed
// point: a definition met again on its own path adds no value, since every
// value is finite.
//
// Invariants: an answer is a claim only on a proof.  A declined oracle
// answer, an exhausted step budget, a nesting past the limit, a placeholder
// or a back edge outside the definitions give undecided.  The result of a
// back edge is always inexact, so a complement over recursion is never
// decided by bits (the complement of a least fixed point is not one).  The
// bound contradiction rules apply only where every value has the builtin
// order (`values_have_builtin_order`).  The recursion path is restored on
// every return.
//
// Budget: one step of the call's DecisionBudget per `decide_inhabited`
// call, and one nesting level for its duration; the helpers (bound
// folding, value counts, the syntactic test, the class-kind test) take
// none and recurse only along the tree.  The joint tests of an
// intersection of n members are not quadratic in n where they need not be:
// the complementary pair is looked up by shape key, then in the canonical
// order (O(n) hashes, at most O(n log n) comparisons), and the disjoint pair asks `nodes_disjoint` only of the
// pairs with a literal, union, instance or length-bounded member, the
// others being settled by their kinds in one pass; the pairs it asks take
// their visits from the call's steps.
#include "core/decide/inhabit.h"

#include <algorithm>
#include <bit>
#include <map>
#include <string_view>

#include <boost/unordered/unordered_flat_set.hpp>

#include "core/decide/disjoint.h"
#include "core/decide/include.h"
#include "core/ir/construct.h"
#include "core/ir/order.h"
#include "core/util/fxhash.h"

namespace tessaron::decide {

using ir::Constraint;
using ir::ConstraintKind;
using ir::KindMask;
using ir::kAllKinds;
using ir::kNoKinds;
using ir::Node;
using ir::NodeKind;

namespace {

Inhabitation exact(Emptiness answer, KindMask kinds) { return Inhabitation{answer, false, kinds}; }
Inhabitation inexact(Emptiness answer) { return Inhabitation{answer, true, kNoKinds}; }
Inhabitation inhabited_exact(KindMask kinds) { return exact(Emptiness::Inhabited, kinds); }

// The helpers below marked [[gnu::noinline]] are called from the recursive
// dispatch of `decide_inhabited`, which recurses once per level of schema
// nesting.  Kept out of line, their locals (vectors, spans, masks) live in
// their own frames only while they run, instead of widening the frame that
// every level of the recursion holds on the thread's stack.

// The shared rule of sequence items, record values and object attributes:
// the first empty part makes the whole empty, an undecided part (with none
// empty) makes it undecided.
template <class Parts, class Get>
[[gnu::noinline]] Emptiness all_parts_inhabited(const Parts& parts, Get get, DecisionContext& ctx, RecursionPath& path) {
    bool undecided = false;
    for (const auto& part : parts) {
        const Node* n = get(part);
        if (!n) continue;
        const Emptiness d = decide_inhabited(*n, ctx, path).answer;
        if (d == Emptiness::Empty) return Emptiness::Empty;
        if (d == Emptiness::Undecided) undecided = true;
    }
    return undecided ? Emptiness::Undecided : Emptiness::Inhabited;
}

// Node X is pure when membership in it is a fixed property of the value:
// no recursion reference, no placeholder, no predicate, no class whose
// metaclass overrides the builtin checks.  Then X and its complement share
// no value.
[[gnu::noinline]] bool is_pure(const Node& x, Oracle& oracle) {
    std::vector<const Node*> stack{&x};
    boost::unordered_flat_set<const Node*, util::FxHash> seen;
    while (!stack.empty()) {
        const Node* n = stack.back();
        stack.pop_back();
        if (!seen.insert(n).second) continue;
        switch (n->kind) {
            case NodeKind::BackEdge:
            case NodeKind::Placeholder:
                return false;
            case NodeKind::Refined:
                for (const Constraint& c : ir::as_span(n->constraints))
                    if (c.kind == ConstraintKind::Predicate) return false;
                break;
            case NodeKind::Instance:
                if (oracle.class_atom_is_plain(*n) != Answer::Yes) return false;
                continue;
            default:
                break;
        }
        ir::push_children(*n, stack);
    }
    return true;
}

// Largest MinLen above the smallest MaxLen, or above the greatest length
// any value has: no length satisfies them.
bool lengths_contradict(std::span<const Constraint> cs) {
    bool has_min = false, has_max = false;
    std::uint64_t min_len = 0, max_len = UINT64_MAX;
    for (const Constraint& c : cs) {
        if (c.kind == ConstraintKind::MinLen) {
            has_min = true;
            min_len = std::max(min_len, c.value);
        } else if (c.kind == ConstraintKind::MaxLen) {
            has_max = true;
            max_len = std::min(max_len, c.value);
        }
    }
    return has_min && (min_len > ir::kMaxLength || (has_max && min_len > max_len));
}

// Folded bounds that no value (of the builtin order) satisfies.  `integral`
// says the values are bools or ints, so an interval without an integer is
// empty too.
bool bounds_contradict(const FoldedBounds& b, bool integral, Oracle& oracle) {
    if (b.lower_state == BoundState::Absent || b.upper_state == BoundState::Absent) return false;
    const Order c = oracle.compare(b.lower, b.upper);
    if (c == Order::Greater) return true;
    const bool some_exclusive =
        b.lower_state == BoundState::Exclusive || b.upper_state == BoundState::Exclusive;
    if (c == Order::Equal) return some_exclusive;
    return integral && oracle.integer_interval_empty(b.lower, b.lower_state == BoundState::Exclusive, b.upper,
                                                     b.upper_state == BoundState::Exclusive) == Answer::Yes;
}

// The node's builtin kind is bool or int (a literal counts as kindless).
bool is_integral_node(const Node& node) {
    NullOracle no_literal_kinds;
    const std::optional<Kind> k = node_builtin_kind(node, no_literal_kinds);
    return k && ir::is_integral_kind(*k);
}

[[gnu::noinline]] Inhabitation inhabited_union(const Node& node, DecisionContext& ctx, RecursionPath& path) {
    Inhabitation acc = exact(Emptiness::Empty, kNoKinds);
    for (const Node& m : ir::as_span(node.members())) {
        const Inhabitation w = decide_inhabited(m, ctx, path);
        if (w.answer == Emptiness::Inhabited)
            acc.answer = Emptiness::Inhabited;
        else if (w.answer == Emptiness::Undecided && acc.answer == Emptiness::Empty)
            acc.answer = Emptiness::Undecided;
        acc.kinds |= w.kinds;
        acc.inexact = acc.inexact || w.inexact;
        // Once the answer is no longer "empty" and the bits are already
        // meaningless, later members cannot make it more precise.
        if (acc.answer != Emptiness::Empty && acc.inexact) return acc;
    }
    return acc;
}

[[gnu::noinline]] Inhabitation inhabited_complement(const Node& node, DecisionContext& ctx, RecursionPath& path) {
    if (!node.inner()) return inexact(Emptiness::Undecided);
    const Inhabitation w = decide_inhabited(*node.inner(), ctx, path);
    if (w.inexact) return inexact(Emptiness::Undecided);
    const KindMask kinds = ~w.kinds;
    return exact(kinds.empty() ? Emptiness::Empty : Emptiness::Inhabited, kinds);
}

// Records met in one intersection: a value has every key some member
// requires, and its value there lies in every member's schema for that key;
// a closed record (no clauses) admits no key it does not declare.
[[gnu::noinline]] bool records_contradict(std::span<const Node> members, DecisionContext& ctx) {
    std::size_t mappings = 0;
    for (const Node& m : members) mappings += m.kind == NodeKind::Mapping;
    if (mappings < 2) return false;
    struct KeyUse {
        bool required = false;
        std::vector<const Node*> values;  // one per declaring member, member order
    };
    std::map<std::string_view, KeyUse> keys;
    for (const Node& m : members) {
        if (m.kind != NodeKind::Mapping) continue;
        for (const ir::RecordEntry& e : ir::as_span(m.entries)) {
            KeyUse& use = keys[e.key_view()];
            use.required = use.required || e.required;
            use.values.push_back(&e.value);
        }
    }
    for (const auto& [key, use] : keys) {
        if (!use.required) continue;
        if (use.values.size() >= 2) {
            std::vector<Node> values;
            values.reserve(use.values.size());
            for (const Node* v : use.values) values.push_back(*v);
            Node meet;
            meet.kind = NodeKind::Intersection;
            meet.nodes = std::make_shared<const std::vector<Node>>(std::move(values));
            RecursionPath fresh;
            if (decide_inhabited(meet, ctx, fresh).answer == Emptiness::Empty) return true;
        }
        for (const Node& m : members) {
            if (m.kind != NodeKind::Mapping || !ir::as_span(m.clauses).empty()) continue;
            bool declares = false;
            for (const ir::RecordEntry& e : ir::as_span(m.entries))
                if (e.key_view() == key) {
                    declares = true;
                    break;
                }
            if (!declares) return true;
        }
    }
    return false;
}

thread_local std::uint64_t t_member_comparisons = 0;

// node_eq and node_cmp of two members of an intersection, counted.
bool counted_eq(const Node& a, const Node& b) {
    ++t_member_comparisons;
    return ir::node_eq(a, b);
}
bool counted_less(const Node* a, const Node* b) {
    ++t_member_comparisons;
    return ir::node_cmp(*a, *b) < 0;
}

// A pure member X beside its complement.  A few members are scanned
// directly.  With more, a complement's inner node is first looked up by
// its shape key (include.h) among the members' keys, which settles most
// of them without comparing nodes; the others are looked up by binary
// search in the canonical order, in which the constructors keep the
// members (a sorted copy is made only for an intersection built
// directly).  So n members cost O(n) hashes and at most O(n log n)
// comparisons, not n^2.
[[gnu::noinline]] bool has_complement_partner(std::span<const Node> members, Oracle& oracle) {
    constexpr std::size_t kScanned = 16;
    if (std::none_of(members.begin(), members.end(), [](const Node& m) { return m.kind == NodeKind::Complement; }))
        return false;
    const bool scan = members.size() <= kScanned;
    boost::unordered_flat_set<std::uint64_t, util::FxHash> keys;
    if (!scan)
        for (const Node& m : members) keys.insert(node_shape_key(m));
    std::vector<const Node*> sorted;
    for (const Node& m : members) {
        if (m.kind != NodeKind::Complement || !m.inner()) continue;
        const Node& x = *m.inner();
        if (!scan && !keys.contains(node_shape_key(x))) continue;
        if (!scan && sorted.empty()) {
            sorted.reserve(members.size());
            for (const Node& n : members) sorted.push_back(&n);
            if (!std::is_sorted(sorted.begin(), sorted.end(), counted_less))
                std::sort(sorted.begin(), sorted.end(), counted_less);
        }
        bool partner = false;
        if (scan) {
            for (const Node& other : members)
                if (counted_eq(other, x)) {
                    partner = true;
                    break;
                }
        } else {
            partner = std::binary_search(sorted.begin(), sorted.end(), &x, counted_less);
        }
        if (partner && is_pure(x, oracle)) return true;
    }
    return false;
}

// Two members without a common value (`nodes_disjoint`, for some pair).
// A member that is neither nothing, a literal, a union nor an instance
// node, and carries no positive least length, meets the disjointness test
// of another such member only through its kind rule: the two are disjoint
// exactly when both have a builtin kind and the kinds differ, int and bool
// excepted.  Those pairs are settled by the kinds present, in one pass;
// only the pairs with some other member are asked, each once, and their
// visits are charged to the decision's steps.
[[gnu::noinline]] bool some_pair_disjoint(std::span<const Node> members, DecisionContext& ctx) {
    std::uint32_t plain_kinds = 0;  // bit k: a plain member of builtin kind k
    std::vector<bool> plain(members.size());
    for (std::size_t i = 0; i < members.size(); ++i) {
        const Node& m = members[i];
        const bool simple = m.kind != NodeKind::Nothing && m.kind != NodeKind::Literal &&
                            m.kind != NodeKind::Union && m.kind != NodeKind::Instance && !has_positive_min_len(m);
        if (!simple) continue;
        plain[i] = true;
        if (const std::optional<Kind> k = node_builtin_kind(m, ctx.oracle))
            plain_kinds |= std::uint32_t{1} << static_cast<unsigned>(*k);
    }
    constexpr std::uint32_t kIntegral =
        (std::uint32_t{1} << static_cast<unsigned>(Kind::Bool)) | (std::uint32_t{1} << static_cast<unsigned>(Kind::Int));
    if (std::popcount(plain_kinds) >= 2 && plain_kinds != kIntegral) return true;
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (plain[i]) continue;
        for (std::size_t j = 0; j < members.size(); ++j) {
            // A pair of two such members is asked once, from its first.
            if (j == i || (j < i && !plain[j])) continue;
            if (nodes_disjoint(members[std::min(i, j)], members[std::max(i, j)], ctx)) return true;
        }
    }
    return false;
}

// The joint tests of an intersection whose members alone did not decide.
[[gnu::noinline]] bool intersection_contradicts(const Node& node, DecisionContext& ctx) {
    std::span<const Node> members = ir::as_span(node.members());
    Oracle& oracle = ctx.oracle;
    if (has_complement_partner(members, oracle)) return true;
    if (some_pair_disjoint(members, ctx)) return true;
    // Refinements that no length, or no value of the builtin order,
    // satisfies together.
    std::vector<Constraint> gathered;
    bool integral = false;
    for (const Node& m : members) {
        if (m.kind == NodeKind::Refined)
            for (const Constraint& c : ir::as_span(m.constraints)) gathered.push_back(c);
        integral = integral || is_integral_node(m);
    }
    if (!gathered.empty()) {
        if (lengths_contradict(gathered)) return true;
        if (values_have_builtin_order(node, oracle) && bounds_contradict(fold_bounds(gathered, oracle), integral, oracle))
            return true;
    }
    return records_contradict(members, ctx);
}

[[gnu::noinline]] Inhabitation inhabited_intersection(const Node& node, DecisionContext& ctx, RecursionPath& path) {
    std::span<const Node> members = ir::as_span(node.members());
    Emptiness u = Emptiness::Inhabited;
    KindMask kinds = kAllKinds;
    bool any_inexact = false;
    bool some_empty = false;
    for (const Node& m : members) {
        const Inhabitation w = decide_inhabited(m, ctx, path);
        any_inexact = any_inexact || w.inexact;
        kinds &= w.kinds;
        if (w.answer == Emptiness::Empty) some_empty = true;
        if (w.answer != Emptiness::Inhabited && u != Emptiness::Empty) u = w.answer;
        if (some_empty && any_inexact) return inexact(Emptiness::Empty);
    }
    if (some_empty) return exact(Emptiness::Empty, kinds);
    if (!any_inexact && kinds.empty()) return exact(Emptiness::Empty, kNoKinds);
    if (intersection_contradicts(node, ctx)) return Inhabitation{Emptiness::Empty, any_inexact, kinds};
    if (members.size() == 2) {
        const bool instance_and_object =
            (members[0].kind == NodeKind::Instance && members[1].kind == NodeKind::Object) ||
            (members[0].kind == NodeKind::Object && members[1].kind == NodeKind::Instance);
        if (instance_and_object) return Inhabitation{u, any_inexact, kinds};
    }
    return Inhabitation{any_inexact ? Emptiness::Undecided : Emptiness::Inhabited, any_inexact, kinds};
}

[[gnu::noinline]] Inhabitation inhabited_back_edge(const Node& node, DecisionContext& ctx, RecursionPath& path) {
    const std::uint64_t d = node.definition();
    if (std::find(path.begin(), path.end(), d) != path.end()) return inexact(Emptiness::Empty);
    if (d >= ctx.definitions.size()) return inexact(Emptiness::Undecided);
    path.push_back(d);
    const Emptiness answer = decide_inhabited(ctx.definitions[d], ctx, path).answer;
    path.pop_back();
    return inexact(answer);
}

[[gnu::noinline]] Inhabitation inhabited_by_kind(const Node& node, DecisionContext& ctx, RecursionPath& path) {
    switch (node.kind) {
        case NodeKind::Anything: return inhabited_exact(kAllKinds);
        case NodeKind::Nothing: return exact(Emptiness::Empty, kNoKinds);
        case NodeKind::None: return inhabited_exact(Kind::None);
        case NodeKind::Bool: return inhabited_exact(Kind::Bool);
        case NodeKind::Int: return inhabited_exact(ir::kIntegralKinds);
        case NodeKind::Float: return inhabited_exact(Kind::Float);
        case NodeKind::Str: return inhabited_exact(Kind::Str);
        case NodeKind::Bytes: return inhabited_exact(Kind::Bytes);
        case NodeKind::Literal: {
            const Answer distinct = ctx.oracle.literals_distinct(node.pool_index(), node.pool_index());
            if (distinct == Answer::No) return inexact(Emptiness::Inhabited);
            return inexact(distinct == Answer::Yes ? Emptiness::Empty : Emptiness::Undecided);
        }
        case NodeKind::Sequence:
            return inexact(all_parts_inhabited(ir::as_span(node.prefix()), [](const Node& n) { return &n; }, ctx, path));
        case NodeKind::Set: return inexact(Emptiness::Inhabited);
        case NodeKind::Mapping:
        case NodeKind::Object:
            return inexact(all_parts_inhabited(
                ir::as_span(node.entries), [](const ir::RecordEntry& e) { return e.required ? &e.value : nullptr; },
                ctx, path));
        case NodeKind::Union: return inhabited_union(node, ctx, path);
        case NodeKind::Intersection: return inhabited_intersection(node, ctx, path);
        case NodeKind::Complement: return inhabited_complement(node, ctx, path);
        case NodeKind::Instance:
            return inexact(ctx.oracle.class_atom_is_plain(node) == Answer::Yes ? Emptiness::Inhabited
                                                                               : Emptiness::Undecided);
        case NodeKind::Refined: {
            if (!node.inner()) return inexact(Emptiness::Undecided);
            if (ir::as_span(node.constraints).empty()) return decide_inhabited(*node.inner(), ctx, path);
            if (node.inner()->kind != NodeKind::Refined)
                return inexact(decide_refined_inhabited(*node.inner(), ir::as_span(node.constraints), ctx, path));
            // A refinement of a refinement: its values satisfy the
            // constraints of the whole chain over the innermost node.
            std::vector<Constraint> chain;
            const Node* inner = &node;
            for (; inner->kind == NodeKind::Refined && inner->inner(); inner = inner->inner().get())
                for (const Constraint& c : ir::as_span(inner->constraints)) chain.push_back(c);
            return inexact(decide_refined_inhabited(*inner, chain, ctx, path));
        }
        case NodeKind::BackEdge: return inhabited_back_edge(node, ctx, path);
        case NodeKind::Placeholder: return inexact(Emptiness::Undecided);
    }
    return inexact(Emptiness::Undecided);
}

}  // namespace

std::uint64_t member_comparisons() { return t_member_comparisons; }

Inhabitation decide_inhabited(const Node& node, DecisionContext& ctx, RecursionPath& path) {
    NestingLevel level;
    if (!level.entered() || !ctx.budget.take()) return inexact(Emptiness::Undecided);
    return inhabited_by_kind(node, ctx, path);
}

Emptiness decide_inhabited_fresh(const Node& node, DecisionContext& ctx) {
    RecursionPath path;
    return decide_inhabited(node, ctx, path).answer;
}

Emptiness decide_refined_inhabited(const Node& inner, std::span<const Constraint> constraints, DecisionContext& ctx,
                                   RecursionPath& path) {
    if (decide_inhabited(inner, ctx, path).answer == Emptiness::Empty) return Emptiness::Empty;
    if (lengths_contradict(constraints)) return Emptiness::Empty;
    const FoldedBounds bounds = fold_bounds(constraints, ctx.oracle);
    const bool ordered = values_have_builtin_order(inner, ctx.oracle);
    if (ordered && bounds_contradict(bounds, is_integral_node(inner), ctx.oracle)) return Emptiness::Empty;

    if (inner.kind == NodeKind::Int) {
        for (const Constraint& c : constraints)
            if (c.kind != ConstraintKind::Ge && c.kind != ConstraintKind::Gt && c.kind != ConstraintKind::Le &&
                c.kind != ConstraintKind::Lt)
                return Emptiness::Undecided;
        if (!bounds.all_answered) return Emptiness::Undecided;
        const bool has_lower = bounds.lower_state != BoundState::Absent;
        const bool has_upper = bounds.upper_state != BoundState::Absent;
        if (!has_lower && !has_upper) return Emptiness::Inhabited;
        Answer answer;
        if (has_lower && has_upper) {
            answer = ctx.oracle.integer_interval_empty(bounds.lower, bounds.lower_state == BoundState::Exclusive,
                                                       bounds.upper, bounds.upper_state == BoundState::Exclusive);
        } else {
            // One bound: an integer at that bound shows the open side has
            // integers too.
            const std::uint64_t b = has_lower ? bounds.lower : bounds.upper;
            answer = ctx.oracle.integer_interval_empty(b, false, b, false);
        }
        return answer == Answer::No ? Emptiness::Inhabited : Emptiness::Undecided;
    }

    for (const Constraint& c : constraints)
        if (c.kind != ConstraintKind::MinLen && c.kind != ConstraintKind::MaxLen) return Emptiness::Undecided;
    if (inner.kind == NodeKind::Str || inner.kind == NodeKind::Bytes) return Emptiness::Inhabited;
    const Node* element = nullptr;
    if (inner.kind == NodeKind::Set)
        element = inner.element().get();
    else if (inner.kind == NodeKind::Sequence && ir::as_span(inner.prefix()).empty())
        element = inner.tail().get();
    if (!element) return Emptiness::Undecided;
    std::uint64_t least_length = 0;
    for (const Constraint& c : constraints)
        if (c.kind == ConstraintKind::MinLen) least_length = std::max(least_length, c.value);
    if (least_length == 0) return Emptiness::Inhabited;
    if (inner.kind == NodeKind::Sequence) return decide_inhabited(*element, ctx, path).answer;
    const ValueCount count = value_count_bounds(*element, ctx);
    if (count.most < least_length) return Emptiness::Empty;
    if (count.least < least_length) return Emptiness::Undecided;
    return Emptiness::Inhabited;
}

FoldedBounds fold_bounds(std::span<const Constraint> constraints, Oracle& oracle) {
    FoldedBounds b;
    for (const Constraint& c : constraints) {
        const bool lower = c.kind == ConstraintKind::Ge || c.kind == ConstraintKind::Gt;
        const bool upper = c.kind == ConstraintKind::Le || c.kind == ConstraintKind::Lt;
        if (!lower && !upper) continue;
        const bool exclusive = c.kind == ConstraintKind::Gt || c.kind == ConstraintKind::Lt;
        std::uint64_t& index = lower ? b.lower : b.upper;
        BoundState& state = lower ? b.lower_state : b.upper_state;
        if (state == BoundState::Absent) {
            index = c.value;
            state = exclusive ? BoundState::Exclusive : BoundState::Inclusive;
            continue;
        }
        const Order order = oracle.compare(c.value, index);
        if (order == Order::Declined) {
            b.all_answered = false;
        } else if (order == Order::Equal) {
            if (exclusive) state = BoundState::Exclusive;
        } else if ((order == Order::Greater) == lower) {
            // Greater for a lower bound, smaller for an upper one: tighter.
            index = c.value;
            state = exclusive ? BoundState::Exclusive : BoundState::Inclusive;
        }
    }
    return b;
}

ValueCount value_count_bounds(const Node& node, DecisionContext& ctx) {
    constexpr std::uint64_t kInf = ValueCount::kInfinite;
    switch (node.kind) {
        case NodeKind::Anything:
        case NodeKind::Int:
        case NodeKind::Float:
        case NodeKind::Str:
        case NodeKind::Bytes:
            return ValueCount{kInf, kInf};
        case NodeKind::None: return ValueCount{1, 1};
        case NodeKind::Bool: return ValueCount{2, 2};
        case NodeKind::Nothing: return ValueCount{0, 0};
        case NodeKind::Literal: {
            const Answer distinct = ctx.oracle.literals_distinct(node.pool_index(), node.pool_index());
            if (distinct == Answer::No) return ValueCount{1, 1};
            if (distinct == Answer::Yes) return ValueCount{0, 0};
            return ValueCount{0, kInf};
        }
        case NodeKind::Set: return ValueCount{1, kInf};
        case NodeKind::Union: {
            std::span<const Node> members = ir::as_span(node.members());
            ValueCount total{0, 0};
            for (const Node& m : members) {
                const ValueCount c = value_count_bounds(m, ctx);
                total.least = std::max(total.least, c.least);
                total.most = (total.most == kInf || c.most == kInf || c.most > kInf - total.most) ? kInf
                                                                                                   : total.most + c.most;
            }
            return total;
        }
        default:
            return ValueCount{0, kInf};
    }
}

bool trivially_inhabited(const Node& node) {
    switch (node.kind) {
        case NodeKind::Anything:
        case NodeKind::None:
        case NodeKind::Bool:
        case NodeKind::Int:
        case NodeKind::Float:
        case NodeKind::Str:
        case NodeKind::Bytes:
        case NodeKind::Set:
            return true;
        case NodeKind::Sequence: return ir::as_span(node.prefix()).empty();
        case NodeKind::Mapping:
            for (const ir::RecordEntry& e : ir::as_span(node.entries))
                if (e.required) return false;
            return true;
        case NodeKind::Union:
            for (const Node& m : ir::as_span(node.members()))
                if (trivially_inhabited(m)) return true;
            return false;
        default:
            return false;
    }
}

bool class_disjoint_from_kinds(const Node& r, std::uint64_t class_index, DecisionContext& ctx) {
    if (r.kind == NodeKind::Union) {
        std::span<const Node> members = ir::as_span(r.members());
        if (members.empty()) return false;
        for (const Node& m : members)
            if (!class_disjoint_from_kinds(m, class_index, ctx)) return false;
        return true;
    }
    const Node* target = &r;
    if (r.kind == NodeKind::BackEdge) {
        if (r.definition() >= ctx.definitions.size()) return false;
        target = &ctx.definitions[r.definition()];
    }
    const std::optional<Kind> k = node_builtin_kind(*target, ctx.oracle);
    return k && ctx.oracle.class_produces_kind(class_index, *k) == Answer::No;
}

bool values_have_builtin_order(const Node& node, Oracle& oracle) {
    switch (node.kind) {
        case NodeKind::Bool:
        case NodeKind::Int:
        case NodeKind::Float:
        case NodeKind::Str:
        case NodeKind::Bytes:
        case NodeKind::Set:
        case NodeKind::Nothing:
            return true;
        case NodeKind::Literal: {
            const std::optional<Kind> k = oracle.constant_kind(node.pool_index());
            return k && *k != Kind::None && ir::kScalarKinds.contains(*k);
        }
        case NodeKind::Refined: return node.inner() && values_have_builtin_order(*node.inner(), oracle);
        case NodeKind::Union: {
            std::span<const Node> members = ir::as_span(node.members());
            for (const Node& m : members)
                if (!values_have_builtin_order(m, oracle)) return false;
            return true;
        }
        case NodeKind::Intersection:
            for (const Node& m : ir::as_span(node.members()))
                if (values_have_builtin_order(m, oracle)) return true;
            return false;
        default:
            return false;
    }
}

}  // namespace tessaron::decide
