// The builtin containers' own `__len__` and `__iter__`, and the reads that
// use them.
//
// What it computes: a value's length and a set's iterator as the builtin
// type would give them, whatever a subclass overrides.  Invariant: the two
// method tables are loaded once per process (a failed load leaves its cell
// empty and is retried on the next use) and never change.  Budget: one
// attribute lookup on the value's type per read.
#include "python/check/builtins.h"

#include <array>

#include "python/binding/intern.h"
#include "python/binding/once_cell.h"

namespace tessaron::python::check {

namespace {

using MethodTable = std::array<py::Ref, 7>;

py::OnceCell<MethodTable> g_len_methods;
py::OnceCell<MethodTable> g_iter_methods;

// Reads `name` from list, tuple, str, bytes, set, frozenset and dict, in
// the row order; the first failed lookup ends the load.
bool load_methods(const char* name, std::optional<MethodTable>& out) {
    PyTypeObject* const types[7] = {&PyList_Type, &PyTuple_Type,     &PyUnicode_Type, &PyBytes_Type,
                                    &PySet_Type,  &PyFrozenSet_Type, &PyDict_Type};
    MethodTable table;
    for (int i = 0; i < 7; ++i) {
        table[i] = py::Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(types[i]), name));
        if (!table[i]) return false;
    }
    out.emplace(std::move(table));
    return true;
}

const MethodTable* len_methods() {
    return g_len_methods.get_or_init([](std::optional<MethodTable>& out) { return load_methods("__len__", out); });
}
const MethodTable* iter_methods() {
    return g_iter_methods.get_or_init([](std::optional<MethodTable>& out) { return load_methods("__iter__", out); });
}

// Whether looking `name` up on `type` gives the very object `expected`;
// 0 no, 1 yes, -1 the lookup raised (exception set).
int type_attr_is(PyTypeObject* type, PyObject* name, PyObject* expected) {
    py::Ref found = py::Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(type), name));
    if (!found) return -1;
    return found.get() == expected ? 1 : 0;
}

// The builtin's own `__len__` of `row` applied to the value.
bool builtin_len(PyObject* value, BuiltinRow row, std::uint64_t& out) {
    const MethodTable* table = len_methods();
    if (!table) return false;
    py::Ref n = py::Ref::steal(PyObject_CallOneArg((*table)[row].get(), value));
    if (!n) return false;
    const unsigned long long count = PyLong_AsUnsignedLongLong(n.get());
    if (count == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = count;
    return true;
}

bool plain_len(PyObject* value, std::uint64_t& out) {
    const Py_ssize_t n = PyObject_Length(value);
    if (n < 0) return false;
    out = static_cast<std::uint64_t>(n);
    return true;
}

// `len()` when the type keeps the builtin `__len__` of `row`, else the
// builtin's own.  A failed lookup of the type attribute falls back to the
// builtin's own as well, unless it is fatal.
bool row_len(PyObject* value, BuiltinRow row, std::uint64_t& out) {
    const MethodTable* table = len_methods();
    if (!table) return false;
    const int same = type_attr_is(Py_TYPE(value), TS_INTERNED("__len__"), (*table)[row].get());
    if (same < 0 && !py::clear_unless_fatal()) return false;
    if (same > 0) return plain_len(value, out);
    return builtin_len(value, row, out);
}

}  // namespace

bool value_length(PyObject* value, std::uint64_t& out) {
    PyTypeObject* type = Py_TYPE(value);
    if (type == &PyUnicode_Type || type == &PyList_Type || type == &PyDict_Type || type == &PyTuple_Type ||
        type == &PyBytes_Type || type == &PySet_Type || type == &PyFrozenSet_Type)
        return plain_len(value, out);
    if (PyUnicode_Check(value)) return row_len(value, kRowStr, out);
    if (PyList_Check(value)) return row_len(value, kRowList, out);
    if (PyDict_Check(value)) return row_len(value, kRowDict, out);
    if (PyTuple_Check(value)) return row_len(value, kRowTuple, out);
    if (PyBytes_Check(value)) return row_len(value, kRowBytes, out);
    if (PySet_Check(value)) return row_len(value, kRowSet, out);
    if (PyFrozenSet_Check(value)) return row_len(value, kRowFrozenset, out);
    return plain_len(value, out);
}

PyObject* builtin_iter(PyObject* value) {
    PyTypeObject* type = Py_TYPE(value);
    BuiltinRow row;
    if (type == &PySet_Type || type == &PyFrozenSet_Type) return PyObject_GetIter(value);
    if (PySet_Check(value))
        row = kRowSet;
    else if (PyFrozenSet_Check(value))
        row = kRowFrozenset;
    else
        return PyObject_GetIter(value);
    const MethodTable* table = iter_methods();
    if (!table) return nullptr;
    PyObject* own = (*table)[row].get();
    const int same = type_attr_is(type, TS_INTERNED("__iter__"), own);
    if (same < 0 && !py::clear_unless_fatal()) return nullptr;
    if (same > 0) return PyObject_GetIter(value);
    py::Ref result = py::Ref::steal(PyObject_CallOneArg(own, value));
    if (!result) return nullptr;
    return PyObject_GetIter(result.get());
}

bool len_is_builtin(PyObject* value, BuiltinRow row, WalkState& st) {
    const MethodTable* table = len_methods();
    if (!table) {
        absorb_error(st);
        return false;
    }
    const int same = type_attr_is(Py_TYPE(value), TS_INTERNED("__len__"), (*table)[row].get());
    if (same < 0) absorb_error(st);
    return same > 0;
}

#ifdef PYPY_VERSION
bool storage_readable(PyObject* value, Py_ssize_t n, WalkState& st) {
    if (PyTuple_Check(value) && !PyTuple_CheckExact(value)) {
        // The size macro reads the smaller of the view's size and the
        // tuple's own; a view shorter than the items is incomplete.
        std::uint64_t own = 0;
        if (!builtin_len(value, kRowTuple, own)) {
            absorb_error(st);
            return false;
        }
        if (own != static_cast<std::uint64_t>(n)) return false;
    }
    if (n == 0) return true;
    PyObject* const* items = PySequence_Fast_ITEMS(value);
    if (!items) {
        absorb_error(st);
        return false;
    }
    for (Py_ssize_t i = 0; i < n; ++i)
        if (!items[i]) return false;
    return true;
}
#endif

}  // namespace tessaron::python::check
