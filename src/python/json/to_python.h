// JSON documents and tree values as Python objects.
//
// `parse_to_python` parses a document straight into Python objects (the
// path of `load` and `validate_json`): objects become dicts (a repeated key
// keeps its first position and takes its last value), arrays lists,
// strings strs, numbers with a fraction or exponent floats and other numbers
// ints of any size.  `json_value_to_python` converts one value of a parsed
// value tree the same way, for the checks of `is_valid_json` that must hand
// a value to Python.
#pragma once

#include "python/binding/capi.h"

#include <string_view>

#include "core/json/failure.h"
#include "core/json/tree.h"

namespace tessaron::python {

// The document as a new Python object.  nullptr when it is refused: with
// `failure` `Malformed` (no Python exception set) for a document we do not
// accept, `Sink` with the Python exception set (memory), or `Stopped` with
// the exception a signal handler raised meanwhile.
PyObject* parse_to_python(std::string_view text, json::ParseFailure& failure);

// One tree value (recursively) as a new Python object, or nullptr with an
// exception set.
PyObject* json_value_to_python(const json::Document& doc, const json::Value& value);

// Whether an int of `digits` decimal digits may be made from text under
// the interpreter's limit on integer string conversion.  False with an
// exception set only when the limit cannot be read.
bool int_digits_allowed(std::size_t digits, bool& allowed);

}  // namespace tessaron::python
