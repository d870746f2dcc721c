// The `_tessaron` extension module.
//
// Multi-phase initialisation: PyInit__tessaron only returns the module
// definition; the execution step adds every attribute, in order, each also
// appended to `__all__`.  The first step that fails aborts the import.
//
// The module's process-wide cells (the Validator class, the typing names,
// ...) hold objects of one interpreter, so it refuses to load into a
// sub-interpreter.
#include "python/binding/capi.h"

#include "core/ir/limits.h"
#include "core/ir/node.h"
#include "python/binding/entry.h"
#include "python/check/entry.h"
#include "python/check/json_stream.h"
#include "python/combinators.h"
#include "python/decide.h"
#include "python/exception.h"
#include "python/oracle.h"
#include "python/regex_marker.h"
#include "python/validator.h"
#include "python/value_text.h"

namespace tessaron::python {

namespace {

const char kModuleDoc[] =
    "tessaron._tessaron: schema algebra and validation for Python values.\n\n"
    "A Validator is compiled once from a schema spec into an immutable schema\n"
    "tree; it answers membership questions (validate, is_valid, ...) and set\n"
    "questions (union, intersection, complement, is_subtype_of, ...).\n\n"
    "The module is ready for a free-threaded interpreter: every shared surface\n"
    "is immutable or internally synchronised.  A Validator never changes after\n"
    "construction; its only lazy state, its lookup tables, is built once behind\n"
    "a once-lock and holds only interned immutable strings that the garbage\n"
    "collector can reach; the validation walk keeps its recursion guard in\n"
    "per-call state.";

// Sets `value` (a new reference, consumed) on the module and appends `name`
// to `__all__`, creating the list first when absent.
bool add_attribute(PyObject* module, const char* name, PyObject* value) {
    py::Ref owned = py::Ref::steal(value);
    if (!owned) return false;
    py::Ref all = py::Ref::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
        PyErr_Clear();
        all = py::Ref::steal(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
    }
    if (PyObject_SetAttrString(module, name, owned.get()) < 0) return false;
    py::Ref key = py::Ref::steal(PyUnicode_FromString(name));
    return key && PyList_Append(all.get(), key.get()) == 0;
}

PyMethodDef kModuleFunctions[] = {
    {"union", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(union_function)),
     METH_FASTCALL | METH_KEYWORDS, kUnionDoc},
    {"intersection", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(intersection_function)),
     METH_FASTCALL | METH_KEYWORDS, kIntersectionDoc},
    {"complement", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(complement_function)),
     METH_FASTCALL | METH_KEYWORDS, kComplementDoc},
    {"recursive", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(recursive_function)),
     METH_FASTCALL | METH_KEYWORDS, kRecursiveDoc},
};

// The work counters of the tests: private, so not in `__all__`.
PyMethodDef kCounterDefs[] = {
    {"_walk_steps", walk_steps_function, METH_NOARGS, kWalkStepsDoc},
    {"_walk_memo_counts", walk_memo_counts_function, METH_NOARGS, kWalkMemoCountsDoc},
    {"_route_counts", route_counts_function, METH_NOARGS, kRouteCountsDoc},
    {"_pattern_builds", pattern_builds_function, METH_NOARGS, kPatternBuildsDoc},
    {"_decision_work", decision_work_function, METH_NOARGS, kDecisionWorkDoc},
    {"_descr_work", descr_work_function, METH_NOARGS, kDescrWorkDoc},
    {"_union_work", union_work_function, METH_NOARGS, kUnionWorkDoc},
    {"_json_key_work", check::json_key_work_function, METH_NOARGS, check::kJsonKeyWorkDoc},
    {"_value_text_work", value_text_work_function, METH_NOARGS, kValueTextWorkDoc},
    {"_pattern_matches", pattern_matches_function, METH_NOARGS, kPatternMatchesDoc},
};

bool add_function(PyObject* module, PyMethodDef* def) {
    py::Ref name = py::Ref::steal(PyObject_GetAttrString(module, "__name__"));
    if (!name) return false;
    return add_attribute(module, def->ml_name, PyCFunction_NewEx(def, module, name.get()));
}

int module_exec(PyObject* module) {
    return py::guarded<int>(-1, [&]() -> int {
        if (!PyModule_Check(module)) {
            PyErr_SetString(PyExc_TypeError, "module_exec expects a module object");
            return -1;
        }
#if PY_VERSION_HEX < 0x030C0000 && !defined(PYPY_VERSION)
        // 3.12+ refuses sub-interpreters through the module slot; PyPy has
        // none.
        if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
            PyErr_SetString(PyExc_ImportError, "_tessaron does not support being loaded in a sub-interpreter");
            return -1;
        }
#endif
        if (!add_attribute(module, "__version__", PyUnicode_FromString("0.0.12"))) return -1;
        if (!add_attribute(module, "_debug_build", Py_NewRef(Py_False))) return -1;
        // ValidationError, with the hooks compiled into "tessaron._error_hooks".
        if (!add_attribute(module, "ValidationError", install_validation_error())) return -1;
        PyTypeObject* type = validator_type();
        if (!type) return -1;
        if (!add_attribute(module, "Validator", Py_NewRef(reinterpret_cast<PyObject*>(type)))) return -1;
        for (PyMethodDef& def : kModuleFunctions)
            if (!add_function(module, &def)) return -1;
        if (!add_attribute(module, "anything", validator_from_node(ir::Node::anything(false)))) return -1;
        if (!add_attribute(module, "nothing", validator_from_node(ir::Node::nothing()))) return -1;
        if (!add_attribute(module, "MAX_SCHEMA_DEPTH", PyLong_FromUnsignedLongLong(ir::kMaxSchemaDepth))) return -1;
        if (!add_attribute(module, "MAX_DEFINITIONS", PyLong_FromUnsignedLongLong(ir::kMaxDefinitions))) return -1;
        if (!add_attribute(module, "MAX_SCHEMA_NODES", PyLong_FromUnsignedLongLong(ir::kMaxSchemaNodes))) return -1;
        // The pattern marker that a validator's repr names: an attribute, but
        // not in `__all__`, which lists what the steps above add; the package
        // `tessaron` lists it in its own.
        PyObject* regex = regex_marker_type();
        if (!regex || PyModule_AddObjectRef(module, "Regex", regex) < 0) return -1;
        py::Ref name = py::Ref::steal(PyModule_GetNameObject(module));
        if (!name) return -1;
        for (PyMethodDef& def : kCounterDefs) {
            py::Ref counter = py::Ref::steal(PyCFunction_NewEx(&def, module, name.get()));
            if (!counter || PyModule_AddObjectRef(module, def.ml_name, counter.get()) < 0) return -1;
        }
        return 0;
    });
}

PyModuleDef_Slot kModuleSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
#if PY_VERSION_HEX >= 0x030C0000
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
#if PY_VERSION_HEX >= 0x030D0000
    {Py_mod_gil, Py_MOD_GIL_USED},
#endif
    {0, nullptr},
};

PyModuleDef kModuleDef = {
    PyModuleDef_HEAD_INIT,
    "_tessaron",
    kModuleDoc,
    0,
    nullptr,
    kModuleSlots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace tessaron::python

PyMODINIT_FUNC PyInit__tessaron(void) { return PyModuleDef_Init(&tessaron::python::kModuleDef); }
