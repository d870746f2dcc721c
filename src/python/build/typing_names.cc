// Loading the typing names once per process.  See typing_names.h.
#include "python/build/typing_names.h"

#include "python/binding/once_cell.h"

namespace tessaron::python {

namespace {

py::OnceCell<TypingNames> g_typing_names;
py::OnceCell<py::Ref> g_is_dataclass;

bool required(PyObject* module, const char* name, py::Ref& slot) {
    slot = py::Ref::steal(PyObject_GetAttrString(module, name));
    return static_cast<bool>(slot);
}

void optional(PyObject* module, const char* name, py::Ref& slot) {
    slot = py::Ref::steal(PyObject_GetAttrString(module, name));
    if (!slot) PyErr_Clear();
}

bool load_typing_names(std::optional<TypingNames>& out) {
    TypingNames n;
    py::Ref typing = py::Ref::steal(PyImport_ImportModule("typing"));
    if (!typing) return false;
    py::Ref builtins = py::Ref::steal(PyImport_ImportModule("builtins"));
    if (!builtins) return false;
    PyObject* t = typing.get();
    if (!required(t, "Any", n.Any)) return false;
    optional(t, "Never", n.Never);
    optional(t, "NoExtraItems", n.NoExtraItems);
    optional(t, "NoReturn", n.NoReturn);
    optional(t, "TypeAliasType", n.TypeAliasType);
    if (!required(t, "Union", n.Union) || !required(t, "Optional", n.Optional)) return false;
    py::Ref types = py::Ref::steal(PyImport_ImportModule("types"));
    if (!types) return false;
    optional(types.get(), "UnionType", n.UnionType);  // `X | Y` on types: 3.10
    if (!required(t, "Literal", n.Literal) || !required(t, "get_origin", n.get_origin) ||
        !required(t, "get_args", n.get_args))
        return false;
    optional(t, "ForwardRef", n.ForwardRef);
    n.special_forms = collect_present_attrs(t, {"TypeVar", "ParamSpec", "TypeVarTuple", "_SpecialForm"});
    optional(t, "Required", n.Required);
    optional(t, "NotRequired", n.NotRequired);
    optional(t, "ReadOnly", n.ReadOnly);
    optional(t, "Unpack", n.Unpack);
    if (!required(t, "get_type_hints", n.get_type_hints)) return false;
    if (!required(builtins.get(), "object", n.object)) return false;
    py::Ref enum_module = py::Ref::steal(PyImport_ImportModule("enum"));
    if (!enum_module || !required(enum_module.get(), "Enum", n.Enum)) return false;
    py::Ref abc = py::Ref::steal(PyImport_ImportModule("collections.abc"));
    if (!abc || !required(abc.get(), "Callable", n.Callable)) return false;
    if (!required(builtins.get(), "Ellipsis", n.Ellipsis)) return false;
    out.emplace(std::move(n));
    return true;
}

bool load_is_dataclass(std::optional<py::Ref>& out) {
    py::Ref module = py::Ref::steal(PyImport_ImportModule("dataclasses"));
    if (!module) return false;
    py::Ref fn = py::Ref::steal(PyObject_GetAttrString(module.get(), "is_dataclass"));
    if (!fn) return false;
    out.emplace(std::move(fn));
    return true;
}

}  // namespace

std::vector<py::Ref> collect_present_attrs(PyObject* module, std::initializer_list<const char*> names) {
    std::vector<py::Ref> found;
    for (const char* name : names) {
        py::Ref v = py::Ref::steal(PyObject_GetAttrString(module, name));
        if (v) {
            found.push_back(std::move(v));
        } else {
            PyErr_Clear();
        }
    }
    return found;
}

const TypingNames* typing_names() { return g_typing_names.get_or_init(load_typing_names); }

PyObject* is_dataclass_function() {
    const py::Ref* fn = g_is_dataclass.get_or_init(load_is_dataclass);
    return fn ? fn->get() : nullptr;
}

}  // namespace tessaron::python
