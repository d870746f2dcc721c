// Opening and closing the records of a schema.
//
// `open` gives every mapping node a catch-all clause (key: every key that
// no other clause covers, value: anything), so that keys nothing covers
// become allowed with any value; `close` takes such clauses away again.
// The rewrite reads how the schema is written, not the set it denotes: two
// ways of writing one set can open into different sets.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "core/ir/node.h"

namespace tessaron::ir {

enum class RecordMode : std::uint8_t { Close = 0, Open = 1 };

// The rewritten node, or a copy of `node` when nothing changed.  Back edges
// are not followed: the caller rewrites each definition.
Node open_close(const Node& node, RecordMode mode);

// The copy-on-write form (see rewrite.h): the rewritten node, or nothing
// when the node is unchanged.
std::optional<Node> open_close_node(const Node& node, RecordMode mode);

// A rest clause of a list: value anything, key equal to the complement of
// the union of the keys of every other clause of the list.  The clauses of
// `clauses` that are not rest clauses, in order.
std::vector<Clause> open_close_clauses(std::span<const Clause> clauses);

// Merges clauses with equal values, in order: a clause whose value equals
// that of a clause already kept is folded into it (the kept clause's key
// becomes the union of both keys); any other clause is kept.
void merge_clauses_by_value(std::vector<Clause>& clauses);

}  // namespace tessaron::ir
