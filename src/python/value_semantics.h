// A Validator as a value: copying, the refusal to pickle, hashing and
// equality, and the rewriting methods `open`, `close` and `simplify`, each
// of which returns a new validator and leaves the receiver unchanged.
#pragma once

#include "python/binding/capi.h"

namespace tessaron::python {

// Method-table entries.
PyObject* copy_method(PyObject* self, PyObject* unused);
PyObject* deepcopy_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* reduce_method(PyObject* self, PyObject* unused);
PyObject* open_method(PyObject* self, PyObject* unused);
PyObject* close_method(PyObject* self, PyObject* unused);
PyObject* simplify_method(PyObject* self, PyObject* unused);

// The tp_hash and tp_richcompare slots.
Py_hash_t validator_hash_slot(PyObject* self);
PyObject* validator_richcompare(PyObject* self, PyObject* other, int op);

extern const char kCopyDoc[];
extern const char kDeepcopyDoc[];
extern const char kReduceDoc[];
extern const char kOpenDoc[];
extern const char kCloseDoc[];
extern const char kSimplifyDoc[];

// The messages these methods raise or warn with.
extern const char kPickleRefusal[];
extern const char kSimplifyDeprecation[];

}  // namespace tessaron::python
