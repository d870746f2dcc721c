// The module functions union, intersection, complement and recursive, and
// the `|` operator on validators.
#pragma once

#include "python/binding/capi.h"

namespace tessaron::python {

PyObject* union_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* intersection_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* complement_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* recursive_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// The nb_or slot.
PyObject* validator_or(PyObject* a, PyObject* b);

extern const char kUnionDoc[];
extern const char kIntersectionDoc[];
extern const char kComplementDoc[];
extern const char kRecursiveDoc[];

}  // namespace tessaron::python
