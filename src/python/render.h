// The repr of a validator: the annotation expression that rebuilds it.
//
// Every form is written back as code (`list[int]`, `{'a': int}`,
// `Literal[3] | None`, `recursive(lambda X: list[X])`, ...) except a class,
// shown by its name, and a predicate, shown as "Predicate(...)".  Rendering
// is bounded twice: a node more than 200 levels below the root, and every
// node past a budget of rendered nodes per call, is written as "<...>".
#pragma once

#include "python/binding/capi.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "python/validator.h"

namespace tessaron::python {

// The deepest level rendered (the root is level 0).
inline constexpr std::size_t kRenderMaxDepth = 200;
// Nodes rendered per call before the rest is elided.  Without fixpoints a
// finalised schema has at most this many nodes, so only the repeated inline
// expansion of recursive definitions can reach it.
inline constexpr std::uint64_t kRenderNodeBudget = 100000;
// Past this many bytes of output the rest is elided as well: the node budget
// alone does not bound the text when fixpoint expansion repeats long record
// keys, class names or patterns.
inline constexpr std::size_t kRenderByteBudget = std::size_t{1} << 26;

// The text of a whole schema.  Calls `repr()` of pooled constants (through
// the safe texts, which swallow their exceptions); never sets a Python
// error.  Throws std::bad_alloc on memory exhaustion.
std::string render_schema(const CompiledSchema& schema);

// The name of a new fixpoint binder when `open` binders are already open:
// "X", "Y", "Z", then "T3", "T4", ...
std::string binder_name(std::size_t open);

// `repr()` of the str with this UTF-8 text; when that fails, the text in
// double quotes with `"` and `\` escaped and control characters written as
// escapes (the failure is discarded).
std::string str_literal_text(std::string_view utf8);

// The `tp_repr` slot of Validator.
PyObject* validator_repr(PyObject* self);

}  // namespace tessaron::python
