// The facts one decision keeps about its large unions (see union_facts.h).
#include "core/decide/union_facts.h"

#include <algorithm>

#include "core/decide/inhabit.h"
#include "core/ir/construct.h"
#include "core/ir/order.h"

namespace tessaron::decide {

using ir::Node;
using ir::NodeKind;

namespace {

// Writes what node_eq compares, in preorder, until the visits are spent.
// Two equal nodes have the same structure, so the writer takes the same
// path through both and stops at the same place.
class KeyWriter {
public:
    void node(const Node& n) {
        if (visits_ == 0) return;
        --visits_;
        h_.write(static_cast<std::uint64_t>(n.kind));
        switch (n.kind) {
            case NodeKind::Literal:
            case NodeKind::Instance:
            case NodeKind::BackEdge:
            case NodeKind::Placeholder:
                h_.write(n.index);
                break;
            case NodeKind::Sequence:
                h_.write(n.flag);
                list(n.nodes);
                optional(n.child);
                break;
            case NodeKind::Set:
                h_.write(n.flag);
                optional(n.child);
                break;
            case NodeKind::Complement:
                optional(n.child);
                break;
            case NodeKind::Mapping:
                entries(n.entries);
                h_.write(ir::as_span(n.clauses).size());
                for (const ir::Clause& c : ir::as_span(n.clauses)) {
                    node(c.key);
                    node(c.value);
                }
                break;
            case NodeKind::Union:
            case NodeKind::Intersection:
                list(n.nodes);
                break;
            case NodeKind::Object:
                entries(n.entries);
                break;
            case NodeKind::Refined:
                optional(n.child);
                h_.write(ir::as_span(n.constraints).size());
                for (const ir::Constraint& c : ir::as_span(n.constraints)) {
                    h_.write(static_cast<std::uint64_t>(c.kind));
                    if (c.kind == ir::ConstraintKind::Regex)
                        h_.write_bytes(c.pattern);
                    else
                        h_.write(c.value);
                }
                break;
            default:  // anything .. bytes: the kind alone (the Any flag never counts)
                break;
        }
    }

    std::uint64_t finish() const { return h_.finish(); }

private:
    void optional(const ir::SharedNode& child) {
        h_.write(child ? 1 : 0);
        if (child) node(*child);
    }
    void list(const ir::NodeList& nodes) {
        const std::span<const Node> items = ir::as_span(nodes);
        h_.write(items.size());
        for (const Node& m : items) {
            if (visits_ == 0) return;
            node(m);
        }
    }
    void entries(const ir::EntryList& list) {
        const std::span<const ir::RecordEntry> items = ir::as_span(list);
        h_.write(items.size());
        for (const ir::RecordEntry& e : items) {
            if (visits_ == 0) return;
            h_.write_bytes(e.key_view());
            h_.write(e.required ? 1 : 0);
            node(e.value);
        }
    }

    util::FxHasher h_;
    std::uint32_t visits_ = kMemberKeyVisits;
};

// The literal list of `node` (see LiteralList); false when it has none.
// `walked` counts the union members read.
bool collect_literals(const Node& node, LiteralList& out, std::uint64_t& walked) {
    std::optional<std::vector<std::uint64_t>> indices = ir::literal_indices(node, &walked);
    if (!indices) return false;
    out.in_order = std::move(*indices);
    out.sorted = out.in_order;
    if (!std::is_sorted(out.sorted.begin(), out.sorted.end())) std::sort(out.sorted.begin(), out.sorted.end());
    out.sorted.erase(std::unique(out.sorted.begin(), out.sorted.end()), out.sorted.end());
    return true;
}

thread_local UnionWork t_union_work;

}  // namespace

UnionWork union_work() { return t_union_work; }

void count_walked(std::uint64_t n) { t_union_work.literals_walked += n; }

std::uint64_t member_key(const Node& node) {
    KeyWriter w;
    w.node(node);
    return w.finish();
}

UnionFacts::Entry* UnionFacts::entry(const Node& node) {
    if (node.kind != NodeKind::Union || !node.nodes) return nullptr;
    const std::size_t size = node.nodes->size();
    if (size < kIndexedMembers) return nullptr;
    auto it = entries_.find(node.nodes.get());
    if (it != entries_.end()) {
        if (!it->second->handle.expired()) return it->second.get();
        // A dead list's entry at the address of a live one.
        members_held_ -= it->second->members;
        entries_.erase(it);
    }
    if (members_held_ + size > kMaxFactMembers) drop_dead();
    if (members_held_ + size > kMaxFactMembers) return nullptr;
    members_held_ += size;
    auto made = std::make_unique<Entry>();
    made->handle = node.nodes;
    made->members = size;
    Entry* e = made.get();
    entries_.emplace(node.nodes.get(), std::move(made));
    return e;
}

void UnionFacts::drop_dead() {
    boost::unordered::erase_if(entries_, [this](const auto& item) {
        if (!item.second->handle.expired()) return false;
        members_held_ -= item.second->members;
        return true;
    });
}

bool charge_members(DecisionContext& ctx, std::uint64_t n) {
    count_walked(n);
    const std::uint64_t steps = member_steps(n);
    return steps == 0 || ctx.budget.take(steps);
}

bool union_has_member(const Node& u, const Node& x, DecisionContext& ctx) {
    const std::span<const Node> members = ir::as_span(u.members());
    UnionFacts::Entry* e = ctx.facts ? ctx.facts->entry(u) : nullptr;
    if (!e) {
        if (members.size() >= kIndexedMembers) charge_members(ctx, members.size());
        for (const Node& m : members) {
            ++t_union_work.members_compared;
            if (ir::node_eq(m, x)) return true;
        }
        return false;
    }
    if (!e->indexed) {
        charge_members(ctx, members.size());
        e->next.assign(members.size(), 0);
        e->first.reserve(members.size());
        t_union_work.members_compared += members.size();
        // Built from the last member to the first, so that each chain runs
        // in member order.
        for (std::size_t i = members.size(); i-- > 0;) {
            auto [slot, fresh] = e->first.try_emplace(member_key(members[i]), static_cast<std::uint32_t>(i));
            if (!fresh) {
                e->next[i] = slot->second + 1;
                slot->second = static_cast<std::uint32_t>(i);
            }
        }
        e->indexed = true;
    }
    const auto slot = e->first.find(member_key(x));
    if (slot == e->first.end()) return false;
    for (std::uint32_t i = slot->second + 1; i != 0; i = e->next[i - 1]) {
        ++t_union_work.members_compared;
        if (ir::node_eq(members[i - 1], x)) return true;
    }
    return false;
}

const LiteralList* literal_list(const Node& node, UnionFacts* facts, LiteralList& scratch, std::uint64_t& walked) {
    UnionFacts::Entry* e = facts ? facts->entry(node) : nullptr;  // none but for a large union
    if (!e) return collect_literals(node, scratch, walked) ? &scratch : nullptr;
    if (!e->literals_known) {
        LiteralList list;
        if (collect_literals(node, list, walked)) e->literals = std::move(list);
        e->literals_known = true;
    }
    return e->literals ? &*e->literals : nullptr;
}

Answer literal_lists_disjoint(const Node& a, const LiteralList& la, const Node& b, const LiteralList& lb,
                              Oracle& oracle, UnionFacts* facts, std::uint64_t& walked) {
    // The larger side keeps the answer, under the other side's member list;
    // a side that is not a large union has no list to key by.
    const bool a_larger = la.in_order.size() >= lb.in_order.size();
    UnionFacts::Entry* keeper = facts ? facts->entry(a_larger ? a : b) : nullptr;
    const Node& other = a_larger ? b : a;
    UnionFacts::Entry* other_entry = facts && keeper ? facts->entry(other) : nullptr;
    if (keeper && other_entry) {
        const auto it = keeper->disjoint.find(other.nodes.get());
        if (it != keeper->disjoint.end() && !it->second.list.expired()) return it->second.answer;
    }
    // A pool index in both lists is a constant of both: not disjoint, or
    // (a constant unequal to itself) disjoint unprovably; "no" is the
    // answer either way, without a set of the constants.  Looked up from
    // the shorter list in the longer one.
    const std::vector<std::uint64_t>& shorter = a_larger ? lb.sorted : la.sorted;
    const std::vector<std::uint64_t>& longer = a_larger ? la.sorted : lb.sorted;
    walked += shorter.size();
    for (std::uint64_t i : shorter)
        if (std::binary_search(longer.begin(), longer.end(), i)) return Answer::No;
    walked += la.in_order.size() + lb.in_order.size();
    const Answer answer = oracle.literal_sets_disjoint(la.in_order, lb.in_order);
    if (keeper && other_entry)
        keeper->disjoint.insert_or_assign(other.nodes.get(), UnionFacts::Entry::Remembered{other.nodes, answer});
    return answer;
}

bool union_trivially_inhabited(const Node& u, DecisionContext& ctx) {
    UnionFacts::Entry* e = ctx.facts ? ctx.facts->entry(u) : nullptr;
    if (e && e->trivially_inhabited) return *e->trivially_inhabited;
    const std::span<const Node> members = ir::as_span(u.members());
    if (members.size() >= kIndexedMembers) charge_members(ctx, members.size());
    bool found = false;
    for (const Node& m : members)
        if (trivially_inhabited(m)) {
            found = true;
            break;
        }
    if (e) e->trivially_inhabited = found;
    return found;
}

ir::KindMask union_covered_kinds(const Node& u, DecisionContext& ctx) {
    UnionFacts::Entry* e = ctx.facts ? ctx.facts->entry(u) : nullptr;
    if (e && e->covered_known) return e->covered;
    const std::span<const Node> members = ir::as_span(u.members());
    if (members.size() >= kIndexedMembers) charge_members(ctx, members.size());
    ir::KindMask covered;
    for (const Node& m : members)
        if (const std::optional<ir::KindMask> k = ir::whole_kinds(m)) covered |= *k;
    if (e) {
        e->covered = covered;
        e->covered_known = true;
    }
    return covered;
}

}  // namespace tessaron::decide
