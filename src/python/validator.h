// The `Validator` type: a compiled, immutable schema.
//
// An instance holds a `CompiledSchema` (pool objects, definitions, root),
// built completely before the object exists and never changed afterwards.
// The class is final (no base-type flag), GC-tracked (its pool may hold
// objects that refer back to it) and weak-referenceable.
#pragma once

#include "python/binding/capi.h"

#include <vector>

#include "core/ir/node.h"
#include "python/check/precompute.h"
#include "python/pattern_cache.h"
#include "python/pool.h"

namespace tessaron::python {

struct CompiledSchema {
    PoolObjects pool;
    std::vector<ir::Node> definitions;
    ir::Node root;
};

struct ValidatorObject {
    PyObject_HEAD
    CompiledSchema schema;
    // The walk's lookup tables, built by the first validating call.
    check::PrecomputeCell precompute;
    // The matchers decisions compiled for the schema's patterns.
    PatternCache decision_patterns;
    PyObject* weakreflist;
};

// The class object, created once; nullptr with an exception set on failure.
PyTypeObject* validator_type();

// 1 when `obj` is a Validator, 0 when not, -1 with an exception set when the
// class object cannot be created.
int is_validator(PyObject* obj);

// `obj` as a Validator, or nullptr with the TypeError
// "'{type}' object is not an instance of 'Validator'" set.
ValidatorObject* downcast_validator(PyObject* obj);

// A new Validator owning `schema` (no finalisation).  New reference, or
// nullptr with an exception set (the payload is released).
PyObject* new_validator_object(CompiledSchema&& schema);

// The validator's lookup tables, built on first use; nullptr with an
// exception set when building them failed.
inline const check::Precompute* validator_tables(ValidatorObject* v) {
    return v->precompute.get(v->schema, &v->decision_patterns);
}

// A Validator over `node` with an empty pool and no definitions.
PyObject* validator_from_node(const ir::Node& node);

}  // namespace tessaron::python
