// Accepting a JSON document and refusing a malformed one.
//
// What it computes: the front end shared by `validate_json` and `load`:
// classify the argument, parse its text into Python objects, and turn a
// refusal into the "json_invalid" `ValidationError` whose value is our
// description of the problem followed by " at line {} column {}".
//
// Invariants: a str is parsed from the UTF-8 text the interpreter keeps with
// it (no copy); the only exception the classification swallows is the
// `UnicodeEncodeError` of a lone surrogate.  Budget: the parse, plus one
// rescan of the prefix when a document is refused.
#include "python/json/input.h"

#include <string>
#include <utility>
#include <vector>

#include "core/json/failure.h"
#include "python/errors.h"
#include "python/exception.h"
#include "python/json/to_python.h"
#include "python/value_text.h"

namespace tessaron::python {

JsonInput json_input_text(PyObject* data, std::string_view& text) {
    if (PyUnicode_Check(data)) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(data, &size);
        if (!utf8) {
            if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return JsonInput::Error;
            PyErr_Clear();
            return JsonInput::NotUtf8;
        }
        text = std::string_view(utf8, static_cast<std::size_t>(size));
        return JsonInput::Text;
    }
    if (PyBytes_Check(data)) {
        text = std::string_view(PyBytes_AS_STRING(data), static_cast<std::size_t>(PyBytes_GET_SIZE(data)));
        return JsonInput::Text;
    }
    return JsonInput::WrongType;
}

void raise_json_invalid(std::string_view reason) {
    Violation v;
    v.expected = "valid JSON";
    v.value = cut_text_80(reason);
    v.code = "json_invalid";
    std::vector<Violation> violations;
    violations.push_back(std::move(v));
    set_validation_error(std::move(violations));
}

bool json_document_text(PyObject* data, std::string_view& text) {
    switch (json_input_text(data, text)) {
        case JsonInput::Text:
            return true;
        case JsonInput::NotUtf8:
            raise_json_invalid("input string is not valid UTF-8 (contains a lone surrogate)");
            return false;
        case JsonInput::WrongType:
            PyErr_SetString(PyExc_TypeError, "JSON input must be a str or bytes object");
            return false;
        case JsonInput::Error:
            return false;
    }
    return false;
}

PyObject* parse_json_input(PyObject* data) {
    std::string_view text;
    if (!json_document_text(data, text)) return nullptr;
    json::ParseFailure failure;
    PyObject* obj = parse_to_python(text, failure);
    if (obj) return obj;
    if (failure.kind == json::ParseFailure::Kind::Malformed) raise_json_invalid(json::failure_text(text, failure));
    return nullptr;
}

}  // namespace tessaron::python
