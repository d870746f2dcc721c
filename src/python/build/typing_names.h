// The typing objects the builder recognises specs by.
//
// The builder never compares names: it tests identity with the objects the
// running interpreter's `typing`, `types`, `builtins`, `enum` and
// `collections.abc` define, loaded once per process.  An optional entry the
// interpreter lacks is an empty `Ref` and never matches.
#pragma once

#include "python/binding/capi.h"

#include <vector>

#include "python/binding/ref.h"

namespace tessaron::python {

struct TypingNames {
    py::Ref Any;
    py::Ref Never;          // optional
    py::Ref NoExtraItems;   // optional
    py::Ref NoReturn;       // optional
    py::Ref TypeAliasType;  // optional
    py::Ref Union;
    py::Ref Optional;
    py::Ref UnionType;
    py::Ref Literal;
    py::Ref get_origin;
    py::Ref get_args;
    py::Ref ForwardRef;     // optional
    std::vector<py::Ref> special_forms;  // TypeVar, ParamSpec, TypeVarTuple, _SpecialForm (those present)
    py::Ref Required;       // optional
    py::Ref NotRequired;    // optional
    py::Ref ReadOnly;       // optional
    py::Ref Unpack;         // optional
    py::Ref get_type_hints;
    py::Ref object;
    py::Ref Enum;
    py::Ref Callable;
    py::Ref Ellipsis;

    // True when the optional entry is present and `obj` is it.
    static bool is(const py::Ref& entry, PyObject* obj) { return entry && entry.get() == obj; }
};

// The stored record, loading it on first use; nullptr with the loading error
// set when loading fails (the next call tries again).
const TypingNames* typing_names();

// `dataclasses.is_dataclass`, loaded on first use; nullptr with the error set.
PyObject* is_dataclass_function();

// Reads each of `names` from `module`, keeping those whose lookup succeeds,
// in order; failed lookups are discarded.
std::vector<py::Ref> collect_present_attrs(PyObject* module, std::initializer_list<const char*> names);

}  // namespace tessaron::python
