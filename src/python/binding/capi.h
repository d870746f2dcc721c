// The interpreter's C API, as every file under src/python sees it.
//
// Files of the binding include this header instead of <Python.h> (and of
// the headers that come with it); tests/test_layering.py holds to that.
// The module builds against CPython 3.11 to 3.13 and against PyPy's C-API
// layer, language level 3.9 and later.  PyPy's layer lacks a few names:
// each shim below stands in for one of them and is defined only where the
// name is missing, so that on CPython this header is <Python.h> and nothing
// more, and CPython's fast paths stay exactly as they are.
//
// Where PyPy's layer differs in behaviour rather than in names (dict
// iteration, type flags it ignores), the code that cares tests
// `py::kPyPy` or PYPY_VERSION and says why.
#pragma once

#include <Python.h>
#include <structmember.h>

#include <cstddef>

namespace tessaron::py {

#ifdef PYPY_VERSION
inline constexpr bool kPyPy = true;
#else
inline constexpr bool kPyPy = false;
#endif

}  // namespace tessaron::py

// Strong references as expressions (3.10).
#if PY_VERSION_HEX < 0x030A0000 && !defined(Py_NewRef)
static inline PyObject* Py_NewRef(PyObject* obj) {
    Py_INCREF(obj);
    return obj;
}
static inline PyObject* Py_XNewRef(PyObject* obj) {
    Py_XINCREF(obj);
    return obj;
}
#endif

// Module helpers of 3.10 that PyPy 3.9's layer lacks, through the calls
// it has.
#if defined(PYPY_VERSION) && PY_VERSION_HEX < 0x030A0000
static inline PyObject* PyModule_GetNameObject(PyObject* module) {
    return PyObject_GetAttrString(module, "__name__");
}
static inline int PyModule_AddObjectRef(PyObject* module, const char* name, PyObject* value) {
    if (!value) {
        if (!PyErr_Occurred())
            PyErr_SetString(PyExc_SystemError, "PyModule_AddObjectRef() called with no value and no exception");
        return -1;
    }
    Py_INCREF(value);
    if (PyModule_AddObject(module, name, value) < 0) {  // steals only on success
        Py_DECREF(value);
        return -1;
    }
    return 0;
}
#endif

// Type flags PyPy's layer does not know (3.10).  Defined as no flag at all:
// there the types that carry them refuse subclassing, instantiation and new
// attributes by their own slots (validator.cc, errors.cc).
#ifndef Py_TPFLAGS_IMMUTABLETYPE
#define Py_TPFLAGS_IMMUTABLETYPE 0
#endif
#ifndef Py_TPFLAGS_DISALLOW_INSTANTIATION
#define Py_TPFLAGS_DISALLOW_INSTANTIATION 0
#endif

// Whether a code point prints as itself, as `str.isprintable` says.  Where
// the macro is missing, ASCII is answered here and any other code point by
// `str.isprintable` on a one-character string; a failure of that call
// answers "does not print" (the caller then escapes the character).
#ifndef Py_UNICODE_ISPRINTABLE
static inline int tessaron_unicode_isprintable(Py_UCS4 c) {
    if (c < 0x80) return c >= 0x20 && c < 0x7F;
    PyObject* text = PyUnicode_FromOrdinal(static_cast<int>(c));
    PyObject* answer = text ? PyObject_CallMethod(text, "isprintable", nullptr) : nullptr;
    Py_XDECREF(text);
    if (!answer) {
        PyErr_Clear();
        return 0;
    }
    const int printable = answer == Py_True;
    Py_DECREF(answer);
    return printable;
}
#define Py_UNICODE_ISPRINTABLE(c) tessaron_unicode_isprintable(c)
#endif

// Pausing the cyclic collector (3.10).  PyPy 3.9's layer has no such call,
// and its collector does not rescan the objects a parse builds the way
// CPython's does; the shim reports a collector that was not running, so
// nothing is paused and nothing resumed.
#if defined(PYPY_VERSION) && PY_VERSION_HEX < 0x030A0000
static inline int PyGC_Disable(void) { return 0; }
static inline int PyGC_Enable(void) { return 0; }
#endif

// The item counts of a tuple and of a dict.  On CPython both macros read
// the object's own storage and never run Python code.  PyPy's layer gives
// them another meaning for a subclass that overrides `__len__`: its
// PyDict_GET_SIZE is `len()`, which calls the override every time, and its
// PyTuple_GET_SIZE reads the size of the C-API view, which the layer sized
// by calling the override when it made the view (the items past the real
// ones are then never filled in: reading them is reading garbage).  The
// shims below give the macros CPython's meaning for every interpreter: an
// exact tuple or dict reads as before; a subclass instance is measured by
// the builtin type's own `__len__`, and a tuple's count never exceeds its
// view's.  The builtin `__len__` runs no user code; should it fail (out of
// memory), a dict reads -1 and a tuple 0, with the exception set, for the
// caller's entry to raise.
#ifdef PYPY_VERSION
static inline Py_ssize_t tessaron_builtin_len(PyTypeObject* type, PyObject* obj) {
    PyObject* method = PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__len__");
    if (!method) return -1;
    PyObject* n = PyObject_CallOneArg(method, obj);
    Py_DECREF(method);
    if (!n) return -1;
    const Py_ssize_t count = PyLong_AsSsize_t(n);
    Py_DECREF(n);
    return count;
}
static inline Py_ssize_t tessaron_tuple_size(PyObject* tuple) {
    const Py_ssize_t view = Py_SIZE(tuple);
    if (PyTuple_CheckExact(tuple)) return view;
    const Py_ssize_t own = tessaron_builtin_len(&PyTuple_Type, tuple);
    if (own < 0) return 0;
    return own < view ? own : view;
}
static inline Py_ssize_t tessaron_dict_size(PyObject* dict) {
    if (PyDict_CheckExact(dict)) return PyDict_Size(dict);
    return tessaron_builtin_len(&PyDict_Type, dict);
}
#undef PyTuple_GET_SIZE
#define PyTuple_GET_SIZE(op) tessaron_tuple_size(reinterpret_cast<PyObject*>(op))
#undef PyDict_GET_SIZE
#define PyDict_GET_SIZE(op) tessaron_dict_size(reinterpret_cast<PyObject*>(op))
#endif

namespace tessaron::py {

// Tells PyPy's collector that an object it sees as small holds `bytes` of
// native memory, so that a loop making and dropping such objects triggers
// its major collections as the memory grows.  CPython frees by reference
// count and needs no hint.
inline void add_memory_pressure(std::size_t bytes) {
#ifdef PYPY_VERSION
    _PyPyGC_AddMemoryPressure(static_cast<Py_ssize_t>(bytes));
#else
    (void)bytes;
#endif
}

// A new dict sized for `n` keys, so that filling it never resizes (a
// private CPython call; PyPy's dicts are created empty).
inline PyObject* new_presized_dict(Py_ssize_t n) {
#ifdef PYPY_VERSION
    (void)n;
    return PyDict_New();
#else
    return _PyDict_NewPresized(n);
#endif
}

}  // namespace tessaron::py
