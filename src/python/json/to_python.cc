// Building Python objects from JSON.
//
// What it computes: the Python object of a document (the parser driving a
// `PythonSink`, python_sink.h) or of one value of a parsed tree.  Tree
// conversion recurses once per nesting level of the value, at most 200
// levels, and raises RecursionError on a thread short of native stack.
//
// Budget: one allocation per value plus one per container.  The parse ticks
// a signal poll (binding/signals.h): a handler that raises ends it with
// that exception.
#include "python/json/to_python.h"

#include <string>
#include <vector>

#include "core/json/parse.h"
#include "python/binding/ref.h"
#include "python/binding/signals.h"
#include "python/binding/stack_guard.h"
#include "python/json/python_sink.h"
#include "python/json/strings.h"

namespace tessaron::python {

PyObject* parse_to_python(std::string_view text, json::ParseFailure& failure) {
    CollectorPause pause;
    PythonSink sink(failure);
    util::Poll poll = py::signal_poll();
    if (!json::parse_with(text, sink, failure, &poll)) {
        // A sink failure, or a stop by a signal handler, always has the
        // Python exception set; a malformed document never does.
        if (failure.kind == json::ParseFailure::Kind::Sink && !PyErr_Occurred()) PyErr_NoMemory();
        return nullptr;
    }
    PyObject* root = sink.take_root();
    if (!root) PyErr_SetString(PyExc_SystemError, "internal error in tessaron: JSON parse left no value");
    return root;
}

PyObject* json_value_to_python(const json::Document& doc, const json::Value& value) {
    switch (value.kind) {
        case json::Kind::Null: return Py_NewRef(Py_None);
        case json::Kind::False: return Py_NewRef(Py_False);
        case json::Kind::True: return Py_NewRef(Py_True);
        case json::Kind::Int: return PyLong_FromLongLong(value.as_int());
        case json::Kind::BigInt: return int_from_text(doc.text(value));
        case json::Kind::Float: return PyFloat_FromDouble(value.as_float());
        case json::Kind::String: return json_string_to_str(doc.text(value));
        case json::Kind::Array: {
            if (!py::native_stack_available("convert this JSON value")) return nullptr;
            const auto items = doc.items(value);
            py::Ref list = py::Ref::steal(PyList_New(static_cast<Py_ssize_t>(items.size())));
            if (!list) return nullptr;
            for (std::size_t i = 0; i < items.size(); ++i) {
                PyObject* item = json_value_to_python(doc, items[i]);
                if (!item) return nullptr;
                PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
            }
            return list.release();
        }
        case json::Kind::Object: {
            if (!py::native_stack_available("convert this JSON value")) return nullptr;
            const auto members = doc.members(value);
            py::Ref dict = py::Ref::steal(new_dict(value.count));
            if (!dict) return nullptr;
            for (std::size_t i = 0; i < members.size(); i += 2) {
                py::Ref key = py::Ref::steal(json_key_to_str(doc.text(members[i])));
                if (!key) return nullptr;
                py::Ref item = py::Ref::steal(json_value_to_python(doc, members[i + 1]));
                if (!item || PyDict_SetItem(dict.get(), key.get(), item.get()) < 0) return nullptr;
            }
            return dict.release();
        }
    }
    PyErr_SetString(PyExc_SystemError, "internal error in tessaron: unknown JSON value kind");
    return nullptr;
}

bool int_digits_allowed(std::size_t digits, bool& allowed) {
    // The interpreter refuses no text of 640 digits or fewer (its smallest
    // settable limit); only longer ones need the current limit.
    allowed = true;
    if (digits <= 640) return true;
    PyObject* getter = PySys_GetObject("get_int_max_str_digits");  // borrowed
    if (!getter) return true;
    py::Ref limit = py::Ref::steal(PyObject_CallNoArgs(getter));
    if (!limit) return false;
    const long long n = PyLong_AsLongLong(limit.get());
    if (n == -1 && PyErr_Occurred()) return false;
    allowed = n <= 0 || digits <= static_cast<unsigned long long>(n);
    return true;
}

}  // namespace tessaron::python
