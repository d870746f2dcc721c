// Structural disjointness: a proof that two schema nodes share no value.
//
// The test runs through a fixed sequence of rules and answers at the first
// that applies:
//   1. nothing is disjoint from everything;
//   2. two literal sets (a literal, or a union of literals only) are
//      disjoint when the oracle says no constant of one equals one of the
//      other;
//   3. a union on the left is disjoint when every member is;
//   4. two literals are disjoint when the oracle calls them unequal;
//   5. a union on the right is disjoint when every member is;
//   6. two containers of one kind, one of which carries a positive least
//      length somewhere on its refinement chain, are disjoint when their
//      element schemas are (a common value would have an element in both);
//   7. two sequences of one flavour (under their refinements) are
//      disjoint when no length is common to both (one has a fixed length
//      that the other's prefix exceeds or, both fixed, a different one),
//      or when at some position every common value would have, their
//      items there are disjoint;
//   8. two nodes of different builtin kinds are disjoint, except int and
//      bool (every bool is an int); a class is disjoint from a builtin kind
//      when the oracle says its instances never have that kind.
// Every rule only ever answers true on a proof, and a declined oracle
// answer leads to false; so the answer "false" is always safe to give.
//
// Budget: each visited pair of nodes takes one step of the caller's
// counter; inside a decision that counter is drawn from the decision's
// steps, and what the question used is taken from them.  Unions split on
// both sides multiply the member counts of nested unions, so without a
// bound the work is exponential in the nesting; at 0
// steps the current question answers false, and because every rule needs
// its sub-questions to answer true, an exhausted budget makes the whole
// question answer false; so does a thread short of native stack.  Nothing
// is allocated but the literal index lists of rule 2.  Inside a decision
// those lists, and the oracle's answers on two large ones, are kept in
// the call's union facts (union_facts.h), and the literals a list walk or
// an oracle test touches are charged to the steps as well
// (`kMembersPerStep` per step), so a long list is paid for by its length.
#include "core/decide/disjoint.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "core/decide/union_facts.h"
#include "core/ir/construct.h"
#include "core/util/native_stack.h"

namespace tessaron::decide {

using ir::Answer;
using ir::Kind;
using ir::Node;
using ir::NodeKind;
using ir::Oracle;

std::optional<Kind> node_builtin_kind(const Node& node, Oracle& oracle) {
    const Node* n = &node;
    while (n->kind == NodeKind::Refined) {
        if (!n->child) return std::nullopt;
        n = n->child.get();
    }
    switch (n->kind) {
        case NodeKind::None: return Kind::None;
        case NodeKind::Bool: return Kind::Bool;
        case NodeKind::Int: return Kind::Int;
        case NodeKind::Float: return Kind::Float;
        case NodeKind::Str: return Kind::Str;
        case NodeKind::Bytes: return Kind::Bytes;
        case NodeKind::Sequence: return n->flavour() == ir::kFlavourTuple ? Kind::Tuple : Kind::List;
        case NodeKind::Set: return n->flavour() == ir::kFlavourFrozenset ? Kind::Frozenset : Kind::Set;
        case NodeKind::Mapping: return Kind::Dict;
        case NodeKind::Literal: return oracle.constant_kind(n->pool_index());
        default: return std::nullopt;
    }
}

bool has_positive_min_len(const Node& node) {
    for (const Node* n = &node; n && n->kind == NodeKind::Refined; n = n->inner().get())
        for (const ir::Constraint& c : ir::as_span(n->constraints))
            if (c.kind == ir::ConstraintKind::MinLen && c.value > 0) return true;
    return false;
}

namespace {

thread_local std::uint64_t t_disjoint_pairs = 0;

bool int_and_bool(Kind e, Kind h) { return e != h && ir::is_integral_kind(e) && ir::is_integral_kind(h); }

// The sequence node under a refinement chain, or null.  A refinement only
// narrows its inner node, so sequences disjoint there are disjoint here.
const Node* sequence_under(const Node& node) {
    const Node* n = &node;
    while (n->kind == NodeKind::Refined) {
        if (!n->child) return nullptr;
        n = n->child.get();
    }
    return n->kind == NodeKind::Sequence ? n : nullptr;
}

// The item a sequence has at `position`: its prefix item there, past its
// prefix its tail, null when it has no value that long.
const Node* item_at(const Node& sequence, std::size_t position) {
    std::span<const Node> prefix = ir::as_span(sequence.prefix());
    if (position < prefix.size()) return &prefix[position];
    return sequence.tail().get();
}

// A builtin kind against a node without one: disjoint only when the node
// is an instance node whose class never yields values of that kind.
bool class_excludes_kind(const Node& node, Kind kind, Oracle& oracle) {
    return node.kind == NodeKind::Instance && oracle.class_overlaps_kind(node.pool_index(), kind) == Answer::No;
}

// The test itself; `facts`, when present, remembers the literal lists of
// large unions and the oracle's answers on them.
bool disjoint(const Node& a, const Node& b, Oracle& oracle, std::uint32_t& steps, UnionFacts* facts) {
    if (steps == 0 || util::native_stack_low()) return false;
    --steps;
    ++t_disjoint_pairs;

    if (a.kind == NodeKind::Nothing || b.kind == NodeKind::Nothing) return true;

    const bool a_listable = a.kind == NodeKind::Literal || a.kind == NodeKind::Union;
    const bool b_listable = b.kind == NodeKind::Literal || b.kind == NodeKind::Union;
    if (a_listable && b_listable) {
        // Inside a decision (facts present) the walks of the lists and the
        // oracle's test are charged by the literals they touch.
        LiteralList scratch_a, scratch_b;
        std::uint64_t walked = 0;
        std::optional<Answer> answer;
        if (const LiteralList* la = literal_list(a, facts, scratch_a, walked))
            if (const LiteralList* lb = literal_list(b, facts, scratch_b, walked))
                answer = literal_lists_disjoint(a, *la, b, *lb, oracle, facts, walked);
        count_walked(walked);
        if (facts) steps -= static_cast<std::uint32_t>(std::min<std::uint64_t>(steps, member_steps(walked)));
        if (answer == Answer::Yes) return true;
        if (answer == Answer::No) return false;
    }

    if (a.kind == NodeKind::Union) {
        std::span<const Node> members = ir::as_span(a.members());
        if (members.empty()) return false;
        for (const Node& m : members)
            if (!disjoint(m, b, oracle, steps, facts)) return false;
        return true;
    }

    if (a.kind == NodeKind::Literal && b.kind == NodeKind::Literal)
        return oracle.literals_distinct(a.pool_index(), b.pool_index()) == Answer::Yes;

    if (b.kind == NodeKind::Union) {
        std::span<const Node> members = ir::as_span(b.members());
        if (members.empty()) return false;
        for (const Node& m : members)
            if (!disjoint(a, m, oracle, steps, facts)) return false;
        return true;
    }

    const std::optional<Kind> e = node_builtin_kind(a, oracle);
    const std::optional<Kind> h = node_builtin_kind(b, oracle);

    if (has_positive_min_len(a) || has_positive_min_len(b)) {
        // Same known kind, or both unknown.
        if (e == h) {
            const Node* ea = ir::element_schema(a);
            const Node* eb = ir::element_schema(b);
            if (ea && eb && disjoint(*ea, *eb, oracle, steps, facts)) return true;
        }
    }

    // Two sequences of one flavour: a common value has every position
    // below the longer prefix, and an item in both sides' item there.
    const Node* sa = sequence_under(a);
    const Node* sb = sequence_under(b);
    if (sa && sb && sa->flavour() == sb->flavour()) {
        const std::size_t common = std::max(ir::as_span(sa->prefix()).size(), ir::as_span(sb->prefix()).size());
        for (std::size_t i = 0; i < common; ++i) {
            const Node* ia = item_at(*sa, i);
            const Node* ib = item_at(*sb, i);
            if (!ia || !ib) return true;  // no length common to both
            if (disjoint(*ia, *ib, oracle, steps, facts)) return true;
        }
    }

    if (e && h) return *e != *h && !int_and_bool(*e, *h);
    if (e) return class_excludes_kind(b, *e, oracle);
    if (h) return class_excludes_kind(a, *h, oracle);
    return false;
}

}  // namespace

bool nodes_disjoint(const Node& a, const Node& b, Oracle& oracle, std::uint32_t& steps) {
    return disjoint(a, b, oracle, steps, nullptr);
}

bool nodes_disjoint(const Node& a, const Node& b, Oracle& oracle) {
    std::uint32_t steps = kDisjointStepLimit;
    return nodes_disjoint(a, b, oracle, steps);
}

bool nodes_disjoint(const Node& a, const Node& b, DecisionContext& ctx) {
    if (ctx.budget.steps <= 0) return false;
    const std::uint32_t granted =
        std::min<std::uint32_t>(kDisjointStepLimit, static_cast<std::uint32_t>(ctx.budget.steps));
    std::uint32_t steps = granted;
    const bool answer = disjoint(a, b, ctx.oracle, steps, ctx.facts);
    ctx.budget.take(granted - steps);
    return answer;
}

std::uint64_t disjoint_pairs_visited() { return t_disjoint_pairs; }

bool structurally_disjoint(const Node& a, const Node& b, std::uint32_t& steps) {
    ir::NullOracle declines;
    return nodes_disjoint(a, b, declines, steps);
}

}  // namespace tessaron::decide
