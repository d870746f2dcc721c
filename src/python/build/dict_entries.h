// Reading a dict's items in order while user code may change the dict.
//
// The builders read a dict (a record literal, a class's type hints) item by
// item and run arbitrary user code between two items (nested builds).  The
// reader follows the interpreter's own dict iterator: it takes the size when
// it starts, fails with "dictionary changed size during iteration" when the
// size differs at any step, and with "dictionary keys changed during
// iteration" when it meets more items than it started with (a key replaced
// by another).  Each item comes out as two strong references, so a change
// that drops the dict's own references cannot free them under the builder.
// The caller keeps the dict itself alive.
#pragma once

#include <Python.h>

#include "python/binding/ref.h"

namespace tessaron::python {

class DictEntries {
public:
    explicit DictEntries(PyObject* dict) : dict_(dict), size_(PyDict_GET_SIZE(dict)), remaining_(size_) {}

    // 1 with the next item, 0 at the end, -1 with the RuntimeError set.
    int next(py::Ref& key, py::Ref& value) {
        if (PyDict_GET_SIZE(dict_) != size_) {
            PyErr_SetString(PyExc_RuntimeError, "dictionary changed size during iteration");
            return -1;
        }
        PyObject* k = nullptr;
        PyObject* v = nullptr;
        if (!PyDict_Next(dict_, &position_, &k, &v)) return 0;
        if (remaining_ == 0) {
            PyErr_SetString(PyExc_RuntimeError, "dictionary keys changed during iteration");
            return -1;
        }
        --remaining_;
        key = py::Ref::borrow(k);
        value = py::Ref::borrow(v);
        return 1;
    }

private:
    PyObject* dict_;
    Py_ssize_t size_;
    Py_ssize_t remaining_;
    Py_ssize_t position_ = 0;
};

}  // namespace tessaron::python
