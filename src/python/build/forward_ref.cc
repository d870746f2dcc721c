// Forward references in type-argument position.
//
// The builder works on the types themselves and never evaluates a name: a
// str or a `typing.ForwardRef` where a typing form expects a type (the
// arguments of list, set, dict, tuple, Union and the typed-dict qualifiers,
// and a typed dict's `extra_items`)
// is refused with a message that says how to resolve it first.  Anywhere
// else a str is an ordinary constant (`Validator("a")`, `["a"]`,
// `Literal["a"]`), so the test lives here and not in the dispatcher's
// constant rule.  The dispatcher shares the message for a `ForwardRef`
// given at the top.
#include "python/build/builder.h"
#include "python/value_text.h"

namespace tessaron::python {

bool refuse_forward_reference(PyObject* arg) {
    const std::string message =
        safe_repr(arg) +
        " is a forward reference, and a schema is built from the types themselves: resolve the annotation first "
        "with typing.get_type_hints(..., include_extras=True), or write the type rather than its name";
    PyErr_SetString(PyExc_NotImplementedError, message.c_str());
    return false;
}

bool reject_forward_reference(PyObject* arg, BuildTarget target, ir::Node& out) {
    if (PyUnicode_Check(arg)) return refuse_forward_reference(arg);
    const int forward = is_forward_ref(arg);
    if (forward < 0) return false;
    if (forward) return refuse_forward_reference(arg);
    return build_node(arg, target, out);
}

}  // namespace tessaron::python
