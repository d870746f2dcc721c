// Node constructors that establish the lattice normal form, and read-only
// queries over finished nodes.
//
// Every union, intersection, complement, refined node, record and
// homogeneous sequence is made here: absorbing and neutral members removed,
// nested unions and intersections flattened (one level), members sorted and
// deduplicated, a member beside its own complement folded, a refinement
// without constraints reduced to its inner node.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/ir/kind.h"
#include "core/ir/node.h"
#include "core/ir/oracle.h"

namespace tessaron::ir {

// The union of `members` (taken over).  `definitions` is read to follow
// back edges when testing for a complementary pair.
Node unite_nodes(std::vector<Node> members, std::span<const Node> definitions);
// The intersection, dually.
Node intersect_nodes(std::vector<Node> members, std::span<const Node> definitions);
// intersect_nodes of [a, b].
Node intersect_pair(Node a, Node b, std::span<const Node> definitions);
// The complement of x: anything <-> nothing, a complement unwrapped,
// otherwise a complement node.  No other law is applied.
Node complement_node(Node x);
// The refined node: constraints sorted and deduplicated; none left gives
// `inner` itself.  The constraint list is a new allocation of its own.
Node make_refined(Node inner, std::vector<Constraint> constraints);
// The mapping node: clauses sorted by (key, value) and deduplicated, entries
// sorted by key (none removed: the caller gives each key once), both shared
// through the tables.
Node make_record(std::vector<RecordEntry> entries, std::vector<Clause> clauses);
// An object node over entries sorted by key (each key given once).
Node make_object(std::vector<RecordEntry> entries);

// A sequence node over an already shared prefix and optional tail.
Node make_sequence(std::uint8_t flavour, NodeList prefix, SharedNode tail);
// A set node over the element, shared through the node table.
Node make_set(std::uint8_t flavour, Node element);

struct SequenceParts {
    NodeList prefix;
    SharedNode tail;
};
// The parts of list[T] / tuple[T, ...]: the empty prefix and the interned
// element as the tail; the caller chooses the flavour.
SequenceParts homogeneous_sequence_parts(Node element);

// True when some member is a complement whose inner node X is pair-safe and
// some member is node_eq to X.  X is pair-safe when its tree (following
// back edges into `definitions`, each at most once) holds no placeholder, no
// refinement with a Predicate, no back edge outside `definitions`, and no
// instance node for which `oracle.class_atom_is_plain` answers other than
// yes.
bool has_complementary_pair(std::span<const Node> members, Oracle& oracle,
                            std::span<const Node> definitions);

// The kinds a node admits when it is exactly a union of whole kinds:
// anything, nothing, the scalar nodes (int: bool and int), and unions,
// intersections and complements of those, and refinements without
// constraints over them.  None for every other node: its kinds alone do not
// decide.
std::optional<KindMask> whole_kinds(const Node& node);

// A literal's pool index, or those of a union whose members are all
// literals (in member order); none otherwise.  `read`, when given, grows by
// the members of a union looked at (up to the first that is no literal).
std::optional<std::vector<std::uint64_t>> literal_indices(const Node& node, std::uint64_t* read = nullptr);

// The element schema of a set or of a sequence with an empty prefix (its
// tail), looking through refinements; null otherwise.  The pointer is into
// `node`'s tree.
const Node* element_schema(const Node& node);

// For an intersection of exactly one instance member and exactly one
// sequence-or-object member (other members do not matter): the instance's
// pool index.  None otherwise.
std::optional<std::uint64_t> spelled_as_class(const Node& node);

}  // namespace tessaron::ir
