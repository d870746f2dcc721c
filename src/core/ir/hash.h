// The structural hash of a schema and the equality of two schemas that each
// have their own constant pool.  Both stand behind Validator.__hash__ and
// Validator.__eq__: equal validators hash alike, and neither depends on the
// order in which a union's members, a mapping's clauses or a refinement's
// constraints were written.
#pragma once

#include <cstdint>
#include <span>

#include "core/ir/node.h"
#include "core/ir/pool_access.h"
#include "core/util/siphash.h"

namespace tessaron::ir {

// Feeds the pooled object at `index`: its hash and its type's hash as words;
// nothing for an index outside the pool, nothing more after a failure.
void hash_pool_ref(std::uint64_t index, const PoolAccess& pool, util::SipHasher13& h);

// Feeds the entry count, then for each entry its key bytes, 0xff, the
// required flag as a byte and the value node.
void hash_entries(std::span<const RecordEntry> entries, const PoolAccess& pool, util::SipHasher13& h);

// Feeds a node into `h`.
void hash_node(const Node& node, const PoolAccess& pool, util::SipHasher13& h);

// A fresh SipHash-1-3 (keys 0, 0) of one node.
std::uint64_t fresh_node_hash(const Node& node, const PoolAccess& pool);

// The hash of a whole schema: the root, the number of definitions as a word,
// then each definition in order, in one fresh state.
std::uint64_t validator_hash(const Node& root, std::span<const Node> definitions, const PoolAccess& pool);

// Structural equality of `a` over pool `pa` and `b` over pool `pb`, pooled
// objects compared as values.  Members, clauses and constraints are matched
// greedily (each to the first not yet matched equal counterpart); back edges
// compare by index and definitions are not followed.
bool equal_across_pools(const Node& a, const PoolAccess& pa, const Node& b, const PoolAccess& pb);

}  // namespace tessaron::ir
