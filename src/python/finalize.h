// Finalisation of a compiled schema into a Validator payload.
#pragma once

#include <vector>

#include "core/ir/node.h"
#include "python/pool.h"
#include "python/validator.h"

namespace tessaron::python {

// Prunes, renumbers and bounds the schema (core/ir/finalize.h).  Returns
// false with a ValueError set, everything given released, when a bound is
// crossed.
bool finalize_validator(ir::Node root, PoolObjects pool, std::vector<ir::Node> definitions,
                        CompiledSchema& out);

}  // namespace tessaron::python
