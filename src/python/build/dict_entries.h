// Reading a dict's items in order while user code may change the dict.
//
// The builders read a dict (a record literal, a class's type hints) item by
// item and run arbitrary user code between two items (nested builds).  The
// reader follows the interpreter's own dict iterator: it takes the size when
// it starts, fails with "dictionary changed size during iteration" when the
// size differs at any step, and with "dictionary keys changed during
// iteration" when it meets more items than it started with (a key replaced
// by another; where the items come from a snapshot, when the keys at the
// end are not those of the start).  Each item comes out as two strong
// references, so a change that drops the dict's own references cannot free
// them under the builder.  The caller keeps the dict itself alive.
#pragma once

#include "python/binding/capi.h"
#include "python/binding/dict_items.h"
#include "python/binding/ref.h"

namespace tessaron::python {

class DictEntries {
public:
    explicit DictEntries(PyObject* dict) : dict_(dict) {}

    // 1 with the next item, 0 at the end, -1 with the exception set.
    int next(py::Ref& key, py::Ref& value) {
        if (!opened_) {
            if (!items_.open(dict_)) return -1;
            opened_ = true;
            remaining_ = items_.start();
        }
        if (items_.size() != items_.start()) {
            PyErr_SetString(PyExc_RuntimeError, "dictionary changed size during iteration");
            return -1;
        }
        PyObject* k = nullptr;
        PyObject* v = nullptr;
        if (!items_.next(k, v)) {
            const int same = items_.keys_unchanged();
            if (same < 0) return -1;
            if (same == 0) return keys_changed();
            return 0;
        }
        if (remaining_ == 0) return keys_changed();
        --remaining_;
        key = py::Ref::borrow(k);
        value = py::Ref::borrow(v);
        return 1;
    }

private:
    static int keys_changed() {
        PyErr_SetString(PyExc_RuntimeError, "dictionary keys changed during iteration");
        return -1;
    }

    PyObject* dict_;
    py::DictItems items_;
    bool opened_ = false;
    Py_ssize_t remaining_ = 0;
};

}  // namespace tessaron::python
