// The method table of the Validator class.  Each method's body lives with
// the concept it belongs to (validation entry points, value semantics,
// decisions); this file only lists them.
#pragma once

#include "python/binding/capi.h"

namespace tessaron::python {

PyMethodDef* validator_method_table();

}  // namespace tessaron::python
