// Form builders that are not written yet refuse their forms clearly.
// Each is replaced by its real builder as the form becomes supported.
#include "python/build/builder.h"
#include "python/value_text.h"

namespace tessaron::python {

namespace {

bool unsupported(const char* form, PyObject* spec) {
    std::string message = std::string(form) + " schemas are not supported yet: " + safe_repr(spec);
    PyErr_SetString(PyExc_NotImplementedError, message.c_str());
    return false;
}

}  // namespace

bool build_annotated(PyObject* origin, PyObject*, BuildTarget, ir::Node&) {
    return unsupported("Annotated", origin);
}

}  // namespace tessaron::python
