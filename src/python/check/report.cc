// Failure codes of node kinds, keyed failure records and dict-key segments.
//
// `key_segment` is the only function here that calls Python: it reads a
// key's text or value, or shows it through its safe text; exceptions on the
// way follow the walk's rule (a fatal one is kept, any other discarded and
// the key shown another way).
#include "python/check/report.h"

namespace tessaron::python::check {

namespace {

constexpr int kPlainShowObjects = 256;

bool shows_plainly(PyObject* obj, int& budget) {
    if (--budget < 0) return false;
    if (shows_without_user_code(obj)) return true;
    PyTypeObject* t = Py_TYPE(obj);
    if (t == &PyList_Type || t == &PyTuple_Type) {
        // Read in place: nothing here runs code that could change it.
        for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(obj); ++i)
            if (!shows_plainly(PySequence_Fast_ITEMS(obj)[i], budget)) return false;
        return true;
    }
    if (t == &PyDict_Type) {
        Py_ssize_t position = 0;
        PyObject *key, *value;
        while (PyDict_Next(obj, &position, &key, &value))
            if (!shows_without_user_code(key) || !shows_plainly(value, budget)) return false;
        return true;
    }
    return false;
}

}  // namespace

bool shows_plainly(PyObject* obj) {
    int budget = kPlainShowObjects;
    return shows_plainly(obj, budget);
}

const char* kind_error_code(const ir::Node& node) {
    const ir::Node* n = &node;
    while (n->kind == ir::NodeKind::Refined && n->inner()) n = n->inner().get();
    switch (n->kind) {
        case ir::NodeKind::Anything: return "anything";
        case ir::NodeKind::Nothing: return "no_match";
        case ir::NodeKind::None: return "none_type";
        case ir::NodeKind::Bool: return "bool_type";
        case ir::NodeKind::Int: return "int_type";
        case ir::NodeKind::Float: return "float_type";
        case ir::NodeKind::Str: return "string_type";
        case ir::NodeKind::Bytes: return "bytes_type";
        case ir::NodeKind::Literal: return "literal_error";
        case ir::NodeKind::Sequence: return n->flavour() == ir::kFlavourTuple ? "tuple_type" : "list_type";
        case ir::NodeKind::Set: return n->flavour() == ir::kFlavourFrozenset ? "frozen_set_type" : "set_type";
        case ir::NodeKind::Mapping: return "dict_type";
        case ir::NodeKind::Union: return "union_error";
        case ir::NodeKind::Intersection: return "intersection_error";
        case ir::NodeKind::Complement: return "unexpected_match";
        case ir::NodeKind::Instance: return "instance_type";
        case ir::NodeKind::Object: return "object_type";
        case ir::NodeKind::Refined: return "no_match";  // a refined node without inner node: none is built
        case ir::NodeKind::BackEdge: return "recursion";
        case ir::NodeKind::Placeholder: return "unresolved_recursion";
    }
    return "no_match";
}

Violation make_keyed_violation(PathStack& path, PathSegment segment, const char* code, std::string expected,
                               std::string value) {
    Violation v;
    v.path = path.snapshot_plus(std::move(segment));
    v.expected = std::move(expected);
    v.value = std::move(value);
    v.code = code;
    return v;
}

PathSegment key_segment(PyObject* key, WalkState& st) {
    if (PyUnicode_Check(key)) {
        Py_ssize_t len = 0;
        if (const char* utf8 = PyUnicode_AsUTF8AndSize(key, &len))
            return PathKey{ir::make_text(std::string_view(utf8, static_cast<std::size_t>(len)))};
        // No UTF-8 form: keep the lone surrogates as "surrogatepass" writes
        // them, so the path gives the very key back.
        absorb_error(st);
        if (st.stop) return PathKey{ir::make_text("")};
        py::Ref raw = py::Ref::steal(PyUnicode_AsEncodedString(key, "utf-8", "surrogatepass"));
        if (raw)
            return PathKey{ir::make_text(std::string_view(PyBytes_AS_STRING(raw.get()),
                                                          static_cast<std::size_t>(PyBytes_GET_SIZE(raw.get()))))};
        absorb_error(st);
        return PathKey{ir::make_text(safe_text(key, st))};
    }
    if (PyLong_Check(key)) {
        int overflow = 0;
        const long long value = PyLong_AsLongLongAndOverflow(key, &overflow);
        if (overflow == 0 && !(value == -1 && PyErr_Occurred())) return PathInt{value};
        if (PyErr_Occurred()) absorb_error(st);
        py::Ref text = py::Ref::steal(PyObject_Str(key));
        if (text && PyUnicode_Check(text.get())) {
            Py_ssize_t len = 0;
            if (const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &len))
                return PathBigInt{ir::make_text(std::string_view(utf8, static_cast<std::size_t>(len)))};
        }
        if (PyErr_Occurred()) absorb_error(st);
        return PathKey{ir::make_text(safe_text(key, st))};
    }
    return PathKey{ir::make_text(safe_text(key, st))};
}

}  // namespace tessaron::python::check
