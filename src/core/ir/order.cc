// Canonical order and structural equality of nodes and constraints.
//
// The order: tags first (unsigned, anything 0 to placeholder 19); within a
// tag, the fields in order -- flavour, then lists element by element with
// the shorter list first when it is a beginning of the other, then optional
// tails (absent first).  Entries order by key bytes, value, then required
// flag; clauses by key, then value; constraints by variant, then payload
// (pattern bytes for Regex, the unsigned word otherwise).  The Any flag is
// never looked at.
//
// Equality follows the same fields and short-cuts on identity: a shared
// child or list is equal to itself without being looked into, which makes
// comparing shared subtrees constant-time.  The order takes the same
// short-cut (a node always compares equal to itself, so this changes no
// answer and keeps sorting linear in the distinct structure).
//
// Both recurse once per level of the trees compared; the trees that reach
// them are bounded in depth by the builder and finalisation, and a thread
// short of native stack stops them with NativeStackExhausted.
#include "core/ir/order.h"

#include <cstring>

#include "core/util/native_stack.h"

namespace tessaron::ir {
namespace {

int sign(int v) { return (v > 0) - (v < 0); }

int u64_cmp(std::uint64_t a, std::uint64_t b) { return (a > b) - (a < b); }

int shared_node_cmp(const SharedNode& a, const SharedNode& b) {
    if (a == b) return 0;
    if (!a) return -1;  // absent first
    if (!b) return 1;
    return node_cmp(*a, *b);
}

bool shared_node_eq(const SharedNode& a, const SharedNode& b) {
    if (a == b) return true;
    if (!a || !b) return false;
    return node_eq(*a, *b);
}

template <class T, class Cmp>
int list_cmp(const SharedList<T>& a, const SharedList<T>& b, Cmp cmp) {
    if (a == b) return 0;
    std::span<const T> x = as_span(a), y = as_span(b);
    const std::size_t n = std::min(x.size(), y.size());
    for (std::size_t i = 0; i < n; ++i)
        if (int c = cmp(x[i], y[i])) return c;
    return u64_cmp(x.size(), y.size());
}

template <class T, class Eq>
bool list_eq(const SharedList<T>& a, const SharedList<T>& b, Eq eq) {
    if (a == b) return true;
    std::span<const T> x = as_span(a), y = as_span(b);
    if (x.size() != y.size()) return false;
    for (std::size_t i = 0; i < x.size(); ++i)
        if (!eq(x[i], y[i])) return false;
    return true;
}

bool text_eq(const SharedText& a, const SharedText& b) {
    if (a == b) return true;
    std::string_view x = a ? std::string_view(*a) : std::string_view();
    std::string_view y = b ? std::string_view(*b) : std::string_view();
    return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size()) == 0;
}

bool entry_eq(const RecordEntry& a, const RecordEntry& b) {
    return a.required == b.required && text_eq(a.key, b.key) && node_eq(a.value, b.value);
}

}  // namespace

int bytes_cmp(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    if (n > 0)
        if (int c = std::memcmp(a.data(), b.data(), n)) return sign(c);
    return u64_cmp(a.size(), b.size());
}

int node_cmp(const Node& a, const Node& b) {
    if (&a == &b) return 0;
    if (a.kind != b.kind) return static_cast<std::uint8_t>(a.kind) < static_cast<std::uint8_t>(b.kind) ? -1 : 1;
    util::ensure_native_stack();
    switch (a.kind) {
        case NodeKind::Literal:
        case NodeKind::Instance:
        case NodeKind::BackEdge:
        case NodeKind::Placeholder:
            return u64_cmp(a.index, b.index);
        case NodeKind::Sequence:
            if (a.flag != b.flag) return a.flag < b.flag ? -1 : 1;
            if (int c = list_cmp(a.nodes, b.nodes, node_cmp)) return c;
            return shared_node_cmp(a.child, b.child);
        case NodeKind::Set:
            if (a.flag != b.flag) return a.flag < b.flag ? -1 : 1;
            return shared_node_cmp(a.child, b.child);
        case NodeKind::Complement:
            return shared_node_cmp(a.child, b.child);
        case NodeKind::Mapping:
            if (int c = list_cmp(a.entries, b.entries, entry_cmp)) return c;
            return list_cmp(a.clauses, b.clauses, clause_cmp);
        case NodeKind::Union:
        case NodeKind::Intersection:
            return list_cmp(a.nodes, b.nodes, node_cmp);
        case NodeKind::Object:
            return list_cmp(a.entries, b.entries, entry_cmp);
        case NodeKind::Refined:
            if (int c = shared_node_cmp(a.child, b.child)) return c;
            if (a.constraints == b.constraints) return 0;
            return constraints_cmp(as_span(a.constraints), as_span(b.constraints));
        default:  // anything .. bytes: no payload; the Any flag does not count
            return 0;
    }
}

bool node_eq(const Node& a, const Node& b) {
    if (&a == &b) return true;
    if (a.kind != b.kind) return false;
    util::ensure_native_stack();
    switch (a.kind) {
        case NodeKind::Literal:
        case NodeKind::Instance:
        case NodeKind::BackEdge:
        case NodeKind::Placeholder:
            return a.index == b.index;
        case NodeKind::Sequence:
            return a.flag == b.flag && list_eq(a.nodes, b.nodes, node_eq) && shared_node_eq(a.child, b.child);
        case NodeKind::Set:
            return a.flag == b.flag && shared_node_eq(a.child, b.child);
        case NodeKind::Complement:
            return shared_node_eq(a.child, b.child);
        case NodeKind::Mapping:
            return list_eq(a.entries, b.entries, entry_eq) && list_eq(a.clauses, b.clauses, clause_eq);
        case NodeKind::Union:
        case NodeKind::Intersection:
            return list_eq(a.nodes, b.nodes, node_eq);
        case NodeKind::Object:
            return list_eq(a.entries, b.entries, entry_eq);
        case NodeKind::Refined:
            return shared_node_eq(a.child, b.child) && list_eq(a.constraints, b.constraints, constraint_eq);
        default:
            return true;
    }
}

int constraint_cmp(const Constraint& a, const Constraint& b) {
    if (a.kind != b.kind) return static_cast<std::uint8_t>(a.kind) < static_cast<std::uint8_t>(b.kind) ? -1 : 1;
    if (a.kind == ConstraintKind::Regex) return bytes_cmp(a.pattern, b.pattern);
    return u64_cmp(a.value, b.value);
}

bool constraint_eq(const Constraint& a, const Constraint& b) {
    if (a.kind != b.kind) return false;
    if (a.kind == ConstraintKind::Regex) return a.pattern == b.pattern;
    return a.value == b.value;
}

int constraints_cmp(std::span<const Constraint> a, std::span<const Constraint> b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i)
        if (int c = constraint_cmp(a[i], b[i])) return c;
    return u64_cmp(a.size(), b.size());
}

int entry_cmp(const RecordEntry& a, const RecordEntry& b) {
    if (a.key != b.key)
        if (int c = bytes_cmp(a.key_view(), b.key_view())) return c;
    if (int c = node_cmp(a.value, b.value)) return c;
    if (a.required == b.required) return 0;
    return a.required ? 1 : -1;  // optional before required
}

int clause_cmp(const Clause& a, const Clause& b) {
    if (int c = node_cmp(a.key, b.key)) return c;
    return node_cmp(a.value, b.value);
}

bool clause_eq(const Clause& a, const Clause& b) { return node_eq(a.key, b.key) && node_eq(a.value, b.value); }

namespace {

template <class T, class Eq>
void dedup_neighbours(std::vector<T>& items, Eq eq) {
    std::size_t kept = 0;
    for (std::size_t r = 0; r < items.size(); ++r) {
        if (kept > 0 && eq(items[kept - 1], items[r])) continue;
        if (kept != r) items[kept] = std::move(items[r]);
        ++kept;
    }
    items.resize(kept);
}

}  // namespace

void sort_dedup_nodes(std::vector<Node>& nodes) {
    if (nodes.size() < 2) return;
    // Members often come in canonical order already (the literals of one
    // `Literal`, pooled in turn): one pass tells.
    bool ordered = true;
    for (std::size_t i = 1; i < nodes.size() && ordered; ++i) ordered = node_cmp(nodes[i - 1], nodes[i]) < 0;
    if (ordered) return;
    stable_canonical_sort(nodes, [](const Node& a, const Node& b) { return node_cmp(a, b) < 0; });
    dedup_neighbours(nodes, node_eq);
}

void sort_dedup_constraints(std::vector<Constraint>& constraints) {
    if (constraints.size() < 2) return;
    stable_canonical_sort(constraints,
                          [](const Constraint& a, const Constraint& b) { return constraint_cmp(a, b) < 0; });
    dedup_neighbours(constraints, constraint_eq);
}

void sort_dedup_clauses(std::vector<Clause>& clauses) {
    if (clauses.size() < 2) return;
    stable_canonical_sort(clauses, [](const Clause& a, const Clause& b) { return clause_cmp(a, b) < 0; });
    dedup_neighbours(clauses, clause_eq);
}

void sort_entries_by_key(std::vector<RecordEntry>& entries) {
    if (entries.size() < 2) return;
    stable_canonical_sort(entries, [](const RecordEntry& a, const RecordEntry& b) {
        return bytes_cmp(a.key_view(), b.key_view()) < 0;
    });
}

}  // namespace tessaron::ir
