// `ValidationError`: the exception of a value outside a schema's set.
//
// A raised instance has `args == (message,)` and one instance attribute,
// `_failures`, a `Failures` carrier owning the walk's violations.  The six
// documented attributes (`errors`, `code`, `path`, `message`, `expected`,
// `value`) are built from the carrier on first read and cached on the
// instance; `__reduce__` forces them out and drops the carrier, so pickles
// and copies hold plain data.  The class gets its `__getattr__`, its
// `__reduce__` and one documented descriptor per attribute (what dir() and
// help() show) from a small Python text compiled at start-up into the
// helper module "tessaron._error_hooks", which wraps two builtin functions.
#pragma once

#include "python/binding/capi.h"

#include <vector>

#include "python/errors.h"

namespace tessaron::python {

// The class, created once per process; borrowed, or nullptr with an
// exception set.
PyObject* validation_error_type();

// Module execution step: compiles the hooks, installs `__getattr__`,
// `__reduce__` and the attribute descriptors on the class and answers it
// (new reference), or nullptr with an exception set.
PyObject* install_validation_error();

// Takes the violations (possibly none) and answers the `ValidationError`
// instance to raise (new reference), or nullptr with the exception that
// stopped it from being made set.
PyObject* raise_validation_error(std::vector<Violation>&& violations);

// `raise_validation_error` and set the result as the current exception.
// Always leaves an exception set.
void set_validation_error(std::vector<Violation>&& violations);

}  // namespace tessaron::python
