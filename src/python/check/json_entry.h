// The JSON entries of a `Validator`: `validate_json`, `load` and
// `is_valid_json`.
#pragma once

#include "python/binding/capi.h"

namespace tessaron::python {

PyObject* validate_json_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* load_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* is_valid_json_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

extern const char kValidateJsonDoc[];
extern const char kLoadDoc[];
extern const char kIsValidJsonDoc[];

}  // namespace tessaron::python
