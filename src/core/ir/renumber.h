// Rewrites that move the indices inside a finished tree.
//
// Renumbering rewrites back edges when finalisation merges, drops and
// reorders the definitions (reach.h).  Relocation carries another schema's
// tree into the pool and definitions list being built: pool indices through
// an index map, back edges by an offset.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/ir/node.h"

namespace tessaron::ir {

// One entry per definition before pruning, indexed by the old index.
struct RenumberEntry {
    bool kept = false;
    std::uint64_t new_index = 0;  // the number of kept definitions before it
};

// The renumbered node: a back edge i with map[i] kept points at
// map[i].new_index; any other back edge is kept as it is.  Always a complete
// node: every composite node is rebuilt through the sharing tables (member
// lists sorted and deduplicated again); refined nodes keep their
// constraints.  Shared subtrees are rewritten once per call.
Node renumber_back_edges(const Node& node, std::span<const RenumberEntry> map);

// The list rewrites of renumbering (see rewrite.h for the protocol).
bool renumber_list(std::vector<Node>& work, std::span<const Node> list, std::span<const RenumberEntry> map);
std::optional<NodeList> renumber_prefix(const NodeList& list, std::span<const RenumberEntry> map);
std::optional<NodeList> renumber_members(const NodeList& list, std::span<const RenumberEntry> map);
std::optional<EntryList> renumber_entries(const EntryList& list, std::span<const RenumberEntry> map);

struct RelocationContext {
    // Entry i: the target pool index of source pool index i.
    std::vector<std::uint64_t> pool_map;
    // Added to every back-edge index.
    std::uint64_t definition_offset = 0;

    // True when relocation cannot move any index.
    bool is_identity() const;
};

// The relocated node, or nothing when no index under it moves.  Pool
// indices past the end of the map stay.  A refined node whose constraints
// move gets a new constraint list of its own, sorted and deduplicated again.
std::optional<Node> relocate_node(const Node& node, const RelocationContext& ctx);

// Every node of the list relocated, in order; an unchanged node is copied
// (a new reference to the same contents).
std::vector<Node> relocate_nodes(std::span<const Node> nodes, const RelocationContext& ctx);

// The list rewrites of relocation.
bool relocate_list(std::vector<Node>& work, std::span<const Node> list, const RelocationContext& ctx);
std::optional<NodeList> relocate_members(const NodeList& list, const RelocationContext& ctx);
std::optional<EntryList> relocate_entries(const EntryList& list, const RelocationContext& ctx);

}  // namespace tessaron::ir
