// Building the failure records of a walk.
//
// Every check that fails in a recording mode describes the failure through
// these helpers: the code of a node's kind, the value text of the source,
// the path segment of a dict key, and the record itself.  Texts that call
// `repr()` keep a fatal exception for the walk (the walk then stops) and
// discard any other.  Callers test `ctx.recording()` first: in
// `VerdictOnly` no record, path segment or text is ever made.
#pragma once

#include <Python.h>

#include <string>
#include <string_view>
#include <vector>

#include "core/ir/node.h"
#include "python/check/context.h"
#include "python/check/source.h"
#include "python/errors.h"
#include "python/value_text.h"

namespace tessaron::python::check {

// The safe text of a pooled object or key (reprlib limits, 80 characters).
inline std::string safe_text(PyObject* obj, WalkState& st) {
    return value_text_keeping_fatal(obj, st.error_cell, st.stop);
}

// The class name text of a pooled class.
inline std::string class_name(PyObject* cls, WalkState& st) {
    return class_name_text_keeping_fatal(cls, st.error_cell, st.stop);
}

// How the value of a failure is shown: its safe text; a source that cannot
// be turned into a Python object shows "<unrepresentable>".
template <ValueSource Source>
std::string violation_value_text(const Source& src, WalkState& st) {
    py::Ref holder;
    PyObject* obj = src.as_python(holder);
    if (!obj) {
        absorb_error(st);
        return "<unrepresentable>";
    }
    return safe_text(obj, st);
}

// The failure code of a node's kind; a refined node takes its inner node's.
const char* kind_error_code(const ir::Node& node);

template <ValueSource Source>
Violation make_violation(const char* code, std::string expected, const Source& src, WalkContext& ctx) {
    Violation v;
    v.path = ctx.path->snapshot();
    v.expected = std::move(expected);
    v.value = violation_value_text(src, *ctx.state);
    v.code = code;
    return v;
}

// `make_violation` and append it, in the recording modes only.  Once a
// fatal exception has stopped the walk nothing more is recorded (the entry
// raises that exception), so no more user code runs for texts.
template <ValueSource Source>
void push_violation(const char* code, std::string expected, const Source& src, WalkContext& ctx) {
    if (!ctx.recording() || ctx.state->stop) return;
    ctx.violations->push_back(make_violation(code, std::move(expected), src, ctx));
}
// The same with a static expected text, which is only copied when recorded.
template <ValueSource Source>
void push_violation(const char* code, const char* expected, const Source& src, WalkContext& ctx) {
    if (!ctx.recording() || ctx.state->stop) return;
    ctx.violations->push_back(make_violation(code, std::string(expected), src, ctx));
}

// A failure at `path` plus one segment, with texts already made (missing
// keys and attributes, unexpected keys).
Violation make_keyed_violation(PathStack& path, PathSegment segment, const char* code,
                               std::string expected, std::string value);

// The path segment of a Python dict key: a str as its text (lone
// surrogates kept), an int within 64 bits as its value, a bigger int as its
// decimal text, any other key as its safe text.
PathSegment key_segment(PyObject* key, WalkState& st);

template <ValueSource Source>
void report_type_mismatch(const ir::Node& node, const Source& src, WalkContext& ctx) {
    if (!ctx.recording()) return;
    push_violation(kind_error_code(node), std::string(ir::expected_kind_text(node)), src, ctx);
}

// A sequence of the wrong length: "{kind} of length at least {n}" with a
// tail, "{kind} of length {n}" without.
template <ValueSource Source>
void report_type_mismatch_formatted(const char* code, std::string_view kind_name, std::uint64_t count,
                                    bool has_tail, const Source& src, WalkContext& ctx) {
    if (!ctx.recording()) return;
    std::string expected(kind_name);
    expected += has_tail ? " of length at least " : " of length ";
    expected += std::to_string(count);
    push_violation(code, std::move(expected), src, ctx);
}

template <ValueSource Source>
void report_mutated(const Source& src, WalkContext& ctx) {
    push_violation("mutated_during_validation", "a value that does not change while it is checked", src, ctx);
}

}  // namespace tessaron::python::check
