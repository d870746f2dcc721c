// The `_tessaron` extension module, initialised in multiple phases (PEP 489):
// PyInit__tessaron only returns the module definition, and the exec slot
// fills the module object that the interpreter creates from it.
#include <Python.h>

namespace {

int tessaron_exec(PyObject* module) {
    if (PyModule_AddStringConstant(module, "__version__", "0.0.12") < 0) return -1;
    PyObject* all = Py_BuildValue("[s]", "__version__");
    if (all == nullptr) return -1;
    // PyModule_AddObject steals the reference only on success.
    if (PyModule_AddObject(module, "__all__", all) < 0) {
        Py_DECREF(all);
        return -1;
    }
    return 0;
}

PyModuleDef_Slot tessaron_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(tessaron_exec)},
    {0, nullptr},
};

PyModuleDef tessaron_module = {
    PyModuleDef_HEAD_INIT,
    "_tessaron",
    "Schema algebra and validation for Python values.",
    0,
    nullptr,
    tessaron_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__tessaron() { return PyModuleDef_Init(&tessaron_module); }
