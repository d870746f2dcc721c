// Reading builtin containers without calling a subclass's overrides.
//
// A subclass of list, tuple, str, bytes, set, frozenset or dict may
// override `__len__` or `__iter__`; the walk never calls such an override
// (it could lie about the value, or mutate it).  `BuiltinMethods` holds the
// builtin types' own `__len__` and `__iter__` (two per-process cells, one
// entry per type in the row order below); a value whose type attribute is
// not the builtin's own is read through the builtin method instead.
#pragma once

#include "python/binding/capi.h"

#include <cstdint>

#include "core/ir/node.h"
#include "python/check/context.h"

namespace tessaron::python::check {

enum BuiltinRow : int {
    kRowList = 0,
    kRowTuple = 1,
    kRowStr = 2,
    kRowBytes = 3,
    kRowSet = 4,
    kRowFrozenset = 5,
    kRowDict = 6,
};

// The length used by the MinLen and MaxLen constraints: `len()` of the
// value, except that a builtin container subclass that overrides `__len__`
// is measured by the builtin's own `__len__`.  False with the exception set.
bool value_length(PyObject* value, std::uint64_t& out);

// The iterator of a set or frozenset (an override of `__iter__` in a
// subclass is bypassed), or of any other iterable.  New reference, or
// nullptr with the exception set.
PyObject* builtin_iter(PyObject* value);

// Whether the value's type answers the builtin's own `__len__` for `row`.
// A failed lookup counts as an override (its exception follows the walk's
// rule).
bool len_is_builtin(PyObject* value, BuiltinRow row, WalkState& st);

// Whether the first `n` items of a list or tuple (n as the size macros
// read it) can be read from its C-API storage.  Always on CPython.  On
// PyPy the storage is a view the C-API layer makes on the first read, and
// a view it could not finish is kept: a tuple subclass whose `__len__`
// answers less than its length (or raises) gets a view shorter than its
// items, and the container whose view was being made when that failed is
// left with an empty slot.  Such a value cannot be read as it is; the
// caller reports it as one that changed while it was checked.  (The
// failure itself is the layer's: it raises when the value is an argument.)
#ifdef PYPY_VERSION
bool storage_readable(PyObject* value, Py_ssize_t n, WalkState& st);
#else
inline bool storage_readable(PyObject*, Py_ssize_t, WalkState&) { return true; }
#endif

// The scalar type test of kinds 0 (anything) to 7 (bytes), without
// recursion, depth or recording.
inline bool scalar_kind_matches(ir::NodeKind kind, PyObject* obj) {
    switch (kind) {
        case ir::NodeKind::Anything: return true;
        case ir::NodeKind::Nothing: return false;
        case ir::NodeKind::None: return obj == Py_None;
        case ir::NodeKind::Bool: return Py_IS_TYPE(obj, &PyBool_Type);
        case ir::NodeKind::Int: return PyLong_Check(obj);
        case ir::NodeKind::Float: return PyFloat_Check(obj);
        case ir::NodeKind::Str: return PyUnicode_Check(obj);
        case ir::NodeKind::Bytes: return PyBytes_Check(obj);
        default: return false;
    }
}

// The scalar kinds (type tests without a Python call) are the eight that
// come first in the kind order, Anything to Bytes; every other kind comes
// after them.
constexpr bool scalar_kinds_come_first() {
    for (int k = 0; k < ir::kNodeKindCount; ++k) {
        bool scalar = false;
        switch (static_cast<ir::NodeKind>(k)) {
            case ir::NodeKind::Anything:
            case ir::NodeKind::Nothing:
            case ir::NodeKind::None:
            case ir::NodeKind::Bool:
            case ir::NodeKind::Int:
            case ir::NodeKind::Float:
            case ir::NodeKind::Str:
            case ir::NodeKind::Bytes:
                scalar = true;
                break;
            case ir::NodeKind::Literal:
            case ir::NodeKind::Sequence:
            case ir::NodeKind::Set:
            case ir::NodeKind::Mapping:
            case ir::NodeKind::Union:
            case ir::NodeKind::Intersection:
            case ir::NodeKind::Complement:
            case ir::NodeKind::Instance:
            case ir::NodeKind::Object:
            case ir::NodeKind::Refined:
            case ir::NodeKind::BackEdge:
            case ir::NodeKind::Placeholder:
                break;
            default:
                return false;  // a kind below the count that is sorted nowhere here
        }
        if (scalar != (k <= static_cast<int>(ir::NodeKind::Bytes))) return false;
    }
    return static_cast<int>(ir::NodeKind::Bytes) == 7;
}
static_assert(scalar_kinds_come_first(), "is_scalar_kind reads the first eight kinds as the scalar ones");

inline bool is_scalar_kind(ir::NodeKind kind) { return static_cast<std::uint8_t>(kind) <= 7; }

}  // namespace tessaron::python::check
