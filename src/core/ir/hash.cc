// Structural hashing (SipHash-1-3) and cross-pool equality of schemas.
//
// hash_node feeds the tag and then the payload of each kind; pooled objects
// enter through their Python hash and their type's hash, so equal values of
// the same type hash alike whichever pool holds them.  Unordered lists
// (union and intersection members, mapping clauses, constraints) enter as
// the count and the wrapping sum of a fresh hash per element, which makes
// the result independent of list order.  The Any flag and placeholder ids
// are never hashed.  Work: one visit per occurrence of a node; the trees
// hashed are finalised validators, bounded in size.
//
// equal_across_pools compares like node_eq but asks the pools about literal,
// instance and pool-index constraint payloads, and matches unordered lists
// greedily: each element of a is paired with the first element of b not yet
// paired that is equal across; the pairing is never revised.
#include "core/ir/hash.h"

#include <vector>

#include "core/ir/order.h"
#include "core/util/native_stack.h"

namespace tessaron::ir {

using util::SipHasher13;

void hash_pool_ref(std::uint64_t index, const PoolAccess& pool, SipHasher13& h) {
    if (index >= pool.size()) return;
    std::optional<std::uint64_t> object = pool.object_hash(index);
    if (!object) return;
    h.write_u64(*object);
    std::optional<std::uint64_t> type = pool.type_hash(index);
    if (!type) return;
    h.write_u64(*type);
}

void hash_entries(std::span<const RecordEntry> entries, const PoolAccess& pool, SipHasher13& h) {
    h.write_u64(entries.size());
    for (const RecordEntry& e : entries) {
        h.write_bytes(e.key_view());
        h.write_u8(0xff);
        h.write_u8(e.required ? 1 : 0);
        hash_node(e.value, pool, h);
    }
}

namespace {

std::uint64_t fresh_constraint_hash(const Constraint& c, const PoolAccess& pool) {
    SipHasher13 h;
    h.write_u64(static_cast<std::uint64_t>(c.kind));
    switch (c.kind) {
        case ConstraintKind::MinLen:
        case ConstraintKind::MaxLen:
            h.write_u64(c.value);
            break;
        case ConstraintKind::Regex:
            h.write_bytes(c.pattern);
            h.write_u8(0xff);
            break;
        default:
            hash_pool_ref(c.value, pool, h);
            break;
    }
    return h.finish();
}

}  // namespace

void hash_node(const Node& node, const PoolAccess& pool, SipHasher13& h) {
    util::ensure_native_stack();
    h.write_u64(static_cast<std::uint64_t>(node.kind));
    switch (node.kind) {
        case NodeKind::Literal:
        case NodeKind::Instance:
            hash_pool_ref(node.index, pool, h);
            break;
        case NodeKind::Sequence: {
            std::span<const Node> prefix = as_span(node.nodes);
            h.write_u64(node.flag);
            h.write_u64(prefix.size());
            for (const Node& n : prefix) hash_node(n, pool, h);
            h.write_u8(node.child ? 1 : 0);
            if (node.child) hash_node(*node.child, pool, h);
            break;
        }
        case NodeKind::Set:
            h.write_u64(node.flag);
            if (node.child) hash_node(*node.child, pool, h);
            break;
        case NodeKind::Complement:
            if (node.child) hash_node(*node.child, pool, h);
            break;
        case NodeKind::Mapping: {
            hash_entries(as_span(node.entries), pool, h);
            std::span<const Clause> clauses = as_span(node.clauses);
            h.write_u64(clauses.size());
            std::uint64_t sum = 0;
            for (const Clause& c : clauses) {
                SipHasher13 fresh;
                hash_node(c.key, pool, fresh);
                hash_node(c.value, pool, fresh);
                sum += fresh.finish();
            }
            h.write_u64(sum);
            break;
        }
        case NodeKind::Union:
        case NodeKind::Intersection: {
            std::span<const Node> members = as_span(node.nodes);
            h.write_u64(members.size());
            std::uint64_t sum = 0;
            for (const Node& m : members) sum += fresh_node_hash(m, pool);
            h.write_u64(sum);
            break;
        }
        case NodeKind::Object:
            hash_entries(as_span(node.entries), pool, h);
            break;
        case NodeKind::Refined: {
            if (node.child) hash_node(*node.child, pool, h);
            std::span<const Constraint> constraints = as_span(node.constraints);
            h.write_u64(constraints.size());
            std::uint64_t sum = 0;
            for (const Constraint& c : constraints) sum += fresh_constraint_hash(c, pool);
            h.write_u64(sum);
            break;
        }
        case NodeKind::BackEdge:
            h.write_u64(node.index);
            break;
        default:  // anything .. bytes, placeholder: the tag alone
            break;
    }
}

std::uint64_t fresh_node_hash(const Node& node, const PoolAccess& pool) {
    SipHasher13 h;
    hash_node(node, pool, h);
    return h.finish();
}

std::uint64_t validator_hash(const Node& root, std::span<const Node> definitions, const PoolAccess& pool) {
    SipHasher13 h;
    hash_node(root, pool, h);
    h.write_u64(definitions.size());
    for (const Node& d : definitions) hash_node(d, pool, h);
    return h.finish();
}

namespace {

bool pooled_equal(std::uint64_t i, const PoolAccess& pa, std::uint64_t j, const PoolAccess& pb) {
    if (i >= pa.size() || j >= pb.size()) return false;
    return pa.objects_equal(i, pb, j);
}

bool shared_across(const SharedNode& a, const PoolAccess& pa, const SharedNode& b, const PoolAccess& pb) {
    if (!a || !b) return !a && !b;
    return equal_across_pools(*a, pa, *b, pb);
}

bool entries_across(std::span<const RecordEntry> x, const PoolAccess& pa, std::span<const RecordEntry> y,
                    const PoolAccess& pb) {
    if (x.size() != y.size()) return false;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (x[i].key_view() != y[i].key_view() || x[i].required != y[i].required) return false;
        if (!equal_across_pools(x[i].value, pa, y[i].value, pb)) return false;
    }
    return true;
}

// Greedy matching: every element of x pairs with the first unpaired element
// of y that `eq` accepts.  Counts are checked by the caller.  The scan starts
// past the leading run of paired elements, so two lists in the same order
// (the canonical case) match in linear time; the pairing is unchanged.
template <class T, class Eq>
bool greedy_match(std::span<const T> x, std::span<const T> y, Eq eq) {
    std::vector<bool> taken(y.size(), false);
    std::size_t first_free = 0;
    for (const T& a : x) {
        while (first_free < y.size() && taken[first_free]) ++first_free;
        bool found = false;
        for (std::size_t j = first_free; j < y.size(); ++j) {
            if (taken[j] || !eq(a, y[j])) continue;
            taken[j] = true;
            found = true;
            break;
        }
        if (!found) return false;
    }
    return true;
}

bool constraint_across(const Constraint& a, const PoolAccess& pa, const Constraint& b, const PoolAccess& pb) {
    if (a.kind != b.kind) return false;
    if (!a.names_pool_object()) return constraint_eq(a, b);
    return pooled_equal(a.value, pa, b.value, pb);
}

}  // namespace

bool equal_across_pools(const Node& a, const PoolAccess& pa, const Node& b, const PoolAccess& pb) {
    if (a.kind != b.kind) return false;
    util::ensure_native_stack();
    switch (a.kind) {
        case NodeKind::Literal:
        case NodeKind::Instance:
            return pooled_equal(a.index, pa, b.index, pb);
        case NodeKind::Sequence: {
            if (a.flag != b.flag) return false;
            std::span<const Node> x = as_span(a.nodes), y = as_span(b.nodes);
            if (x.size() != y.size()) return false;
            for (std::size_t i = 0; i < x.size(); ++i)
                if (!equal_across_pools(x[i], pa, y[i], pb)) return false;
            return shared_across(a.child, pa, b.child, pb);
        }
        case NodeKind::Set:
            return a.flag == b.flag && shared_across(a.child, pa, b.child, pb);
        case NodeKind::Complement:
            return shared_across(a.child, pa, b.child, pb);
        case NodeKind::Mapping: {
            if (!entries_across(as_span(a.entries), pa, as_span(b.entries), pb)) return false;
            std::span<const Clause> x = as_span(a.clauses), y = as_span(b.clauses);
            if (x.size() != y.size()) return false;
            return greedy_match(x, y, [&](const Clause& c, const Clause& d) {
                return equal_across_pools(c.key, pa, d.key, pb) && equal_across_pools(c.value, pa, d.value, pb);
            });
        }
        case NodeKind::Union:
        case NodeKind::Intersection: {
            std::span<const Node> x = as_span(a.nodes), y = as_span(b.nodes);
            if (x.size() != y.size()) return false;
            return greedy_match(x, y, [&](const Node& m, const Node& n) { return equal_across_pools(m, pa, n, pb); });
        }
        case NodeKind::Object:
            return entries_across(as_span(a.entries), pa, as_span(b.entries), pb);
        case NodeKind::Refined: {
            if (!shared_across(a.child, pa, b.child, pb)) return false;
            std::span<const Constraint> x = as_span(a.constraints), y = as_span(b.constraints);
            if (x.size() != y.size()) return false;
            return greedy_match(x, y, [&](const Constraint& c, const Constraint& d) {
                return constraint_across(c, pa, d, pb);
            });
        }
        default:  // anything .. bytes, back edge, placeholder
            return node_eq(a, b);
    }
}

}  // namespace tessaron::ir
