// What the walk reads: a value source.
//
// The walk is one function template over its source type.  A source names
// one value without owning it and answers the questions the generic checks
// ask of any value: its identity (for the recursion guard), the scalar type
// tests of the kinds None to bytes, and a Python object for the checks that
// must hand the value to Python (literal, instance, object attributes,
// refinements, value texts).  Checks whose algorithm depends on the shape of
// the input (sequences, sets, mappings) are overloads per source type.
//
// `ValueSource` states that contract; `walk` and every check template are
// constrained by it.  `PySource` is a borrowed Python object; `JsonSource`
// (json_source.h) one value of a parsed JSON document.  A source type joins
// the walk by meeting the concept and being listed in `TS_FOR_EACH_SOURCE`
// (check/sources.h), plus its overloads of the shape-dependent checks.
#pragma once

#include "python/binding/capi.h"

#include <concepts>
#include <cstdint>

#include "python/binding/ref.h"

namespace tessaron::python::check {

// A value source: names one value without owning it.
//   is_json        true for a source whose values are not Python objects
//                  (scalar tests read the source's own kinds)
//   identity()     a number equal for the same value, for the recursion
//                  guard
//   is_none() ... is_bytes()   the scalar type tests (is_exact_bool: bool
//                  itself; is_int: int and its subclasses, bool included)
//   as_python(holder)  the value as a Python object, borrowed from the
//                  source or held by `holder`; nullptr with the exception
//                  set when a conversion raised
template <class S>
concept ValueSource = requires(const S& s, py::Ref& holder) {
    { S::is_json } -> std::convertible_to<bool>;
    { s.identity() } -> std::same_as<std::uint64_t>;
    { s.is_none() } -> std::same_as<bool>;
    { s.is_exact_bool() } -> std::same_as<bool>;
    { s.is_int() } -> std::same_as<bool>;
    { s.is_float() } -> std::same_as<bool>;
    { s.is_str() } -> std::same_as<bool>;
    { s.is_bytes() } -> std::same_as<bool>;
    { s.as_python(holder) } -> std::same_as<PyObject*>;
};

struct PySource {
    static constexpr bool is_json = false;

    PyObject* obj;  // borrowed for the duration of the check
    // Where the walk reached the value: the identity of the container it
    // was read from (a dict's identity plus one for its keys) and its slot
    // there (a position, a declared key's index, or a key's identity with
    // the top bit set).  0 for the value a walk starts at.  The walk tells
    // a value held by two parents by its places (walk.cc); the several
    // checks that walk one value at one place (union members, a mapping's
    // two passes) all name the same place.
    std::uint64_t parent = 0;
    std::uint64_t slot = 0;

    std::uint64_t identity() const { return identity_of(obj); }
    static std::uint64_t identity_of(PyObject* o) {
        return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(o));
    }

    bool is_none() const { return obj == Py_None; }
    bool is_exact_bool() const { return Py_IS_TYPE(obj, &PyBool_Type); }
    bool is_int() const { return PyLong_Check(obj); }
    bool is_float() const { return PyFloat_Check(obj); }
    bool is_str() const { return PyUnicode_Check(obj); }
    bool is_bytes() const { return PyBytes_Check(obj); }

    // The value as a Python object: the object itself.  A source that has
    // to convert puts the new object in `holder`; nullptr means the
    // conversion raised (the exception is set).
    PyObject* as_python(py::Ref& /*holder*/) const { return obj; }
};
static_assert(ValueSource<PySource>);

}  // namespace tessaron::python::check
