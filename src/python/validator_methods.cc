// The Validator method table, in its documented order.
#include "python/validator_methods.h"

namespace tessaron::python {

PyMethodDef* validator_method_table() {
    static PyMethodDef methods[] = {
        {nullptr, nullptr, 0, nullptr},
    };
    return methods;
}

}  // namespace tessaron::python
