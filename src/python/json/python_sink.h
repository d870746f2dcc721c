// The sink that builds Python objects from the parser's events, and the
// pause of the cyclic collector around a parse.
//
// What it computes: the Python object of a document.  The sink keeps a
// stack of owned references: scalars are pushed as they arrive; when a
// container closes, its items (or key/value pairs) are taken off the top of
// the stack into a new list (or dict) that takes their place.  Keys and
// short strings come from the string cache.  Integers within 64 bits are
// made directly, bigger ones from their decimal text; a text past the
// interpreter's digit limit refuses the document ("integer has too many
// digits").
//
// Invariants: every reference on the stack is owned exactly once; a refused
// or failed parse releases them all (the sink's destructor), so no partly
// built object escapes.  No Python code of the user's runs (only builtin
// types are made) but the handlers of signals that arrive meanwhile (the
// parse polls for them); a handler that parses again has a sink of its own.
//
// Budget: one allocation per value plus one per container; dict inserts
// reuse the cached keys' hashes.
#pragma once

#include "python/binding/capi.h"

#include <string>
#include <string_view>
#include <vector>

#include "core/json/failure.h"
#include "python/binding/ref.h"
#include "python/json/strings.h"

namespace tessaron::python {

// An int from a JSON integer text; nullptr with an exception set.
inline PyObject* int_from_text(std::string_view text) {
    const std::string nul_terminated(text);
    return PyLong_FromString(nul_terminated.c_str(), nullptr, 10);
}

// A dict sized for `n` keys up front, so filling it never resizes.
inline PyObject* new_dict(std::size_t n) {
    return n > 5 ? py::new_presized_dict(static_cast<Py_ssize_t>(n)) : PyDict_New();
}

class PythonSink {
public:
    static constexpr std::size_t kMaxCount = static_cast<std::size_t>(PY_SSIZE_T_MAX);

    explicit PythonSink(json::ParseFailure& failure) : failure_(failure) { stack_.reserve(64); }
    PythonSink(const PythonSink&) = delete;
    PythonSink& operator=(const PythonSink&) = delete;
    ~PythonSink() {
        for (PyObject* obj : stack_) Py_DECREF(obj);
    }

    bool null() { return push(Py_NewRef(Py_None)); }
    bool boolean(bool b) { return push(Py_NewRef(b ? Py_True : Py_False)); }
    bool integer(std::int64_t i) { return push(PyLong_FromLongLong(i)); }
    bool floating(double d) { return push(PyFloat_FromDouble(d)); }
    bool big_integer(std::string_view text, std::size_t at) {
        PyObject* value = int_from_text(text);
        if (!value && PyErr_ExceptionMatches(PyExc_ValueError)) {
            // The interpreter's limit on integer string conversion.
            PyErr_Clear();
            failure_.malformed("integer has too many digits (see sys.set_int_max_str_digits)", at);
            return false;
        }
        return push(value);
    }
    bool string(std::string_view text) { return push(json_string_to_str(text)); }
    bool key(std::string_view text) { return push(json_key_to_str(text)); }
    bool begin_array() { return true; }
    bool begin_object() { return true; }

    std::string_view restart(std::string text) {
        for (PyObject* obj : stack_) Py_DECREF(obj);
        stack_.clear();
        rewritten_ = std::move(text);
        return rewritten_;
    }

    bool end_array(std::size_t n) {
        PyObject* list = PyList_New(static_cast<Py_ssize_t>(n));
        if (!list) return false;
        const std::size_t from = stack_.size() - n;
        for (std::size_t i = 0; i < n; ++i) PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), stack_[from + i]);
        stack_.resize(from);
        return push(list);
    }

    bool end_object(std::size_t n) {
        PyObject* dict = new_dict(n);
        if (!dict) return false;
        const std::size_t from = stack_.size() - 2 * n;
        bool ok = true;
        for (std::size_t i = from; i < stack_.size(); i += 2)
            if (PyDict_SetItem(dict, stack_[i], stack_[i + 1]) < 0) {
                ok = false;
                break;
            }
        for (std::size_t i = from; i < stack_.size(); ++i) Py_DECREF(stack_[i]);
        stack_.resize(from);
        if (!ok) {
            Py_DECREF(dict);
            return false;
        }
        return push(dict);
    }

    // The finished document (new reference); the sink is empty afterwards.
    PyObject* take_root() {
        if (stack_.size() != 1) return nullptr;
        PyObject* root = stack_.back();
        stack_.clear();
        return root;
    }

private:
    bool push(PyObject* obj) {
        if (!obj) return false;
        try {
            stack_.push_back(obj);
        } catch (...) {
            Py_DECREF(obj);
            throw;
        }
        return true;
    }

    json::ParseFailure& failure_;
    std::vector<PyObject*> stack_;
    std::string rewritten_;  // see restart
};

// Pauses the cyclic garbage collector for the life of the object.  A parse
// makes a list or dict for every container of the document and runs no
// Python code of its own (a signal handler may run; it makes no garbage of
// the parse's), so nothing it makes can be garbage before it returns; left
// running, the collector would scan the growing document again and again
// (a large share of the parse time).  The collector runs as usual on the
// next allocation after it is resumed.
class CollectorPause {
public:
    CollectorPause() : was_enabled_(PyGC_Disable() == 1) {}
    CollectorPause(const CollectorPause&) = delete;
    CollectorPause& operator=(const CollectorPause&) = delete;
    ~CollectorPause() {
        if (was_enabled_) PyGC_Enable();
    }

private:
    bool was_enabled_;
};


}  // namespace tessaron::python
