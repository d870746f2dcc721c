// Reading a dict's items one at a time while user code may run between
// two of them (nested builds, predicates, other threads).
//
// On CPython the reader steps through the dict's own storage (PyDict_Next):
// no copy, and a change made between two steps is seen by the caller
// comparing `size()` with `start()` before each step, as the interpreter's
// own dict iterator does.
//
// PyPy's C-API layer keeps PyDict_Next's position in the dict itself, not
// in the caller: two iterations of one dict (nested, or on two threads)
// share it, so one of them silently loses items, and a key removed between
// two steps makes the layer fail where it may not and abort the process.
// There the reader takes a snapshot of the items (`dict.items()` as a list,
// a single call that runs no user code) when it opens, and steps through
// that.  The size comparison works the same; a key replaced by another
// (same size) is not seen by the steps there, so a caller that must refuse
// that compares `keys_unchanged()` at the end.
//
// Items come out as borrowed references, alive until user code runs (the
// dict may drop them): callers take their own references at once.  The
// caller keeps the dict alive.
#pragma once

#include "python/binding/capi.h"
#include "python/binding/ref.h"

namespace tessaron::py {

class DictItems {
public:
    // Reads the size; on PyPy also takes the snapshot.  False with the
    // exception set when the snapshot cannot be made (out of memory, or an
    // item the C-API layer cannot represent).
    bool open(PyObject* dict) {
        dict_ = dict;
        start_ = PyDict_GET_SIZE(dict);
        if constexpr (kPyPy) {
            snapshot_ = Ref::steal(PyDict_Items(dict));
            if (!snapshot_) return false;
            snapshot_size_ = PyList_GET_SIZE(snapshot_.get());
            // The layer makes the C-API form of the item pairs here; it
            // fails (exception set) when it cannot make one of a value,
            // such as a tuple subclass whose `__len__` answers less than
            // its length.
            snapshot_items_ = PySequence_Fast_ITEMS(snapshot_.get());
            if (!snapshot_items_ && snapshot_size_ > 0) return false;
        }
        return true;
    }

    Py_ssize_t start() const noexcept { return start_; }
    Py_ssize_t size() const noexcept { return PyDict_GET_SIZE(dict_); }

    // The next item, or false at the end.
    bool next(PyObject*& key, PyObject*& value) {
        if constexpr (kPyPy) {
            if (position_ >= snapshot_size_) return false;
            PyObject* pair = snapshot_items_[position_++];
            key = PyTuple_GET_ITEM(pair, 0);
            value = PyTuple_GET_ITEM(pair, 1);
            return true;
        } else {
            return PyDict_Next(dict_, &position_, &key, &value) != 0;
        }
    }

    // Whether the dict holds the same keys, in the same order, as when the
    // reader opened (no user code runs).  Always true on
    // CPython, where the steps see a replaced key themselves.  -1 with the
    // exception set when the keys cannot be read.
    int keys_unchanged() const {
        if constexpr (!kPyPy) {
            return 1;
        } else {
            Ref keys = Ref::steal(PyDict_Keys(dict_));
            if (!keys) return -1;
            if (PyList_GET_SIZE(keys.get()) != snapshot_size_) return 0;
            PyObject** now = PySequence_Fast_ITEMS(keys.get());
            for (Py_ssize_t i = 0; i < snapshot_size_; ++i)
                if (!same_key(now[i], PyTuple_GET_ITEM(snapshot_items_[i], 0))) return 0;
            return 1;
        }
    }

private:
    // PyPy boxes a str or int key afresh when a dict's storage holds it
    // unboxed, so those compare by value (no user code runs for exact str
    // and int); any other key by identity.
    static bool same_key(PyObject* a, PyObject* b) {
        if (a == b) return true;
        if (Py_TYPE(a) != Py_TYPE(b) || !(PyUnicode_CheckExact(a) || PyLong_CheckExact(a))) return false;
        const int equal = PyObject_RichCompareBool(a, b, Py_EQ);
        if (equal < 0) PyErr_Clear();
        return equal == 1;
    }

    PyObject* dict_ = nullptr;
    Py_ssize_t start_ = 0;
    Py_ssize_t position_ = 0;
    Ref snapshot_;
    PyObject** snapshot_items_ = nullptr;
    Py_ssize_t snapshot_size_ = 0;
};

}  // namespace tessaron::py
