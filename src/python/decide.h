// The set questions of a Validator: `is_empty`, `is_subtype_of`,
// `relation_to` and `is_equivalent`.
//
// Each compiles `other` (when it takes one) into a copy of the receiver's
// pool and definitions, asks the structural decisions of core/decide over a
// `PoolOracle`, and falls back on the descriptor route only when they
// answer undecided.  Answers are sound: True (or "subset", "not_subset")
// only on a proof, False or "undecided" otherwise.
#pragma once

#include <Python.h>

#include <span>

#include "core/decide/decision.h"
#include "core/decide/oracle.h"
#include "core/ir/node.h"

namespace tessaron::python {

// Method-table entries.
PyObject* is_empty_method(PyObject* self, PyObject* unused);
PyObject* is_subtype_of_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* relation_to_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* is_equivalent_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

extern const char kIsEmptyDoc[];
extern const char kIsSubtypeOfDoc[];
extern const char kRelationToDoc[];
extern const char kIsEquivalentDoc[];

// The descriptor route for "left within right" over one pool and one
// definitions list, combined with what the recursion of the two roots
// allows it to claim: 0 subset, 1 not a subset, 2 undecided.
decide::Decision decide_subset_by_descr(const ir::Node& left, const ir::Node& right, decide::Oracle& oracle,
                                        std::span<const ir::Node> definitions);

}  // namespace tessaron::python
