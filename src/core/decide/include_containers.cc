// Structural inclusion of containers and refinements.
//
// What it computes: the answers of `decide_subset` for pairs of sequences
// (position by position, tails against tails), mappings (declared keys,
// then undeclared keys, then catch-all clauses), object nodes (attribute
// by attribute), refined nodes (each right constraint implied by the left
// ones; texts narrowed by lengths alone against length bounds, compared by
// their numbers), and fixed-length sequences inside a union of
// fixed-length alternatives (split position by position).
//
// Invariants:
//   * A "not_subset" from these rules names a concrete shape of left value
//     outside the right side (a missing required key, an extra length, a
//     part outside its counterpart); `decide_subset` still checks that the
//     left side is inhabited before it answers "not_subset".
//   * A key of a left record that the right record does not declare must be
//     admitted, with its value, by some right clause: validation accepts
//     the pair through any clause, so the value is tested against the union
//     of the values of every clause whose key schema admits the key, and a
//     clause whose key schema cannot be judged leaves the answer undecided.
//     A record takes a str subclass instance equal to a declared name for
//     that name, so only key schemas that admit every such key count; a
//     literal key schema never does (it admits its constant's exact type).
//   * Refinement rules that compare values (bounds, divisors) apply only
//     where every value has the builtin order and arithmetic
//     (`values_have_builtin_order`): decisions assume the builtin kinds'
//     own comparisons.  A divisor implies another only when both are ints
//     (bools count) no larger than 2**53 in magnitude, or both floats: a
//     float divisor converts an int value, so 2**53 + 1 is a multiple of
//     2.0 but not of 2.
//
// Budget: every comparison of parts is a `decide_subset` call and takes its
// step; within one sequence or mapping comparison a pair equal to the pair
// just compared reuses its answer.  Record keys are looked up with a
// forward cursor over the sorted entry lists.  The fixed-sequence search
// takes one step and one nesting level per call.
#include "core/decide/include_containers.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "core/decide/disjoint.h"
#include "core/decide/inhabit.h"
#include "core/ir/construct.h"
#include "core/ir/order.h"

namespace tessaron::decide {

using ir::Constraint;
using ir::ConstraintKind;
using ir::Node;
using ir::NodeKind;
using ir::RecordEntry;

namespace {

// Asks `decide_subset`, reusing the previous answer ("subset" or
// "undecided", never a refutation) when the pair is equal to the previous
// pair.
class PairMemo {
public:
    PairMemo(DecisionContext& ctx, AssumptionStack& stack) : ctx_(ctx), stack_(stack) {}

    Decision ask(const Node& left, const Node& right) {
        if (last_left_ && last_answer_ != Decision::NotSubset && same(*last_left_, left) && same(*last_right_, right))
            return last_answer_;
        last_answer_ = decide_subset(left, right, ctx_, stack_);
        last_left_ = &left;
        last_right_ = &right;
        return last_answer_;
    }

private:
    static bool same(const Node& a, const Node& b) { return &a == &b || ir::node_eq(a, b); }

    DecisionContext& ctx_;
    AssumptionStack& stack_;
    const Node* last_left_ = nullptr;
    const Node* last_right_ = nullptr;
    Decision last_answer_ = Decision::Undecided;
};

// Look-ups of entries by key bytes.  When the searched list is in ascending
// key order and the keys are asked in ascending order, each look-up walks
// forward from where the previous one stopped; otherwise it scans.
class EntryCursor {
public:
    EntryCursor(std::span<const RecordEntry> searched, std::span<const RecordEntry> asked)
        : entries_(searched), forward_(ascending(searched) && ascending(asked)) {}

    const RecordEntry* find(std::string_view key) {
        if (!forward_) return find_field_by_key(entries_, key);
        while (pos_ < entries_.size() && ir::bytes_cmp(entries_[pos_].key_view(), key) < 0) ++pos_;
        if (pos_ < entries_.size() && entries_[pos_].key_view() == key) return &entries_[pos_];
        return nullptr;
    }

private:
    static bool ascending(std::span<const RecordEntry> entries) {
        for (std::size_t i = 1; i < entries.size(); ++i)
            if (ir::bytes_cmp(entries[i - 1].key_view(), entries[i].key_view()) > 0) return false;
        return true;
    }

    std::span<const RecordEntry> entries_;
    bool forward_;
    std::size_t pos_ = 0;
};

bool is_str_key_schema(const Node& key) { return key.kind == NodeKind::Anything || key.kind == NodeKind::Str; }

// Whether a clause's key schema admits every dict key that a record takes
// for one of its declared names: yes, no (a fresh str subclass instance
// carrying the name is refused), or declined when it cannot be judged.  A
// record takes for a name the exact str and any str subclass instance that
// hashes and compares like it, so no literal admits all of them: a literal
// admits values of its constant's exact type only, whatever its text.  The
// answer depends on no name's text.
Answer key_schema_admits_names(const Node& schema, Oracle& oracle) {
    switch (schema.kind) {
        case NodeKind::Anything:
        case NodeKind::Str:
            return Answer::Yes;
        case NodeKind::Nothing:
        case NodeKind::None:
        case NodeKind::Bool:
        case NodeKind::Int:
        case NodeKind::Float:
        case NodeKind::Bytes:
        case NodeKind::Sequence:
        case NodeKind::Set:
        case NodeKind::Mapping:
        case NodeKind::Literal:
            return Answer::No;
        case NodeKind::Union: {
            bool declined = false;
            for (const Node& m : ir::as_span(schema.members())) {
                const Answer a = key_schema_admits_names(m, oracle);
                if (a == Answer::Yes) return Answer::Yes;
                if (a == Answer::Declined) declined = true;
            }
            return declined ? Answer::Declined : Answer::No;
        }
        case NodeKind::Refined:
            if (schema.inner() && key_schema_admits_names(*schema.inner(), oracle) == Answer::No) return Answer::No;
            return Answer::Declined;
        case NodeKind::Instance:
            if (oracle.kind_within_class(Kind::Str, schema.pool_index()) == Answer::Yes) return Answer::Yes;
            if (oracle.class_overlaps_kind(schema.pool_index(), Kind::Str) == Answer::No) return Answer::No;
            return Answer::Declined;
        default:
            return Answer::Declined;
    }
}

// Pass 1 of the mapping rule: every key the right side declares.
Decision right_entries_pass(std::span<const RecordEntry> lefts, std::span<const ir::Clause> left_clauses,
                            std::span<const RecordEntry> rights, DecisionContext& ctx, AssumptionStack& stack) {
    EntryCursor cursor(lefts, rights);
    PairMemo memo(ctx, stack);
    bool undecided = false;
    for (const RecordEntry& e : rights) {
        const RecordEntry* f = cursor.find(e.key_view());
        if (f) {
            // A left value may lack a key the right side requires.
            if (e.required && !f->required) return Decision::NotSubset;
            const Decision v = memo.ask(f->value, e.value);
            if (v == Decision::NotSubset) return Decision::NotSubset;
            if (v == Decision::Undecided) undecided = true;
            continue;
        }
        if (e.required) return Decision::NotSubset;
        // The key is optional on the right and undeclared on the left: the
        // left clauses that may admit it must keep its value inside.
        for (const ir::Clause& c : left_clauses) {
            const Decision v = memo.ask(c.value, e.value);
            if (is_str_key_schema(c.key)) {
                if (v == Decision::NotSubset) return Decision::NotSubset;
                if (v == Decision::Undecided) undecided = true;
            } else {
                const std::optional<Kind> k = node_builtin_kind(c.key, ctx.oracle);
                if ((!k || *k == Kind::Str) && v != Decision::Subset) undecided = true;
            }
        }
    }
    return undecided ? Decision::Undecided : Decision::Subset;
}

// Pass 2: every key the left side declares and the right side does not.
Decision left_entries_pass(std::span<const RecordEntry> lefts, std::span<const RecordEntry> rights,
                           std::span<const ir::Clause> right_clauses, DecisionContext& ctx, AssumptionStack& stack) {
    // The clauses that admit every key standing for an undeclared name,
    // found at the first such name; one clause that cannot be judged leaves
    // every such name undecided.
    std::vector<Node> admitting;
    bool judged = false, unjudged = false;
    EntryCursor cursor(rights, lefts);
    bool undecided = false;
    for (const RecordEntry& f : lefts) {
        if (cursor.find(f.key_view())) continue;
        if (!judged) {
            judged = true;
            for (const ir::Clause& c : right_clauses) {
                const Answer a = key_schema_admits_names(c.key, ctx.oracle);
                if (a == Answer::Yes) admitting.push_back(c.value);
                if (a == Answer::Declined) unjudged = true;
            }
        }
        if (unjudged) {
            undecided = true;
            continue;
        }
        if (admitting.empty()) {
            // No clause admits every key for the name: a left value carrying
            // it under a fresh str subclass is outside.
            const Emptiness e = decide_inhabited_fresh(f.value, ctx);
            if (e == Emptiness::Empty) continue;
            if (e == Emptiness::Inhabited) return Decision::NotSubset;
            undecided = true;
            continue;
        }
        Decision d;
        if (admitting.size() == 1) {
            d = decide_subset(f.value, admitting.front(), ctx, stack);
        } else {
            Node values;
            values.kind = NodeKind::Union;
            values.nodes = std::make_shared<const std::vector<Node>>(admitting);
            d = decide_subset(f.value, values, ctx, stack);
        }
        if (d == Decision::NotSubset) return Decision::NotSubset;
        if (d == Decision::Undecided) undecided = true;
    }
    return undecided ? Decision::Undecided : Decision::Subset;
}

// Pass 3: every left clause inside one right clause (keys and values).
bool left_clauses_covered(std::span<const ir::Clause> lefts, std::span<const ir::Clause> rights,
                          DecisionContext& ctx, AssumptionStack& stack) {
    for (const ir::Clause& c : lefts) {
        bool covered = false;
        for (const ir::Clause& r : rights) {
            if (decide_subset(c.key, r.key, ctx, stack) == Decision::Subset &&
                decide_subset(c.value, r.value, ctx, stack) == Decision::Subset) {
                covered = true;
                break;
            }
        }
        if (!covered) return false;
    }
    return true;
}

bool is_bound(ConstraintKind k) {
    return k == ConstraintKind::Ge || k == ConstraintKind::Gt || k == ConstraintKind::Le || k == ConstraintKind::Lt;
}

// Whether the bound `q` follows from the left bound `c`.
bool bound_implies(const Constraint& c, const Constraint& q, Oracle& oracle) {
    using K = ConstraintKind;
    const bool lower = q.kind == K::Ge || q.kind == K::Gt;
    if (lower ? (c.kind != K::Ge && c.kind != K::Gt) : (c.kind != K::Le && c.kind != K::Lt)) return false;
    const Order order = oracle.compare(c.value, q.value);
    if (order == Order::Declined) return false;
    // Strictly beyond the right bound, or at it with a bound at least as
    // strict.
    const Order beyond = lower ? Order::Greater : Order::Less;
    if (order == beyond) return true;
    if (order != Order::Equal) return false;
    const bool q_strict = q.kind == K::Gt || q.kind == K::Lt;
    const bool c_strict = c.kind == K::Gt || c.kind == K::Lt;
    return !q_strict || c_strict;
}

// Divisors whose divisibility carries over to every value: both ints (or
// bools) exactly representable as floats, or both floats.
bool divisors_comparable(std::uint64_t a, std::uint64_t b, Oracle& oracle) {
    constexpr std::int64_t kExactFloatInt = std::int64_t{1} << 53;
    auto integral = [&](const LeafInfo& i) {
        return i.tag == LeafInfo::Tag::Bool ||
               (i.tag == LeafInfo::Tag::Int && i.int_value >= -kExactFloatInt && i.int_value <= kExactFloatInt);
    };
    const LeafInfo x = oracle.bound_info(a);
    const LeafInfo y = oracle.bound_info(b);
    if (integral(x) && integral(y)) return true;
    return x.tag == LeafInfo::Tag::Float && y.tag == LeafInfo::Tag::Float;
}

bool constraint_implied(const Constraint& q, std::span<const Constraint> lefts, bool ordered, Oracle& oracle) {
    for (const Constraint& c : lefts)
        if (ir::constraint_eq(c, q)) return true;
    for (const Constraint& c : lefts) {
        switch (q.kind) {
            case ConstraintKind::Ge:
            case ConstraintKind::Gt:
            case ConstraintKind::Le:
            case ConstraintKind::Lt:
                if (ordered && is_bound(c.kind) && bound_implies(c, q, oracle)) return true;
                break;
            case ConstraintKind::MinLen:
                if (c.kind == ConstraintKind::MinLen && c.value >= q.value) return true;
                break;
            case ConstraintKind::MaxLen:
                if (c.kind == ConstraintKind::MaxLen && c.value <= q.value) return true;
                break;
            case ConstraintKind::MultipleOf:
                if (ordered && c.kind == ConstraintKind::MultipleOf && divisors_comparable(q.value, c.value, oracle) &&
                    oracle.divides(q.value, c.value) == Answer::Yes)
                    return true;
                break;
            default:
                break;  // predicates and patterns: only an equal constraint
        }
    }
    return false;
}

}  // namespace

Decision decide_subset_sequences(const Node& left, const Node& right, DecisionContext& ctx, AssumptionStack& stack) {
    std::span<const Node> items = ir::as_span(left.prefix());
    std::span<const Node> targets = ir::as_span(right.prefix());
    const Node* tail = left.tail().get();
    const Node* target_tail = right.tail().get();

    bool same_prefix = left.prefix() == right.prefix();
    if (!same_prefix && items.size() == targets.size()) {
        same_prefix = true;
        for (std::size_t i = 0; i < items.size() && same_prefix; ++i) same_prefix = ir::node_eq(items[i], targets[i]);
    }
    if (same_prefix) {
        if (!tail && !target_tail) return Decision::Subset;
        if (tail && target_tail && (tail == target_tail || ir::node_eq(*tail, *target_tail))) return Decision::Subset;
    }

    // Whether the left tail adds values: an empty tail leaves the left side
    // of fixed length.
    const Emptiness tail_inhabited = tail ? decide_inhabited_fresh(*tail, ctx) : Emptiness::Empty;
    if (items.size() < targets.size()) return Decision::NotSubset;

    PairMemo memo(ctx, stack);
    auto items_inside = [&]() -> Decision {
        bool undecided = false;
        for (std::size_t i = 0; i < items.size(); ++i) {
            const Node& target = i < targets.size() ? targets[i] : *target_tail;
            const Decision d = memo.ask(items[i], target);
            if (d == Decision::NotSubset) return Decision::NotSubset;
            if (d == Decision::Undecided) undecided = true;
        }
        return undecided ? Decision::Undecided : Decision::Subset;
    };

    if (tail && tail_inhabited != Emptiness::Empty) {
        // Longer left values than the right side allows exist, or may.
        if (!target_tail) return tail_inhabited == Emptiness::Inhabited ? Decision::NotSubset : Decision::Undecided;
        const Decision d = items_inside();
        if (d != Decision::Subset) return d;
        return decide_subset(*tail, *target_tail, ctx, stack);
    }
    if (items.size() == targets.size() || target_tail) {
        if (items.empty()) return Decision::Subset;
        return items_inside();
    }
    return Decision::NotSubset;  // more items than the right side allows
}

Decision decide_subset_mappings(const Node& left, const Node& right, DecisionContext& ctx, AssumptionStack& stack) {
    std::span<const RecordEntry> lefts = ir::as_span(left.entries);
    std::span<const RecordEntry> rights = ir::as_span(right.entries);
    std::span<const ir::Clause> left_clauses = ir::as_span(left.clauses);
    std::span<const ir::Clause> right_clauses = ir::as_span(right.clauses);

    const Decision a1 = right_entries_pass(lefts, left_clauses, rights, ctx, stack);
    if (a1 == Decision::NotSubset) return Decision::NotSubset;
    const Decision a2 = left_entries_pass(lefts, rights, right_clauses, ctx, stack);
    if (a2 == Decision::NotSubset) return Decision::NotSubset;
    // An uncovered left clause is no refutation: its pairs may still be
    // admitted by several right clauses together.
    const bool clauses_covered = left_clauses_covered(left_clauses, right_clauses, ctx, stack);
    return a1 == Decision::Subset && a2 == Decision::Subset && clauses_covered ? Decision::Subset : Decision::Undecided;
}

Decision decide_subset_fields(std::span<const RecordEntry> left, std::span<const RecordEntry> right,
                              DecisionContext& ctx, AssumptionStack& stack) {
    bool undecided = false;
    const Node any = Node::anything(false);
    for (const RecordEntry& e : right) {
        const RecordEntry* f = find_field_by_key(left, e.key_view());
        if (e.required && (!f || !f->required)) return Decision::NotSubset;
        // An attribute the left side does not name may be present on a
        // left value with any value at all.
        const Decision v = decide_subset(f ? f->value : any, e.value, ctx, stack);
        if (v == Decision::NotSubset) return Decision::NotSubset;
        if (v == Decision::Undecided) undecided = true;
    }
    return undecided ? Decision::Undecided : Decision::Subset;
}

Decision decide_subset_refined(const Node& left_inner, std::span<const Constraint> left_constraints,
                               const Node& right_inner, std::span<const Constraint> right_constraints,
                               DecisionContext& ctx, AssumptionStack& stack) {
    if (decide_subset(left_inner, right_inner, ctx, stack) != Decision::Subset) return Decision::Undecided;
    // The left values lie in both inner nodes, so either one may vouch for
    // their order.
    const bool ordered =
        values_have_builtin_order(left_inner, ctx.oracle) || values_have_builtin_order(right_inner, ctx.oracle);
    for (const Constraint& q : right_constraints)
        if (!constraint_implied(q, left_constraints, ordered, ctx.oracle)) return Decision::Undecided;
    return Decision::Subset;
}

bool text_length_outside(const Node& left_inner, std::span<const Constraint> left_constraints,
                         std::span<const Constraint> right_constraints) {
    const std::optional<ir::KindMask> kinds = ir::whole_kinds(left_inner);
    const ir::KindMask texts = ir::KindMask(ir::Kind::Str) | ir::KindMask(ir::Kind::Bytes);
    if (!kinds || kinds->empty() || kinds->intersects(~texts)) return false;
    std::uint64_t least = 0, right_least = 0;
    std::optional<std::uint64_t> most, right_most;
    for (const Constraint& c : left_constraints) {
        if (c.kind == ConstraintKind::MinLen)
            least = std::max(least, c.value);
        else if (c.kind == ConstraintKind::MaxLen)
            most = std::min(most.value_or(c.value), c.value);
        else
            return false;  // lengths alone say which texts remain
    }
    // No text is longer than `ir::kMaxLength`: the greatest length a left
    // text can have.
    const std::uint64_t greatest = std::min(most.value_or(ir::kMaxLength), ir::kMaxLength);
    if (greatest < least) return false;  // no text at all
    for (const Constraint& q : right_constraints) {
        if (q.kind == ConstraintKind::MinLen)
            right_least = std::max(right_least, q.value);
        else if (q.kind == ConstraintKind::MaxLen)
            right_most = std::min(right_most.value_or(q.value), q.value);
    }
    // A text of the least length below the right's least, or one of the
    // greatest length above the right's most.
    return least < right_least || (right_most && greatest > *right_most);
}

std::optional<std::vector<Node>> fixed_sequence_items(const Node& sequence) {
    if (sequence.kind != NodeKind::Sequence || sequence.tail()) return std::nullopt;
    std::span<const Node> items = ir::as_span(sequence.prefix());
    return std::vector<Node>(items.begin(), items.end());
}

bool decide_fixed_sequence_in_union(std::span<const Node> items, std::span<const std::vector<Node>> candidates,
                                    DecisionContext& ctx, AssumptionStack& stack) {
    NestingLevel level;
    if (!level.entered() || !ctx.budget.take()) return false;
    for (const Node& item : items)
        if (decide_inhabited_fresh(item, ctx) == Emptiness::Empty) return true;
    if (candidates.empty()) return false;
    if (items.empty()) return true;
    const std::vector<Node>& first = candidates.front();
    if (first.size() != items.size()) return false;
    for (std::size_t j = 0; j < items.size(); ++j) {
        if (decide_subset(items[j], first[j], ctx, stack) == Decision::Subset) continue;
        // The left values outside the first alternative at position j.
        std::vector<Node> rest(items.begin(), items.end());
        rest[j] = ir::intersect_pair(items[j], ir::complement_node(first[j]), ctx.definitions);
        if (!decide_fixed_sequence_in_union(rest, candidates.subspan(1), ctx, stack)) return false;
    }
    return true;
}

const RecordEntry* find_field_by_key(std::span<const RecordEntry> fields, std::string_view key) {
    for (const RecordEntry& f : fields)
        if (f.key_view() == key) return &f;
    return nullptr;
}

}  // namespace tessaron::decide
