// Finalisation of a compiled schema into a Validator payload: the core's
// finalize_schema (equivalent definitions merged, unreachable ones dropped,
// the rest renumbered, the size bounds checked), its refusal raised as a
// ValueError.  On success the pool, definitions and root move into the
// payload; on refusal everything given is released with the arguments.
#include "python/finalize.h"

#include "core/ir/finalize.h"
#include "python/binding/stack_guard.h"

namespace tessaron::python {

bool finalize_validator(ir::Node root, PoolObjects pool, std::vector<ir::Node> definitions,
                        CompiledSchema& out) {
    if (!py::native_stack_available("finalise this validator")) return false;
    if (auto error = ir::finalize_schema(root, definitions)) {
        PyErr_SetString(PyExc_ValueError, error->c_str());
        return false;
    }
    out.pool = std::move(pool);
    out.definitions = std::move(definitions);
    out.root = std::move(root);
    return true;
}

}  // namespace tessaron::python
