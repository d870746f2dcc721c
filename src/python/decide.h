// The set questions of a Validator: `is_empty`, `is_subtype_of`,
// `relation_to` and `is_equivalent`.
//
// Each compiles `other` (when it takes one) into a copy of the receiver's
// pool and definitions and asks the decisions of core/decide/route.h over a
// `PoolOracle`: the structural decisions, and the descriptor route only
// when they answer undecided.  Answers are sound: True (or "subset",
// "not_subset") only on a proof, False or "undecided" otherwise.
#pragma once

#include "python/binding/capi.h"

namespace tessaron::python {

// Method-table entries.
PyObject* is_empty_method(PyObject* self, PyObject* unused);
PyObject* is_subtype_of_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* relation_to_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* is_equivalent_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// `_tessaron._route_counts()`: how this thread's relation decisions ended
// (structural, descriptor, undecided); private, for tests and the sweep.
PyObject* route_counts_function(PyObject* module, PyObject* unused);
extern const char kRouteCountsDoc[];
// `_tessaron._pattern_builds()`: the pattern work of this thread (automata
// built by decisions, their work, matchers compiled); private, for tests.
PyObject* pattern_builds_function(PyObject* module, PyObject* unused);
extern const char kPatternBuildsDoc[];
// `_tessaron._decision_work()`: the structural and product work of this
// thread's decisions; private, for tests.
PyObject* decision_work_function(PyObject* module, PyObject* unused);
extern const char kDecisionWorkDoc[];
PyObject* union_work_function(PyObject* module, PyObject* unused);
extern const char kUnionWorkDoc[];
// `_tessaron._descr_work()`: the descriptor orders' and shape searches' work
// of this thread; private, for tests.
PyObject* descr_work_function(PyObject* module, PyObject* unused);
extern const char kDescrWorkDoc[];

extern const char kIsEmptyDoc[];
extern const char kIsSubtypeOfDoc[];
extern const char kRelationToDoc[];
extern const char kIsEquivalentDoc[];

}  // namespace tessaron::python
