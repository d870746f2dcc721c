// The `ValidationError` class, its error hooks and its lazy attributes.
//
// What it computes: the exception instance of a failed validation (message
// rendered at once, violations moved into a `Failures` carrier), and, on
// first read, each of its six attributes from that carrier.
//
// Why lazy: a raise costs one instance, one attribute write and the message;
// callers that only log `str(error)` never pay for path tuples and dicts.
// Invariant: an attribute, once built, is an ordinary instance attribute, so
// every later read skips the class's descriptor; a missing or foreign
// `_failures` answers the empty value of the attribute and caches nothing.
//
// Budget: building `errors` is one dict, one path tuple and one line per
// violation; path elements and texts are made once per distinct path node
// or text and shared.
#include "python/exception.h"

#include <array>
#include <cstring>
#include <string>
#include <string_view>

#include <boost/unordered/unordered_flat_map.hpp>

#include "python/binding/args.h"
#include "python/binding/entry.h"
#include "python/binding/intern.h"
#include "python/binding/once_cell.h"
#include "python/binding/ref.h"

namespace tessaron::python {

namespace {

const char kValidationErrorDoc[] = "Raised when a value is not a member of a schema's set.";

// Compiled into "tessaron._error_hooks"; `make` turns the two builtins into
// functions that become methods when set on the class, and answers the
// class of the attribute descriptors: one per lazy attribute, so that
// dir() and help() show it.  A descriptor has no `__set__`, so the value
// cached in the instance's dict hides it from the next read on.
const char kHooksText[] =
    "def make(read, reduce):\n"
    "    def __getattr__(self, name):\n"
    "        return read(self, name)\n"
    "\n"
    "    def __reduce__(self):\n"
    "        return reduce(self)\n"
    "\n"
    "    class attribute:\n"
    "        def __init__(self, name, doc):\n"
    "            self.name = name\n"
    "            self.__doc__ = doc\n"
    "\n"
    "        def __get__(self, instance, owner=None):\n"
    "            if instance is None:\n"
    "                return self\n"
    "            return read(instance, self.name)\n"
    "\n"
    "        def __repr__(self):\n"
    "            return \"<attribute %r of 'ValidationError' objects>\" % (self.name,)\n"
    "\n"
    "    return __getattr__, __reduce__, attribute\n";

const char kHooksFileName[] = "<tessaron error hooks>";

py::OnceCell<py::Ref> g_validation_error;

bool create_validation_error(std::optional<py::Ref>& out) {
    PyObject* type = PyErr_NewExceptionWithDoc("tessaron.ValidationError", kValidationErrorDoc, PyExc_Exception, nullptr);
    if (!type) return false;
    out.emplace(py::Ref::steal(type));
    return true;
}

// The six lazily built attributes, in the order `__reduce__` reads them.
enum class Attr { Code, Path, Message, Expected, Value, Errors };
constexpr std::array<const char*, 6> kAttrNames = {"code", "path", "message", "expected", "value", "errors"};

// What help() says of each, in the same order.
constexpr std::array<const char*, 6> kAttrDocs = {
    "The code of the first failure, such as 'int_type'.",
    "Where the first failure is: a tuple of field names, dict keys and positions,\n"
    "outermost first.",
    "The first failure as one line: 'at PATH: expected WHAT, got VALUE [CODE]'.",
    "What the schema expects where the first failure is.",
    "A short text of the first failing value (its repr, abbreviated), never the\n"
    "value itself.",
    "Every failure: a tuple of dicts with the keys code, path, message, expected\n"
    "and value, each JSON-serialisable.",
};

PyObject* empty_error_attribute(Attr which) {
    if (which == Attr::Errors || which == Attr::Path) return PyTuple_New(0);
    return PyUnicode_FromStringAndSize("", 0);
}

PyObject* violation_line(const Violation& v) {
    std::string line;
    render_error_line(v, line);
    return text_to_str(line);
}

// Builds the items of `errors`.  Objects that repeat from one violation to
// the next are made once and shared between the dicts: the element of each
// path node (so the many paths under one prefix share its keys and
// indices), the tuple of a path met again, and each distinct code, expected
// and value text.  The dicts, tuples and lines stay one per violation, as
// the attribute promises; everything else is made once per distinct text
// or segment.
class ErrorItems {
public:
    // One item; `path` and `line` may be given when already built.
    PyObject* item(const Violation& v, py::Ref path, py::Ref line) {
        if (!path) path = path_tuple(v.path);
        if (!path) return nullptr;
        if (!line) line = py::Ref::steal(violation_line(v));
        if (!line) return nullptr;
        py::Ref code = code_str(v.code);
        py::Ref expected = text_str(v.expected);
        py::Ref value = text_str(v.value);
        py::Ref dict = py::Ref::steal(PyDict_New());
        if (!code || !expected || !value || !dict) return nullptr;
        if (PyDict_SetItem(dict.get(), TS_INTERNED("code"), code.get()) < 0 ||
            PyDict_SetItem(dict.get(), TS_INTERNED("path"), path.get()) < 0 ||
            PyDict_SetItem(dict.get(), TS_INTERNED("message"), line.get()) < 0 ||
            PyDict_SetItem(dict.get(), TS_INTERNED("expected"), expected.get()) < 0 ||
            PyDict_SetItem(dict.get(), TS_INTERNED("value"), value.get()) < 0)
            return nullptr;
        return dict.release();
    }

    py::Ref path_tuple(const Path& path) {
        auto found = tuples_.find(path.get());
        if (found != tuples_.end()) return found->second;
        const PathNodes nodes = path_nodes(path);
        py::Ref tuple = py::Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(nodes.size())));
        if (!tuple) return {};
        Py_ssize_t i = 0;
        for (const PathNode* node : nodes) {
            py::Ref element = segment(node);
            if (!element) return {};
            PyTuple_SET_ITEM(tuple.get(), i++, element.release());
        }
        tuples_.emplace(path.get(), tuple);
        return tuple;
    }

private:
    py::Ref segment(const PathNode* node) {
        auto found = segments_.find(node);
        if (found != segments_.end()) return found->second;
        py::Ref element = py::Ref::steal(segment_to_python(node->segment));
        if (element) segments_.emplace(node, element);
        return element;
    }

    py::Ref code_str(const char* code) {
        auto found = codes_.find(code);
        if (found != codes_.end()) return found->second;
        py::Ref str = py::Ref::steal(PyUnicode_FromString(code));
        if (str) codes_.emplace(code, str);
        return str;
    }

    py::Ref text_str(const std::string& text) {
        auto found = texts_.find(std::string_view(text));
        if (found != texts_.end()) return found->second;
        py::Ref str = py::Ref::steal(text_to_str(text));
        if (str) texts_.emplace(std::string_view(text), str);
        return str;
    }

    // Keys point into the violations, which outlive the builder.
    boost::unordered_flat_map<const PathNode*, py::Ref> segments_;
    boost::unordered_flat_map<const PathNode*, py::Ref> tuples_;
    boost::unordered_flat_map<const char*, py::Ref> codes_;
    boost::unordered_flat_map<std::string_view, py::Ref> texts_;
};

PyObject* build_attribute(Attr which, const std::vector<Violation>& violations) {
    const Violation& first = violations.empty() ? default_violation() : violations.front();
    switch (which) {
        case Attr::Code:
            return PyUnicode_FromString(first.code);
        case Attr::Path:
            return path_to_tuple(first.path);
        case Attr::Message:
            return violation_line(first);
        case Attr::Expected:
            return text_to_str(first.expected);
        case Attr::Value:
            return text_to_str(first.value);
        case Attr::Errors:
            break;
    }
    ErrorItems items;
    py::Ref first_path = items.path_tuple(first.path);
    if (!first_path) return nullptr;
    py::Ref first_line = py::Ref::steal(violation_line(first));
    if (!first_line) return nullptr;
    const std::size_t n = violations.empty() ? 1 : violations.size();
    py::Ref tuple = py::Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(n)));
    if (!tuple) return nullptr;
    for (std::size_t i = 0; i < n; ++i) {
        const Violation& v = violations.empty() ? first : violations[i];
        PyObject* item = i == 0 ? items.item(v, first_path, first_line) : items.item(v, nullptr, nullptr);
        if (!item) return nullptr;
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item);
    }
    return tuple.release();
}

const char kGetattrDoc[] =
    "validation_error_getattr(instance, name, /)\n--\n\n"
    "Build one of the lazy attributes of a ValidationError (errors, code, path,\n"
    "message, expected, value) from its failures, cache it on the instance and\n"
    "return it.  Raises AttributeError for any other name.";

const char kReduceDoc[] =
    "validation_error_reduce(instance, /)\n--\n\n"
    "Build and cache every lazy attribute of a ValidationError, drop its failure\n"
    "carrier, and return what Exception.__reduce__ returns for it, so that the\n"
    "pickled or copied error holds plain data.";

PyObject* validation_error_getattr(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        static const py::ArgSpec spec{.full_name = "validation_error_getattr()",
                                      .positional = {"instance", "name"},
                                      .required_positional = 2,
                                      .positional_only = 2};
        PyObject* argv[2];
        if (!py::parse_fastcall(spec, args, nargs, kwnames, argv)) return nullptr;
        PyObject* instance = argv[0];
        PyObject* name = argv[1];
        if (!PyUnicode_Check(name)) {
            PyErr_Format(PyExc_TypeError, "argument 'name': '%s' object is not an instance of 'str'",
                         Py_TYPE(name)->tp_name);
            return nullptr;
        }
        int which = -1;
        for (std::size_t i = 0; i < kAttrNames.size(); ++i) {
            if (PyUnicode_CompareWithASCIIString(name, kAttrNames[i]) == 0) {
                which = static_cast<int>(i);
                break;
            }
        }
        if (PyErr_Occurred()) return nullptr;
        if (which < 0) {
            py::Ref type_name = py::Ref::steal(
                PyObject_GetAttr(reinterpret_cast<PyObject*>(Py_TYPE(instance)), TS_INTERNED("__name__")));
            if (!type_name) return nullptr;
            PyErr_Format(PyExc_AttributeError, "'%S' object has no attribute '%U'", type_name.get(), name);
            return nullptr;
        }
        const Attr attr = static_cast<Attr>(which);
        py::Ref failures = py::Ref::steal(PyObject_GetAttr(instance, TS_INTERNED("_failures")));
        const std::vector<Violation>* violations = failures ? failures_violations(failures.get()) : nullptr;
        if (!violations) {
            PyErr_Clear();
            return empty_error_attribute(attr);
        }
        py::Ref value = py::Ref::steal(build_attribute(attr, *violations));
        if (!value) return nullptr;
        if (PyObject_SetAttr(instance, name, value.get()) < 0) return nullptr;
        return value.release();
    });
}

PyObject* validation_error_reduce(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        static const py::ArgSpec spec{.full_name = "validation_error_reduce()",
                                      .positional = {"instance"},
                                      .required_positional = 1,
                                      .positional_only = 1};
        PyObject* instance = nullptr;
        if (!py::parse_fastcall(spec, args, nargs, kwnames, &instance)) return nullptr;
        for (const char* attr : kAttrNames) {
            py::Ref value = py::Ref::steal(PyObject_GetAttrString(instance, attr));
            if (!value) return nullptr;
        }
        if (PyObject_DelAttr(instance, TS_INTERNED("_failures")) < 0) PyErr_Clear();
        py::Ref base_reduce =
            py::Ref::steal(PyObject_GetAttr(PyExc_Exception, TS_INTERNED("__reduce__")));
        if (!base_reduce) return nullptr;
        return PyObject_CallOneArg(base_reduce.get(), instance);
    });
}

PyMethodDef kGetattrDef = {"validation_error_getattr",
                           reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(validation_error_getattr)),
                           METH_FASTCALL | METH_KEYWORDS, kGetattrDoc};
PyMethodDef kReduceDef = {"validation_error_reduce",
                          reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(validation_error_reduce)),
                          METH_FASTCALL | METH_KEYWORDS, kReduceDoc};

PyObject* build_error_hooks_module() {
    py::Ref code = py::Ref::steal(Py_CompileString(kHooksText, kHooksFileName, Py_file_input));
    if (!code) return nullptr;
    py::Ref module = py::Ref::steal(
        PyImport_ExecCodeModuleEx("tessaron._error_hooks", code.get(), kHooksFileName));
    if (!module) return nullptr;
    if (!PyModule_Check(module.get())) {
        PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'PyModule'", Py_TYPE(module.get())->tp_name);
        return nullptr;
    }
    return module.release();
}

}  // namespace

PyObject* validation_error_type() {
    const py::Ref* type = g_validation_error.get_or_init(create_validation_error);
    return type ? type->get() : nullptr;
}

PyObject* install_validation_error() {
    PyObject* type = validation_error_type();
    if (!type) return nullptr;
    py::Ref module = py::Ref::steal(build_error_hooks_module());
    if (!module) return nullptr;
    py::Ref make = py::Ref::steal(PyObject_GetAttrString(module.get(), "make"));
    if (!make) return nullptr;
    py::Ref read = py::Ref::steal(PyCFunction_NewEx(&kGetattrDef, nullptr, nullptr));
    if (!read) return nullptr;
    py::Ref reduce = py::Ref::steal(PyCFunction_NewEx(&kReduceDef, nullptr, nullptr));
    if (!reduce) return nullptr;
    py::Ref hooks = py::Ref::steal(PyObject_CallFunctionObjArgs(make.get(), read.get(), reduce.get(), nullptr));
    if (!hooks) return nullptr;
    if (!PyTuple_Check(hooks.get())) {
        PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'PyTuple'", Py_TYPE(hooks.get())->tp_name);
        return nullptr;
    }
    PyObject* getattr_hook = PyTuple_GetItem(hooks.get(), 0);
    if (!getattr_hook) return nullptr;
    PyObject* reduce_hook = PyTuple_GetItem(hooks.get(), 1);
    if (!reduce_hook) return nullptr;
    PyObject* attribute_class = PyTuple_GetItem(hooks.get(), 2);
    if (!attribute_class) return nullptr;
    if (PyObject_SetAttrString(type, "__getattr__", getattr_hook) < 0) return nullptr;
    if (PyObject_SetAttrString(type, "__reduce__", reduce_hook) < 0) return nullptr;
    for (std::size_t i = 0; i < kAttrNames.size(); ++i) {
        py::Ref name = py::Ref::steal(PyUnicode_FromString(kAttrNames[i]));
        if (!name) return nullptr;
        py::Ref doc = py::Ref::steal(PyUnicode_FromString(kAttrDocs[i]));
        if (!doc) return nullptr;
        py::Ref descriptor =
            py::Ref::steal(PyObject_CallFunctionObjArgs(attribute_class, name.get(), doc.get(), nullptr));
        if (!descriptor || PyObject_SetAttr(type, name.get(), descriptor.get()) < 0) return nullptr;
    }
    return Py_NewRef(type);
}

PyObject* raise_validation_error(std::vector<Violation>&& violations) {
    std::vector<Violation> owned(std::move(violations));
    PyObject* type = validation_error_type();
    if (!type) return nullptr;
    py::Ref message = py::Ref::steal(text_to_str(render_summary(owned)));
    if (!message) return nullptr;
    py::Ref failures = py::Ref::steal(new_failures(std::move(owned)));
    if (!failures) return nullptr;
    py::Ref instance = py::Ref::steal(PyObject_CallOneArg(type, message.get()));
    if (!instance) return nullptr;
    if (PyObject_SetAttr(instance.get(), TS_INTERNED("_failures"), failures.get()) < 0) return nullptr;
    return instance.release();
}

void set_validation_error(std::vector<Violation>&& violations) {
    py::Ref instance = py::Ref::steal(raise_validation_error(std::move(violations)));
    if (!instance) return;
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(instance.get())), instance.get());
}

}  // namespace tessaron::python
