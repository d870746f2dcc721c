// Validators as immutable values.
//
// Copies: a validator never changes, so a copy (shallow or deep) is a new
// object over the same nodes and a new reference to each of the same pooled
// objects; the classes, predicates and constants a schema names are never
// copied, and the copy builds its own lookup tables on first use.  Copies
// skip finalisation: the payload already passed it.
//
// Pickling is refused with a message that says what to send instead: the
// pool holds classes and callables, and only the schema can be rebuilt on
// the other side.
//
// Hash and equality are structural and independent of the pool: pooled
// objects enter by value (their hash and their type's hash; `==` between
// objects of the same exact type), union members, clauses and constraints
// in any order.  So `union(int, str) == union(str, int)` with equal hashes,
// even though each validator has its own pool.  Exceptions raised by pooled
// objects' `__hash__` or `__eq__` are swallowed (an unhashable object adds
// nothing to the hash; a comparison that raises is "unequal"), so neither
// slot raises for user code.  A hash of -1 is reserved by the interpreter
// for errors; -1 (and -2, to keep the map one-to-one at the top) become -2.
//
// open, close and simplify rewrite the root and every definition, each with
// a new reference to every pooled object, and finalise the result like any
// new validator (so they can cross the size bounds).
#include "python/value_semantics.h"

#include <span>
#include <vector>

#include "core/decide/disjoint.h"
#include "core/ir/hash.h"
#include "core/ir/open_close.h"
#include "core/ir/simplify.h"
#include "python/binding/args.h"
#include "python/binding/entry.h"
#include "python/finalize.h"
#include "python/pool_access.h"
#include "python/binding/stack_guard.h"
#include "python/validator.h"

namespace tessaron::python {

const char kCopyDoc[] =
    "__copy__($self)\n--\n\n"
    "An equivalent validator that shares this one's pooled constants, classes and\n"
    "predicates (they are not copied).";

const char kDeepcopyDoc[] =
    "__deepcopy__($self, _memo)\n--\n\n"
    "The same as __copy__: the new validator shares the pool (constants, classes\n"
    "and predicates), since a validator never changes.  The memo is not used.";

const char kReduceDoc[] =
    "__reduce__($self)\n--\n\n"
    "Refuse to pickle, and say what to do instead.\n\n"
    "A validator holds the classes and callables its schema names, and those are\n"
    "what would have to travel.  The schema, not the validator, is what travels:\n"
    "send the schema and rebuild with Validator(...) on the other side.";

const char kOpenDoc[] =
    "open($self)\n--\n\n"
    "A new validator whose records admit keys they do not declare.\n\n"
    "Every record (mapping) of the schema, including records inside recursive\n"
    "definitions, gets a catch-all entry admitting any value for the keys that\n"
    "neither its declared keys nor its other catch-all entries cover.  The\n"
    "rewrite reads the records the schema is written out of, not the set it\n"
    "denotes, so two ways of writing one set can open into different sets.\n"
    "Opening adds nodes, so it can cross the node bound (ValueError).";

const char kCloseDoc[] =
    "close($self)\n--\n\n"
    "A new validator whose records admit only the keys they cover explicitly.\n\n"
    "Every record (mapping) of the schema, including records inside recursive\n"
    "definitions, loses the catch-all entries that open adds (anything for every\n"
    "key nothing else covers).  The rewrite reads the records the schema is\n"
    "written out of, not the set it denotes, so two ways of writing one set can\n"
    "close into different sets.";

const char kSimplifyDoc[] =
    "simplify($self)\n--\n\n"
    "An equivalent validator reduced by the lattice laws. **Deprecated.**\n\n"
    "Removed in the next minor version.  Returns a validator in negation-normal\n"
    "form: complements pushed down to single kinds, meets of provably disjoint\n"
    "members folded to nothing, joins covering every kind folded to anything.";

const char kPickleRefusal[] =
    "a Validator cannot be pickled: it holds the classes and callables its schema names, and those are what "
    "would have to travel. Send the schema instead and rebuild with Validator(...) on the other side; "
    "compiling is cheap, and `repr(validator)` gives an expression that rebuilds every form but a class or a "
    "predicate.";

const char kSimplifyDeprecation[] =
    "Validator.simplify is deprecated and is removed in the next minor version: a schema is built in the "
    "lattice normal form, so `repr` already shows it, and `is_empty`/`is_subtype_of`/`is_equivalent` decide "
    "what this folds and more.";

namespace {

PyObject* clone_validator(ValidatorObject* v) {
    CompiledSchema copy;
    copy.root = v->schema.root;
    copy.pool = v->schema.pool;
    copy.definitions = v->schema.definitions;
    return new_validator_object(std::move(copy));
}

// A new validator over `rewrite` of the root and of every definition.
template <class Rewrite>
PyObject* rewritten_validator(ValidatorObject* v, Rewrite&& rewrite) {
    if (!py::native_stack_available("rewrite this validator")) return nullptr;
    ir::Node root = rewrite(v->schema.root);
    PoolObjects pool = v->schema.pool;
    std::vector<ir::Node> definitions;
    definitions.reserve(v->schema.definitions.size());
    for (const ir::Node& d : v->schema.definitions) definitions.push_back(rewrite(d));
    CompiledSchema compiled;
    if (!finalize_validator(std::move(root), std::move(pool), std::move(definitions), compiled)) return nullptr;
    return new_validator_object(std::move(compiled));
}

PyObject* open_close_method(PyObject* self, ir::RecordMode mode) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        ValidatorObject* v = downcast_validator(self);
        if (!v) return nullptr;
        return rewritten_validator(v, [mode](const ir::Node& n) { return ir::open_close(n, mode); });
    });
}

bool schemas_equal(const CompiledSchema& a, const CompiledSchema& b) {
    if (a.definitions.size() != b.definitions.size()) return false;
    PythonPoolAccess pa(a.pool);
    PythonPoolAccess pb(b.pool);
    if (!ir::equal_across_pools(a.root, pa, b.root, pb)) return false;
    for (std::size_t i = 0; i < a.definitions.size(); ++i)
        if (!ir::equal_across_pools(a.definitions[i], pa, b.definitions[i], pb)) return false;
    return true;
}

}  // namespace

PyObject* copy_method(PyObject* self, PyObject*) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        ValidatorObject* v = downcast_validator(self);
        if (!v) return nullptr;
        return clone_validator(v);
    });
}

PyObject* deepcopy_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        ValidatorObject* v = downcast_validator(self);
        if (!v) return nullptr;
        static const py::ArgSpec spec{.full_name = "Validator.__deepcopy__()",
                                      .positional = {"_memo"},
                                      .required_positional = 1};
        PyObject* memo = nullptr;
        if (!py::parse_fastcall(spec, args, nargs, kwnames, &memo)) return nullptr;
        return clone_validator(v);
    });
}

PyObject* reduce_method(PyObject* self, PyObject*) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        if (!downcast_validator(self)) return nullptr;
        PyErr_SetString(PyExc_TypeError, kPickleRefusal);
        return nullptr;
    });
}

PyObject* open_method(PyObject* self, PyObject*) { return open_close_method(self, ir::RecordMode::Open); }

PyObject* close_method(PyObject* self, PyObject*) { return open_close_method(self, ir::RecordMode::Close); }

PyObject* simplify_method(PyObject* self, PyObject*) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        ValidatorObject* v = downcast_validator(self);
        if (!v) return nullptr;
        if (PyErr_WarnEx(PyExc_DeprecationWarning, kSimplifyDeprecation, 1) < 0) return nullptr;
        return rewritten_validator(
            v, [](const ir::Node& n) { return ir::simplify_node(n, decide::structurally_disjoint); });
    });
}

Py_hash_t validator_hash_slot(PyObject* self) {
    return py::guarded<Py_hash_t>(-1, [&]() -> Py_hash_t {
        ValidatorObject* v = downcast_validator(self);
        if (!v) return -1;
        PythonPoolAccess pool(v->schema.pool);
        const std::uint64_t h = ir::validator_hash(v->schema.root, v->schema.definitions, pool);
        if (h >= ~std::uint64_t{1}) return -2;  // -2 and -1 read as signed
        return static_cast<Py_hash_t>(h);
    });
}

PyObject* validator_richcompare(PyObject* self, PyObject* other, int op) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        switch (op) {
            case Py_EQ: {
                ValidatorObject* v = downcast_validator(self);
                if (!v) return nullptr;
                int other_is_validator = is_validator(other);
                if (other_is_validator < 0) return nullptr;
                if (!other_is_validator) Py_RETURN_NOTIMPLEMENTED;
                const auto* w = reinterpret_cast<ValidatorObject*>(other);
                return PyBool_FromLong(schemas_equal(v->schema, w->schema));
            }
            case Py_NE: {
                if (!downcast_validator(self)) return nullptr;
                // Through the full comparison protocol, so that the other
                // operand's reflected __eq__ and the identity fallback apply.
                py::Ref eq = py::Ref::steal(PyObject_RichCompare(self, other, Py_EQ));
                if (!eq) return nullptr;
                int truth = PyObject_IsTrue(eq.get());
                if (truth < 0) return nullptr;
                return PyBool_FromLong(!truth);
            }
            case Py_LT:
            case Py_LE:
            case Py_GT:
            case Py_GE:
                Py_RETURN_NOTIMPLEMENTED;
            default:
                PyErr_SetString(PyExc_SystemError, "invalid compareop");
                return nullptr;
        }
    });
}

}  // namespace tessaron::python
