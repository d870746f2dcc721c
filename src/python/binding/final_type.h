// A final class whose instances take no new attributes, on PyPy.
//
// CPython keeps a type final and its instances closed by the type's flags
// (no Py_TPFLAGS_BASETYPE, no `__dict__` slot).  PyPy's C-API layer
// ignores both, so a type made from a spec there also gets these slots:
// `__init_subclass__` refuses a subclass when it is declared (the type's
// tp_new refuses one as well), `tp_setattro` refuses every attribute an
// instance would otherwise take into a `__dict__`, and a `__dict__`
// getter says there is none.  The messages are CPython's own for such a
// type, `Name` its qualified name ("tessaron.Validator").
#pragma once

#include "python/binding/capi.h"

#ifdef PYPY_VERSION

#include "python/binding/entry.h"

namespace tessaron::py::final_type {

template <const char* NotABase>
PyObject* init_subclass(PyObject*, PyObject*, PyObject*) {
    PyErr_SetString(PyExc_TypeError, NotABase);
    return nullptr;
}

template <const char* Name>
int setattro(PyObject* self, PyObject* name, PyObject*) {
    return py::guarded<int>(-1, [&]() -> int {
        if (PyObject_HasAttr(reinterpret_cast<PyObject*>(Py_TYPE(self)), name))
            PyErr_Format(PyExc_AttributeError, "'%s' object attribute '%U' is read-only", Name, name);
        else
            PyErr_Format(PyExc_AttributeError, "'%s' object has no attribute '%U'", Name, name);
        return -1;
    });
}

template <const char* Name>
PyObject* no_dict(PyObject*, void*) {
    PyErr_Format(PyExc_AttributeError, "'%s' object has no attribute '__dict__'", Name);
    return nullptr;
}

// The getter table of a type without `__dict__`.
template <const char* Name>
inline PyGetSetDef getset[] = {
    {"__dict__", no_dict<Name>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// The `__init_subclass__` entry of a method table.
template <const char* NotABase>
inline PyMethodDef init_subclass_method() {
    return {"__init_subclass__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(init_subclass<NotABase>)),
            METH_VARARGS | METH_KEYWORDS | METH_CLASS, nullptr};
}

}  // namespace tessaron::py::final_type

#endif
