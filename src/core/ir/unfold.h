// Bounded unfolding of recursion, for the decision procedures.
//
// The descriptor route of the decisions works on trees without recursion.
// Before it converts a tree that holds a back edge or a placeholder
// (`has_back_edges`, resolve.h) it unfolds it: each back edge is replaced by
// the definition it names for as long as the fuel of its path lasts, and
// every recursion reference beyond that, and every placeholder, is cut off
// to anything or to nothing by a polarity that flips below every complement.
// The result holds no back edge and no placeholder.
//
// Callers use fuel 1: Polarity::Above for the receiver of a subset decision
// and for the schema of an emptiness test, Polarity::Below for the side
// whose complement is taken next.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/ir/node.h"

namespace tessaron::ir {

// Which way an approximation of a schema may err: `Above` may admit more
// values than the schema (recursion cut to anything), `Below` fewer (cut to
// nothing).  It flips below every complement.
enum class Polarity : std::uint8_t { Above, Below };

constexpr Polarity flipped(Polarity p) { return p == Polarity::Above ? Polarity::Below : Polarity::Above; }

// The unfolded node.  `fuel` is the number of back edges that may still be
// followed on each path from the root (every child starts with its parent's
// fuel); Polarity::Above cuts to anything, Below to nothing.  Always a complete
// node; never fails.
Node unfold_recursion(const Node& node, std::span<const Node> definitions, std::uint32_t fuel,
                      Polarity polarity);

// The node rewrite for the kinds other than back edge, placeholder and
// complement: each child unfolded under the same fuel and polarity, the node
// rebuilt through the sharing tables; nothing for a node without children.
std::optional<Node> unfold_children(const Node& node, std::span<const Node> definitions, std::uint32_t fuel,
                                    Polarity polarity);

// The list rewrites of unfolding (see rewrite.h for the protocol).
bool unfold_node_list(std::vector<Node>& work, std::span<const Node> list, std::span<const Node> definitions,
                      std::uint32_t fuel, Polarity polarity);
std::optional<NodeList> unfold_members(const NodeList& list, std::span<const Node> definitions,
                                       std::uint32_t fuel, Polarity polarity);
std::optional<EntryList> unfold_entries(const EntryList& list, std::span<const Node> definitions,
                                        std::uint32_t fuel, Polarity polarity);

}  // namespace tessaron::ir
