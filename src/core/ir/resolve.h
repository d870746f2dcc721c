// Placeholder resolution and the contractiveness test of a recursive body.
//
// A recursive schema (a `recursive(...)` call or a type alias that names
// itself) is built in two steps.  While the body is built, each
// self-reference is a placeholder node carrying the id of its call; when the
// body is finished, the caller turns those placeholders into back edges to
// the position n the body is about to take in the definitions list, and
// refuses a body that reaches position n again without passing a structural
// constructor (such a body is not contractive and denotes no set).
//
// Calling order: with n the current number of definitions,
// `resolve_placeholder_in_schema(body, definitions, id, n)`, then
// `has_unguarded_recursion(body, n, definitions)`; a contractive body is
// appended as definition n.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/ir/node.h"

namespace tessaron::ir {

// The node in which every placeholder with `id` is a back edge to
// `definition`.  Always a complete node: every composite node is rebuilt
// through the sharing tables (member lists sorted and deduplicated again, so
// a member that became a back edge moves to its place; no lattice law);
// refined nodes keep their constraints; back edges are not followed.
Node resolve_placeholder(const Node& node, std::uint64_t id, std::uint64_t definition);

// The list rewrites of resolution (see rewrite.h for the protocol).  They
// answer a complete list for every non-empty input.
bool resolve_placeholder_in_list(std::vector<Node>& work, std::span<const Node> list, std::uint64_t id,
                                 std::uint64_t definition);
std::optional<NodeList> resolve_placeholder_in_members(const NodeList& list, std::uint64_t id,
                                                       std::uint64_t definition);
std::optional<EntryList> resolve_placeholder_in_entries(const EntryList& list, std::uint64_t id,
                                                        std::uint64_t definition);

// Resolution of a whole compilation in one pass: every definition already
// present, then the body, each replaced by its resolved form, with one memo
// for all of them (so a subtree shared between definitions is rewritten
// once).
void resolve_placeholder_in_schema(Node& body, std::vector<Node>& definitions, std::uint64_t id,
                                   std::uint64_t definition);

// Whether `body` reaches the back edge `start` through back edges without
// passing a sequence, set, mapping or object node.  Back edges to other
// definitions below `definitions.size()` are followed; a placeholder is no
// reference.
bool has_unguarded_recursion(const Node& body, std::uint64_t start, std::span<const Node> definitions);

// Whether the tree holds a back edge or a placeholder (back edges are not
// followed).
bool has_back_edges(const Node& node);

}  // namespace tessaron::ir
