// The front end of the JSON entry points: what input is accepted and what a
// refused document turns into.
//
// A document is a `str` (or str subclass instance), read as its UTF-8 text
// in place, or a `bytes` (or bytes subclass instance), read as its bytes.
// Anything else is the wrong type; a str holding a lone surrogate has no
// UTF-8 text.  A document that is not JSON we accept raises a
// `ValidationError` with code "json_invalid", expected "valid JSON" and as
// value the reason with its location, cut to 80 characters plus "...".
#pragma once

#include "python/binding/capi.h"

#include <string_view>

namespace tessaron::python {

enum class JsonInput : unsigned char {
    Text,       // `text` holds the document
    NotUtf8,    // a str with a lone surrogate
    WrongType,  // neither str nor bytes
    Error,      // the interpreter failed (memory); its exception is set
};

// Classifies `data`; a str is tested first, then bytes.  The text borrows
// from `data`.
JsonInput json_input_text(PyObject* data, std::string_view& text);

// Sets the "json_invalid" `ValidationError` of `reason` (or the exception
// that stopped it from being made).
void raise_json_invalid(std::string_view reason);

// The document as a new Python object; nullptr with the exception set:
// `TypeError` "JSON input must be a str or bytes object", the
// "json_invalid" `ValidationError`, or an interpreter failure.
// The text of a document for `validate_json` and `load`; false with the
// input's error raised (TypeError, or "json_invalid" for a lone surrogate).
bool json_document_text(PyObject* data, std::string_view& text);

PyObject* parse_json_input(PyObject* data);

}  // namespace tessaron::python
