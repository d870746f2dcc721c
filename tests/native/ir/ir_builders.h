// Small node builders for the IR tests: leaves, containers and combinations
// written the way a schema reads, plus "raw" builders that bypass the
// normalising constructors (and the sharing tables) so tests can make
// structurally equal nodes that are distinct allocations.
#pragma once

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ir/construct.h"
#include "core/ir/node.h"
#include "core/ir/sharing.h"

namespace tessaron::ir::testing {

inline Node anything0() { return Node::anything(false); }
inline Node Any1() { return Node::anything(true); }
inline Node nothing_() { return Node::nothing(); }
inline Node none_() { return Node::scalar(NodeKind::None); }
inline Node bool_() { return Node::scalar(NodeKind::Bool); }
inline Node int_() { return Node::scalar(NodeKind::Int); }
inline Node float_() { return Node::scalar(NodeKind::Float); }
inline Node str_() { return Node::scalar(NodeKind::Str); }
inline Node bytes_() { return Node::scalar(NodeKind::Bytes); }
inline Node lit(std::uint64_t i) { return Node::literal(i); }
inline Node inst(std::uint64_t i) { return Node::instance(i); }
inline Node edge(std::uint64_t i) { return Node::back_edge(i); }
inline Node hole(std::uint64_t id) { return Node::placeholder(id); }

inline std::vector<Node> nodes(std::initializer_list<Node> xs) { return std::vector<Node>(xs); }

inline Node list_of(Node element) {
    SequenceParts p = homogeneous_sequence_parts(std::move(element));
    return make_sequence(kFlavourList, p.prefix, p.tail);
}
inline Node tuple_of(std::vector<Node> prefix, std::optional<Node> tail = std::nullopt) {
    return make_sequence(kFlavourTuple, intern_node_slice(prefix), tail ? intern_node(std::move(*tail)) : nullptr);
}
inline Node set_of(Node element) { return make_set(kFlavourSet, std::move(element)); }
inline Node uni(std::vector<Node> xs) { return unite_nodes(std::move(xs), {}); }
inline Node inter(std::vector<Node> xs) { return intersect_nodes(std::move(xs), {}); }
inline Node comp(Node x) { return complement_node(std::move(x)); }

inline RecordEntry entry(std::string_view key, Node value, bool required = true) {
    return RecordEntry{make_text(key), required, std::move(value)};
}
inline Node record(std::vector<RecordEntry> entries, std::vector<Clause> clauses = {}) {
    return make_record(std::move(entries), std::move(clauses));
}

inline Constraint con(ConstraintKind k, std::uint64_t v) { return Constraint{k, v, {}}; }
inline Constraint ge(std::uint64_t p) { return con(ConstraintKind::Ge, p); }
inline Constraint min_len(std::uint64_t n) { return con(ConstraintKind::MinLen, n); }
inline Constraint predicate(std::uint64_t p) { return con(ConstraintKind::Predicate, p); }
inline Constraint regex(std::string pattern) { return Constraint{ConstraintKind::Regex, 0, std::move(pattern)}; }
inline Node refined(Node inner, std::vector<Constraint> cs) { return make_refined(std::move(inner), std::move(cs)); }

// --- raw builders: fresh allocations, no normalisation, no sharing -------

inline SharedNode fresh(Node n) { return std::make_shared<const Node>(std::move(n)); }
inline NodeList fresh_list(std::vector<Node> xs) { return std::make_shared<const std::vector<Node>>(std::move(xs)); }

inline Node raw(NodeKind kind, std::vector<Node> members) {
    Node n;
    n.kind = kind;
    n.nodes = fresh_list(std::move(members));
    return n;
}
inline Node raw_seq(std::uint8_t flavour, std::vector<Node> prefix, std::optional<Node> tail = std::nullopt) {
    Node n;
    n.kind = NodeKind::Sequence;
    n.flag = flavour;
    n.nodes = fresh_list(std::move(prefix));
    if (tail) n.child = fresh(std::move(*tail));
    return n;
}
inline Node raw_single(NodeKind kind, Node inner, std::uint8_t flag = 0) {
    Node n;
    n.kind = kind;
    n.flag = flag;
    n.child = fresh(std::move(inner));
    return n;
}
inline Node raw_refined(Node inner, std::vector<Constraint> cs) {
    Node n = raw_single(NodeKind::Refined, std::move(inner));
    n.constraints = std::make_shared<const std::vector<Constraint>>(std::move(cs));
    return n;
}
inline Node raw_mapping(std::vector<RecordEntry> entries, std::vector<Clause> clauses) {
    Node n;
    n.kind = NodeKind::Mapping;
    n.entries = std::make_shared<const std::vector<RecordEntry>>(std::move(entries));
    n.clauses = std::make_shared<const std::vector<Clause>>(std::move(clauses));
    return n;
}
inline Node raw_object(std::vector<RecordEntry> entries) {
    Node n;
    n.kind = NodeKind::Object;
    n.entries = std::make_shared<const std::vector<RecordEntry>>(std::move(entries));
    return n;
}

}  // namespace tessaron::ir::testing
