// Hashes and equality of pooled objects for the core's hashing and
// comparison of schema trees.
//
// What it computes: the hash of a pooled object and of its type, and
// whether two pooled objects (of two pools) are equal: the same object, or
// objects of one exact type that compare equal.  Invariants: no exception
// leaves an answer -- a hash that raised is absent, a comparison that
// raised is "unequal" -- so the core sees plain values.  Budget: one hash
// or one comparison per question.
#include "python/pool_access.h"

namespace tessaron::python {

std::optional<std::uint64_t> PythonPoolAccess::object_hash(std::uint64_t index) const {
    PyObject* obj = object(index);
    if (!obj) return std::nullopt;
    Py_hash_t h = PyObject_Hash(obj);
    if (h == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(h);
}

std::optional<std::uint64_t> PythonPoolAccess::type_hash(std::uint64_t index) const {
    PyObject* obj = object(index);
    if (!obj) return std::nullopt;
    Py_hash_t h = PyObject_Hash(reinterpret_cast<PyObject*>(Py_TYPE(obj)));
    if (h == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(h);
}

bool PythonPoolAccess::objects_equal(std::uint64_t index, const ir::PoolAccess& other,
                                     std::uint64_t other_index) const {
    const auto* py_other = dynamic_cast<const PythonPoolAccess*>(&other);
    if (!py_other) return false;
    return pool_objects_equal(object(index), py_other->object(other_index));
}

bool pool_objects_equal(PyObject* x, PyObject* y) {
    if (!x || !y) return false;
    if (x == y) return true;
    if (Py_TYPE(x) != Py_TYPE(y)) return false;
    int eq = PyObject_RichCompareBool(x, y, Py_EQ);
    if (eq < 0) {
        PyErr_Clear();
        return false;
    }
    return eq == 1;
}

}  // namespace tessaron::python
