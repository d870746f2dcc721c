// How messages show Python objects.
//
// One rule for every message of the system: a container (list, tuple, dict,
// set, frozenset or a subclass) is shown through a shared `reprlib.Repr`
// with fixed limits, any other object through `repr()`, and the text is cut
// to 80 characters (Unicode scalar values, not bytes) followed by "..." when
// longer.  The functions differ only in what happens when showing raises.
#pragma once

#include "python/binding/capi.h"

#include <string>
#include <string_view>

#include "python/binding/ref.h"

namespace tessaron::python {

// At most 80 characters unchanged; longer: the first 80 and "...".
std::string cut_text_80(std::string_view text);

// The shared rule.  Returns false with the exception of `repr()` set when it
// raised.  The container path falls back to plain `repr()` when reprlib
// fails, except on a fatal exception (not an `Exception`, `MemoryError`,
// `RecursionError`), which is answered like an exception of `repr()`; so is
// a fatal exception from reading the text of the `repr()` result.
bool value_repr(PyObject* obj, std::string& out);

// `value_repr`, with "<unrepresentable>" when `repr()` raises (the exception
// is discarded, whatever it was).  For the builder and rendering; the walk
// uses the `_keeping_fatal` forms.
std::string safe_repr(PyObject* obj);

// `value_repr` for the texts a validation walk makes (value texts, literal
// and key texts): a fatal exception is stored in `fatal` (unless it already
// holds one) and `stop` is set; any exception gives "<unrepresentable>".
// Never raises.
std::string value_text_keeping_fatal(PyObject* obj, py::SavedError& fatal, bool& stop);

// The object's `__name__` when it is a str, else its safe text.
std::string class_name_text(PyObject* obj);

// `class_name_text` for a walk: a fatal exception on the way is kept as by
// `value_text_keeping_fatal`.
std::string class_name_text_keeping_fatal(PyObject* obj, py::SavedError& fatal, bool& stop);

// The UTF-8 text of a str, lone surrogates replaced as a lenient decoder
// would (three U+FFFD for each).  Returns false with an exception set only
// when the interpreter fails (memory).
bool str_text_lossy(PyObject* str, std::string& out);

// `_tessaron._value_text_work()`: the nodes container texts visited in the
// calling thread, a work counter for tests.
PyObject* value_text_work_function(PyObject* module, PyObject* unused);
extern const char kValueTextWorkDoc[];

}  // namespace tessaron::python
