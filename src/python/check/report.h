// Building the failure records of a walk.
//
// Every check that fails in a recording mode describes the failure through
// these helpers: the code of a node's kind, the value text of the source,
// the path segment of a dict key, and the record itself.  Texts that call
// `repr()` keep a fatal exception for the walk (the walk then stops) and
// discard any other.  Callers test `ctx.recording()` first: in
// `VerdictOnly` no record, path segment or text is ever made.  In a
// profiling context a failure is only counted in the context's profile:
// callers that make an expensive text first test `ctx.building_records()`.
#pragma once

#include "python/binding/capi.h"

#include <string>
#include <string_view>
#include <vector>

#include "core/ir/node.h"
#include "python/check/context.h"
#include "python/check/source.h"
#include "python/errors.h"
#include "python/value_text.h"

namespace tessaron::python::check {

// Whether showing `obj` runs no code but the interpreter's own: the exact
// builtin scalars.  Any other `repr` may call user code.
inline bool shows_without_user_code(PyObject* obj) {
    PyTypeObject* t = Py_TYPE(obj);
    return obj == Py_None || t == &PyBool_Type || t == &PyLong_Type || t == &PyFloat_Type || t == &PyUnicode_Type ||
           t == &PyBytes_Type;
}

// Whether showing `obj` runs no code but the interpreter's and reprlib's:
// an exact builtin scalar, or an exact list, tuple or dict holding only
// such values, every one of them looked at within 256 objects (past that
// the answer is no).
bool shows_plainly(PyObject* obj);

// The safe text of a pooled object or key (reprlib limits, 80 characters).
inline std::string safe_text(PyObject* obj, WalkState& st) {
    if (!shows_plainly(obj)) st.note_user_code();
    return value_text_keeping_fatal(obj, st.error_cell, st.stop);
}

// The class name text of a pooled class.
inline std::string class_name(PyObject* cls, WalkState& st) {
    if (!PyType_CheckExact(cls)) st.note_user_code();
    return class_name_text_keeping_fatal(cls, st.error_cell, st.stop);
}

// The codes a failing union prefers to report when no member got deeper.
inline bool is_hard_code(std::string_view code) {
    return code == "recursion_limit" || code == "recursion_loop" || code == "predicate_error" ||
           code == "mutated_during_validation";
}

// In a profiling context: counts a failure of `code` at the current path
// plus `extra` segments and answers true (the caller then builds nothing).
inline bool profiled_failure(const char* code, WalkContext& ctx, std::size_t extra = 0) {
    if (!ctx.profile) return false;
    if (!ctx.state->stop) ctx.profile->add(ctx.path->size() + extra, is_hard_code(code));
    return true;
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
    // A JSON value's object is built from the document: builtin types all
    // the way down, shown without user code.
    if constexpr (Source::is_json) return value_text_keeping_fatal(obj, st.error_cell, st.stop);
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
    if (!ctx.recording() || ctx.state->stop || profiled_failure(code, ctx)) return;
    ctx.violations->push_back(make_violation(code, std::move(expected), src, ctx));
}
// The same with a static expected text, which is only copied when recorded.
template <ValueSource Source>
void push_violation(const char* code, const char* expected, const Source& src, WalkContext& ctx) {
    if (!ctx.recording() || ctx.state->stop || profiled_failure(code, ctx)) return;
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
    if constexpr (Source::is_json)
        ++ctx.state->mutations;  // a parsed document does not change: not reached
    else
        ctx.state->note_changed(src.obj);
    push_violation("mutated_during_validation", "a value that does not change while it is checked", src, ctx);
}

}  // namespace tessaron::python::check
