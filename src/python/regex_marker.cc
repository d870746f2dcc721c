// The `Regex` marker class: one immutable str attribute, `pattern`.
//
// What it computes: the object `Regex(pattern)` that a validator's repr
// names for a pattern constraint; its repr is `Regex(<repr of the text>)`,
// and two markers are equal when their texts are.  The text must be a str
// (a bytes pattern is refused here, as the builder would refuse it).
// Nothing here calls user code: str equality and hashing are the
// interpreter's own.  A marker copies and pickles as the call
// `Regex(pattern)` (`__reduce__`), so a schema that holds one travels like
// any other; the class is final.
#include "python/regex_marker.h"

#include <cstddef>
#include <optional>

#include "python/binding/entry.h"
#include "python/binding/final_type.h"
#include "python/binding/once_cell.h"
#include "python/binding/ref.h"

namespace tessaron::python {

namespace {

struct RegexObject {
    PyObject_HEAD
    PyObject* pattern;  // a str, owned
};

const char kRegexDoc[] =
    "Regex(pattern)\n--\n\n"
    "A pattern marker for Annotated: a str is a member when the whole of it\n"
    "matches `pattern`.  Flags are written inline, as in '(?i)[a-z]+'.  This is\n"
    "the name a validator's repr uses for a pattern constraint; a compiled `re`\n"
    "pattern or any object with a str `pattern` attribute works the same.";

constexpr const char kTypeName[] = "tessaron.Regex";
constexpr const char kNotABase[] = "type 'tessaron.Regex' is not an acceptable base type";

PyObject* regex_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        // CPython refuses a subclass from the type's flags; PyPy's layer
        // ignores them (see binding/final_type.h).
        if (py::kPyPy && reinterpret_cast<PyObject*>(type) != regex_marker_type()) {
            PyErr_SetString(PyExc_TypeError, kNotABase);
            return nullptr;
        }
        static const char* kKeywords[] = {"pattern", nullptr};
        PyObject* pattern = nullptr;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "U:Regex", const_cast<char**>(kKeywords), &pattern))
            return nullptr;
        PyObject* self = type->tp_alloc(type, 0);
        if (!self) return nullptr;
        reinterpret_cast<RegexObject*>(self)->pattern = Py_NewRef(pattern);
        return self;
    });
}

void regex_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    Py_XDECREF(reinterpret_cast<RegexObject*>(self)->pattern);
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* regex_repr(PyObject* self) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        return PyUnicode_FromFormat("Regex(%R)", reinterpret_cast<RegexObject*>(self)->pattern);
    });
}

PyObject* regex_richcompare(PyObject* self, PyObject* other, int op) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        if ((op != Py_EQ && op != Py_NE) || Py_TYPE(other) != Py_TYPE(self)) Py_RETURN_NOTIMPLEMENTED;
        return PyObject_RichCompare(reinterpret_cast<RegexObject*>(self)->pattern,
                                    reinterpret_cast<RegexObject*>(other)->pattern, op);
    });
}

Py_hash_t regex_hash(PyObject* self) {
    return py::guarded<Py_hash_t>(-1, [&]() -> Py_hash_t {
        return PyObject_Hash(reinterpret_cast<RegexObject*>(self)->pattern);
    });
}

// `copy.copy`, `copy.deepcopy` and pickle all rebuild a marker as
// `Regex(pattern)`: the class is found as `tessaron.Regex`, and the text
// is a str, immutable.
PyObject* regex_reduce(PyObject* self, PyObject*) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        return Py_BuildValue("(O(O))", reinterpret_cast<PyObject*>(Py_TYPE(self)),
                             reinterpret_cast<RegexObject*>(self)->pattern);
    });
}

PyMethodDef regex_methods[] = {
    {"__reduce__", regex_reduce, METH_NOARGS, "__reduce__($self)\n--\n\nRebuild as Regex(pattern)."},
#ifdef PYPY_VERSION
    py::final_type::init_subclass_method<kNotABase>(),
#endif
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef regex_members[] = {
    {"pattern", T_OBJECT, offsetof(RegexObject, pattern), READONLY, "The pattern text, flags inline."},
    {nullptr, 0, 0, 0, nullptr},
};

py::OnceCell<PyTypeObject*> g_regex_type;

bool create_regex_type(std::optional<PyTypeObject*>& out) {
    static PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>(kRegexDoc)},
        {Py_tp_new, reinterpret_cast<void*>(regex_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(regex_dealloc)},
        {Py_tp_repr, reinterpret_cast<void*>(regex_repr)},
        {Py_tp_richcompare, reinterpret_cast<void*>(regex_richcompare)},
        {Py_tp_hash, reinterpret_cast<void*>(regex_hash)},
        {Py_tp_members, regex_members},
        {Py_tp_methods, regex_methods},
#ifdef PYPY_VERSION
        {Py_tp_setattro, reinterpret_cast<void*>(py::final_type::setattro<kTypeName>)},
        {Py_tp_getset, py::final_type::getset<kTypeName>},
#endif
        {0, nullptr},
    };
    static PyType_Spec spec = {
        kTypeName,
        static_cast<int>(sizeof(RegexObject)),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
        slots,
    };
    PyObject* type = PyType_FromSpec(&spec);
    if (!type) return false;
    out.emplace(reinterpret_cast<PyTypeObject*>(type));
    return true;
}

}  // namespace

PyObject* regex_marker_type() {
    PyTypeObject* const* type = g_regex_type.get_or_init(create_regex_type);
    return type ? reinterpret_cast<PyObject*>(*type) : nullptr;
}

}  // namespace tessaron::python
