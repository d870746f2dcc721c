// The validation walk: is a value a member of the set a node denotes?
//
// `walk` is one recursive function template over the value source (see
// source.h).  It dispatches on the node's kind; the scalar, literal,
// instance, back-edge and placeholder checks live with it (walk.cc), the
// others in their own files, each calling back into `walk` for children:
//   sequence.cc   lists, tuples, sets and frozensets
//   composite.cc  unions, intersections, complements
//   mapping.cc    records, dicts, object attributes
//   refined.cc    bounds, lengths, divisors, predicates, patterns
//
// `walk` never raises: Python exceptions follow the rule of context.h, and
// a crossed limit is a failure with code "recursion_limit".  In the
// recording modes it appends the failures it finds to the context.
#pragma once

#include "python/binding/capi.h"

#include <span>

#include "core/ir/node.h"
#include "python/binding/ref.h"
#include "python/check/context.h"
#include "python/check/json_source.h"
#include "python/check/source.h"

namespace tessaron::python::check {

template <ValueSource Source>
bool walk(const ir::Node& node, const Source& src, WalkContext& ctx);

// Exact builtin types whose `==` is reflexive, cannot be overridden and
// never raises: for them `value is constant` already answers `==`.
inline bool has_plain_equality(PyTypeObject* type) {
    return type == &PyLong_Type || type == &PyUnicode_Type || type == &PyBytes_Type || type == &PyBool_Type ||
           type == Py_TYPE(Py_None);
}

// The verdict of a walk of `node` against a Python value when it can be
// given without a walk state: a scalar kind is a type test, and a literal
// of a type with plain equality a comparison that cannot raise.  1 member,
// 0 not, -1 no quick answer (walk it).
inline int quick_verdict(const ir::Node& node, std::span<const py::Ref> pool, PyObject* value) {
    switch (node.kind) {
        case ir::NodeKind::Anything: return 1;
        case ir::NodeKind::Nothing: return 0;
        case ir::NodeKind::None: return value == Py_None;
        case ir::NodeKind::Bool: return Py_IS_TYPE(value, &PyBool_Type);
        case ir::NodeKind::Int: return PyLong_Check(value);
        case ir::NodeKind::Float: return PyFloat_Check(value);
        case ir::NodeKind::Str: return PyUnicode_Check(value);
        case ir::NodeKind::Bytes: return PyBytes_Check(value);
        case ir::NodeKind::Literal: {
            if (node.pool_index() >= pool.size()) return -1;
            PyObject* constant = pool[node.pool_index()].get();
            PyTypeObject* type = Py_TYPE(value);
            if (type != Py_TYPE(constant)) return 0;
            if (!has_plain_equality(type)) return -1;
            if (value == constant) return 1;
            const int equal = PyObject_RichCompareBool(value, constant, Py_EQ);
            if (equal >= 0) return equal;
            PyErr_Clear();  // not reached: these comparisons cannot fail
            return -1;
        }
        default: return -1;
    }
}

// The type test of a scalar kind (anything to bytes) on any source, as
// `walk` answers it for a node of that kind, without entering a level.
template <ValueSource Source>
bool scalar_member(ir::NodeKind kind, const Source& src) {
    switch (kind) {
        case ir::NodeKind::Anything: return true;
        case ir::NodeKind::None: return src.is_none();
        case ir::NodeKind::Bool: return src.is_exact_bool();
        case ir::NodeKind::Int: return src.is_int();
        case ir::NodeKind::Float: return src.is_float();
        case ir::NodeKind::Str: return src.is_str();
        case ir::NodeKind::Bytes: return src.is_bytes();
        default: return false;
    }
}

// Whether a check of `node` can run no user code whatever the value: a
// scalar kind is a type test; a literal whose constant has plain equality
// is a type test and a comparison that calls nothing; a union,
// intersection or complement of such nodes walks only them.  Containers,
// instances, attributes, refinements and back edges are not (they may call
// `__eq__`, `__instancecheck__`, `__getattr__`, predicates, or allocate).
// Such a check may be run once more without any observable difference; the
// recording modes use that to answer a valid value with the verdict-only
// walk first.  `budget` bounds the nodes looked at: past it the answer is
// false.
bool runs_no_user_code(const ir::Node& node, std::span<const py::Ref> pool, int& budget);

// --- the per-kind checks (the node is of the kind named) ------------------

template <ValueSource Source>
bool check_union(const ir::Node& node, const Source& src, WalkContext& ctx);
template <ValueSource Source>
bool check_intersection(const ir::Node& node, const Source& src, WalkContext& ctx);
template <ValueSource Source>
bool check_complement(const ir::Node& node, const Source& src, WalkContext& ctx);
template <ValueSource Source>
bool check_set(const ir::Node& node, const Source& src, WalkContext& ctx);
template <ValueSource Source>
bool check_object_attributes(const ir::Node& node, const Source& src, WalkContext& ctx);
template <ValueSource Source>
bool check_refined(const ir::Node& node, const Source& src, WalkContext& ctx);

// Records the failure of a predicate that a verdict-only walk met, as the
// predicate's check records it, at the current path plus `segment`
// (refined.cc).  Nothing when `miss` holds none.
void push_predicate_miss(const PredicateMiss& miss, PathSegment segment, WalkContext& ctx);

// Checks whose algorithm depends on the shape of the input: one overload
// per source type.
bool check_sequence(const ir::Node& node, const PySource& src, WalkContext& ctx);
bool check_mapping(const ir::Node& node, const PySource& src, WalkContext& ctx);
bool check_sequence(const ir::Node& node, const JsonSource& src, WalkContext& ctx);  // json_checks.cc
bool check_mapping(const ir::Node& node, const JsonSource& src, WalkContext& ctx);   // json_checks.cc

}  // namespace tessaron::python::check
