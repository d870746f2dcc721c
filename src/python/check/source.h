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
// `PySource` is a borrowed Python object.  A parsed-JSON source type joins
// it by answering the same members with `is_json == true` and being listed
// in `TS_FOR_EACH_SOURCE` (check/sources.h).
#pragma once

#include <Python.h>

#include <cstdint>

#include "python/binding/ref.h"

namespace tessaron::python::check {

struct PySource {
    static constexpr bool is_json = false;

    PyObject* obj;  // borrowed for the duration of the check

    std::uint64_t identity() const { return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(obj)); }

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

}  // namespace tessaron::python::check
