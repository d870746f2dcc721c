// The Validator class object, construction, deallocation and GC traversal.
#include "python/validator.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>

#include "core/ir/limits.h"
#include "core/ir/size.h"
#include "python/binding/args.h"
#include "python/binding/entry.h"
#include "python/binding/final_type.h"
#include "python/binding/once_cell.h"
#include "python/build/builder.h"
#include "python/check/entry.h"
#include "python/combinators.h"
#include "python/finalize.h"
#include "python/render.h"
#include "python/validator_methods.h"
#include "python/value_semantics.h"

namespace tessaron::python {

namespace {

const char kValidatorDoc[] =
    "Validator(schema, /)\n--\n\n"
    "A compiled, immutable schema validator.\n\n"
    "Build one with Validator(schema) from a schema spec (a builtin type, a typing\n"
    "construct, a class, a dict or list literal, a constant, or another validator),\n"
    "or with the combinators union, intersection, complement and recursive.\n\n"
    "Validation is a membership test against the set the schema denotes: the value\n"
    "is never copied or coerced.  A validator never changes after construction and\n"
    "may be shared between threads.  Its repr is the annotation expression that\n"
    "produces it.  It can be copied with copy.copy and copy.deepcopy.  It cannot be\n"
    "subclassed, because every method reads a schema this type built.";

// PyPy's collector sees a validator as a small object: the native memory
// its schema holds is reported as pressure, a rough measure (every node
// counted where it occurs, at a fixed size; bounded by the node limit).
constexpr std::size_t kNativeBytesPerNode = 128;

void report_native_memory(const CompiledSchema& schema) {
    if constexpr (py::kPyPy) {
        const std::uint64_t nodes = ir::count_schema_nodes(schema.root, schema.definitions);
        py::add_memory_pressure(static_cast<std::size_t>(std::min<std::uint64_t>(nodes, ir::kMaxSchemaNodes)) *
                                kNativeBytesPerNode);
    }
}

constexpr const char kTypeName[] = "tessaron.Validator";
constexpr const char kNotABase[] = "type 'tessaron.Validator' is not an acceptable base type";

PyObject* validator_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        // CPython refuses a subclass from the type's flags; PyPy's layer
        // ignores them (see the PyPy slots below).
        if (py::kPyPy && type != validator_type()) {
            PyErr_SetString(PyExc_TypeError, kNotABase);
            return nullptr;
        }
        // Positional-only `schema`: the argument errors are the fast-call ones.
        const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
        std::vector<PyObject*> flat(args ? &PyTuple_GET_ITEM(args, 0) : nullptr,
                                    args ? &PyTuple_GET_ITEM(args, 0) + nargs : nullptr);
        py::Ref kwnames;
        if (kwargs && PyDict_GET_SIZE(kwargs) > 0) {
            kwnames = py::Ref::steal(PyTuple_New(PyDict_GET_SIZE(kwargs)));
            if (!kwnames) return nullptr;
            Py_ssize_t pos = 0, i = 0;
            PyObject *key, *value;
            while (PyDict_Next(kwargs, &pos, &key, &value)) {
                Py_INCREF(key);
                PyTuple_SET_ITEM(kwnames.get(), i++, key);
                flat.push_back(value);
            }
        }
        static const py::ArgSpec spec{.full_name = "Validator.__new__()",
                                      .positional = {"schema"},
                                      .required_positional = 1,
                                      .positional_only = 1};
        PyObject* schema = nullptr;
        if (!py::parse_fastcall(spec, flat.data(), nargs, kwnames.get(), &schema)) return nullptr;

        Pool pool;
        std::vector<ir::Node> definitions;
        ir::Node root;
        CompilationBudget budget;
        if (!build_node(schema, BuildTarget{pool, definitions}, root)) return nullptr;
        CompiledSchema compiled;
        if (!finalize_validator(std::move(root), std::move(pool.objects), std::move(definitions), compiled))
            return nullptr;
        PyObject* self = type->tp_alloc(type, 0);
        if (!self) return nullptr;
        auto* v = reinterpret_cast<ValidatorObject*>(self);
        new (&v->schema) CompiledSchema(std::move(compiled));
        new (&v->precompute) check::PrecomputeCell();
        new (&v->decision_patterns) PatternCache();
        BuiltPatternsScope::offer_current(v->decision_patterns, v->schema);
        v->weakreflist = nullptr;
        report_native_memory(v->schema);
        return self;
    });
}

void validator_dealloc(PyObject* self) {
    auto* v = reinterpret_cast<ValidatorObject*>(self);
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    v->precompute.~PrecomputeCell();
    v->decision_patterns.~PatternCache();
    v->schema.~CompiledSchema();
    if (v->weakreflist) PyObject_ClearWeakRefs(self);
    type->tp_free(self);
    Py_DECREF(type);
}

int validator_traverse(PyObject* self, visitproc visit, void* arg) {
    auto* v = reinterpret_cast<ValidatorObject*>(self);
    Py_VISIT(Py_TYPE(self));
    for (const py::Ref& obj : v->schema.pool) Py_VISIT(obj.get());
    if (const check::Precompute* tables = v->precompute.peek()) return check::visit_precompute(*tables, visit, arg);
    return 0;
}

PyMemberDef validator_members[] = {
    {"__weaklistoffset__", T_PYSSIZET, offsetof(ValidatorObject, weakreflist), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

#ifdef PYPY_VERSION
PyMethodDef validator_pypy_methods[] = {
    py::final_type::init_subclass_method<kNotABase>(),
    {nullptr, nullptr, 0, nullptr},
};
#endif

py::OnceCell<PyTypeObject*> g_validator_type;

bool create_validator_type(std::optional<PyTypeObject*>& out) {
    static PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>(kValidatorDoc)},
        {Py_tp_new, reinterpret_cast<void*>(validator_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(validator_dealloc)},
        {Py_tp_traverse, reinterpret_cast<void*>(validator_traverse)},
        {Py_tp_members, validator_members},
        {Py_tp_methods, validator_method_table()},
        {Py_nb_or, reinterpret_cast<void*>(validator_or)},
        {Py_tp_repr, reinterpret_cast<void*>(validator_repr)},
        {Py_sq_contains, reinterpret_cast<void*>(validator_contains)},
        {Py_tp_hash, reinterpret_cast<void*>(validator_hash_slot)},
        {Py_tp_richcompare, reinterpret_cast<void*>(validator_richcompare)},
#ifdef PYPY_VERSION
        {Py_tp_setattro, reinterpret_cast<void*>(py::final_type::setattro<kTypeName>)},
        {Py_tp_getset, py::final_type::getset<kTypeName>},
#endif
        {0, nullptr},
    };
    static PyType_Spec spec = {
        kTypeName,
        static_cast<int>(sizeof(ValidatorObject)),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE,
        slots,
    };
    PyObject* type = PyType_FromSpec(&spec);
    if (!type) {
        PyErr_SetString(PyExc_RuntimeError, "An error occurred while initializing class Validator");
        return false;
    }
#ifdef PYPY_VERSION
    for (PyMethodDef* def = validator_pypy_methods; def->ml_name; ++def) {
        py::Ref method = py::Ref::steal(PyDescr_NewClassMethod(reinterpret_cast<PyTypeObject*>(type), def));
        if (!method || PyObject_SetAttrString(type, def->ml_name, method.get()) < 0) {
            Py_DECREF(type);
            return false;
        }
    }
#endif
    out.emplace(reinterpret_cast<PyTypeObject*>(type));
    return true;
}

}  // namespace

PyTypeObject* validator_type() {
    PyTypeObject* const* t = g_validator_type.get_or_init(create_validator_type);
    return t ? *t : nullptr;
}

int is_validator(PyObject* obj) {
    PyTypeObject* type = validator_type();
    if (!type) return -1;
    return Py_TYPE(obj) == type || PyType_IsSubtype(Py_TYPE(obj), type);
}

ValidatorObject* downcast_validator(PyObject* obj) {
    int ok = is_validator(obj);
    if (ok < 0) return nullptr;
    if (!ok) {
        if (obj == Py_None) {
            PyErr_SetString(PyExc_TypeError, "'None' is not an instance of 'Validator'");
        } else {
            PyErr_Format(PyExc_TypeError, "'%s' object is not an instance of 'Validator'", Py_TYPE(obj)->tp_name);
        }
        return nullptr;
    }
    return reinterpret_cast<ValidatorObject*>(obj);
}

PyObject* new_validator_object(CompiledSchema&& schema) {
    PyTypeObject* type = validator_type();
    if (!type) return nullptr;
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) {
        CompiledSchema dropped(std::move(schema));
        return nullptr;
    }
    auto* v = reinterpret_cast<ValidatorObject*>(self);
    new (&v->schema) CompiledSchema(std::move(schema));
    new (&v->precompute) check::PrecomputeCell();
    new (&v->decision_patterns) PatternCache();
    BuiltPatternsScope::offer_current(v->decision_patterns, v->schema);
    v->weakreflist = nullptr;
    report_native_memory(v->schema);
    return self;
}

PyObject* validator_from_node(const ir::Node& node) {
    CompiledSchema schema;
    schema.root = node;
    return new_validator_object(std::move(schema));
}

}  // namespace tessaron::python
