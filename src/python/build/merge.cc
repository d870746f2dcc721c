// Merging a Validator given as a spec into the schema being built.
//
// The other validator's pool objects are interned into this pool (equal
// constants share an index, classes are shared by identity), its
// definitions are appended -- or, when an identical run of them already
// stands in the definitions list, reused at the lowest such start -- and its
// root is relocated by the index map and the definition offset.  With an
// identity map and offset 0 nothing is rebuilt and the nodes are shared.
#include "core/ir/order.h"
#include "core/ir/renumber.h"
#include "python/build/builder.h"
#include "python/validator.h"

namespace tessaron::python {

bool merge_validator(PyObject* spec, BuildTarget target, ir::Node& out) {
    ValidatorObject* other = downcast_validator(spec);
    if (!other) return false;
    const CompiledSchema& schema = other->schema;
    // The patterns it compiled serve the schema built from it too.
    other->decision_patterns.lend_to_build();

    ir::RelocationContext context;
    context.pool_map.reserve(schema.pool.size());
    for (const py::Ref& obj : schema.pool) context.pool_map.push_back(intern_pool_value(target.pool, obj.get()));

    std::vector<ir::Node>& defs = target.definitions;
    const std::size_t n = schema.definitions.size();
    const std::size_t b = defs.size();
    std::uint64_t offset = b;
    if (n > 0) {
        bool reused = false;
        const std::size_t last_start = b >= n ? b - n : 0;
        for (std::size_t s = 0; s <= last_start && !reused; ++s) {
            if (s + n > b) break;
            context.definition_offset = s;
            std::vector<ir::Node> moved = ir::relocate_nodes(schema.definitions, context);
            bool all_equal = true;
            for (std::size_t k = 0; k < n && all_equal; ++k) all_equal = ir::node_eq(moved[k], defs[s + k]);
            if (all_equal) {
                offset = s;
                reused = true;
            }
        }
        if (!reused) {
            offset = b;
            context.definition_offset = b;
            std::vector<ir::Node> moved = ir::relocate_nodes(schema.definitions, context);
            for (ir::Node& d : moved) defs.push_back(std::move(d));
        }
    }
    context.definition_offset = offset;
    std::optional<ir::Node> root = ir::relocate_node(schema.root, context);
    out = root ? std::move(*root) : schema.root;
    return true;
}

}  // namespace tessaron::python
