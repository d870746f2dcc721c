// Small helpers every form builder uses to refuse a spec or read an optional
// attribute of it.  Each returns the C-API way (false or -1 with the Python
// exception set).
#pragma once

#include "python/binding/capi.h"

#include <string>

#include "python/binding/ref.h"

namespace tessaron::python {

// NotImplementedError with `message`: the spec denotes no set.
inline bool not_implemented(const std::string& message) {
    PyErr_SetString(PyExc_NotImplementedError, message.c_str());
    return false;
}

// The binding's TypeError for a value that is not of a required builtin type.
inline bool not_an_instance(PyObject* obj, const char* target) {
    PyErr_Format(PyExc_TypeError, "'%s' object is not an instance of '%s'", Py_TYPE(obj)->tp_name, target);
    return false;
}

// Reads an attribute: 1 with the value, 0 when it raised AttributeError
// (cleared), -1 with any other exception set.
inline int read_optional_attr(PyObject* obj, PyObject* name, py::Ref& out) {
    out = py::Ref::steal(PyObject_GetAttr(obj, name));
    if (out) return 1;
    if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
        PyErr_Clear();
        return 0;
    }
    return -1;
}

}  // namespace tessaron::python
