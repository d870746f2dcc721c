// Refined nodes: a base node plus bounds, lengths, a divisor, a predicate
// and patterns.
//
// What it computes: a value is a member when it is a member of the base and
// satisfies every constraint, checked in the node's (canonical) order.  The
// base is walked first, so constraints, which call Python, only ever see
// values of the right shape; a base failure is the only failure then.
//
// Invariants: an exception raised by a comparison, a length, a remainder or
// a truth test makes its constraint fail, or stops the walk when it is
// fatal; a predicate that raises an ordinary exception is reported as
// "predicate_error", never raised.  Failures show the value's safe text.
//
// A JSON value is checked verdict-only against the native copies of the
// constraints when the lookup tables hold them (native_checks.h): the
// same answers, without making the value's Python object.
//
// Budget: one Python operation (two for a divisor) per constraint; a
// divisor never formats an exact str, bytes or bytearray (`%` on text is
// formatting, as large as the text asks, and never 0: not a multiple); a
// pattern is matched in time linear in the text, compiled once per
// validator by the lookup tables, or per test when a walk has none.
#include <string>
#include <string_view>
#include <vector>

#include "core/pattern/interval_set.h"
#include "core/pattern/pattern.h"
#include "core/pattern/unicode.h"
#include "core/pattern/utf8.h"
#include "python/binding/intern.h"
#include "python/check/builtins.h"
#include "python/check/native_checks.h"
#include "python/check/refined.h"
#include "python/check/report.h"
#include "python/check/sources.h"
#include "python/check/walk.h"
#include "python/value_text.h"

namespace tessaron::python::check {

namespace {

// The code points a pattern shows escaped as \u{...}: those that are not
// printable (categories Cc, Cf, Cs, Co, Cn, Zl, Zp, and Zs other than the
// space) and the grapheme extenders.
const pattern::IntervalSet& escaped_code_points() {
    static const pattern::IntervalSet* const set = [] {
        auto* s = new pattern::IntervalSet();
        for (const char* name : {"Cc", "Cf", "Cs", "Co", "Cn", "Zl", "Zp", "Zs", "Grapheme_Extend"}) {
            auto found = pattern::unicode::property_class(name);
            if (auto* cls = std::get_if<pattern::IntervalSet>(&found)) s->add_all(*cls);
        }
        pattern::IntervalSet space = pattern::IntervalSet::single(' ');
        s->subtract(space);
        return s;
    }();
    return *set;
}

}  // namespace

std::string quote_pattern(std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        std::size_t len = 1;
        std::uint32_t c = pattern::utf8::decode(text, i, len);
        if (c == pattern::utf8::kInvalid) {
            const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
            if (i + 2 < text.size() && byte(i) == 0xED && byte(i + 1) >= 0xA0 && byte(i + 1) <= 0xBF &&
                byte(i + 2) >= 0x80 && byte(i + 2) <= 0xBF) {
                // A lone surrogate of a str, carried through as its
                // three-byte form: shown as the code point it is.
                c = 0xD000 | ((byte(i + 1) & 0x3Fu) << 6) | (byte(i + 2) & 0x3Fu);
                len = 3;
            } else {
                out += "\\x{";
                out += kHex[byte(i) >> 4];
                out += kHex[byte(i) & 0xF];
                out += '}';
                ++i;
                continue;
            }
        }
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            case 0: out += "\\0"; break;
            default:
                if (escaped_code_points().contains(c) || (c >= 0xD800 && c <= 0xDFFF)) {
                    out += "\\u{";
                    int shift = 20;
                    while (shift > 0 && ((c >> shift) & 0xF) == 0) shift -= 4;
                    for (; shift >= 0; shift -= 4) out += kHex[(c >> shift) & 0xF];
                    out += '}';
                } else {
                    out.append(text.substr(i, len));
                }
        }
        i += len == 0 ? 1 : len;
    }
    out += '"';
    return out;
}

namespace {

// Exact ints and floats compare and divide by the interpreter's own code.
bool is_plain_number(PyObject* obj) { return Py_IS_TYPE(obj, &PyLong_Type) || Py_IS_TYPE(obj, &PyFloat_Type); }

// Whether `value % divisor` is the builtin string formatting of an exact
// str, bytes or bytearray: a text (or an error), never a number equal to 0,
// and as large as the value's format asks, so the walk does not run it.
// A divisor of the value's own type or a subclass of it would be asked
// first (its reflected `__rmod__`), and a subclass of these types may
// have a `__mod__` of its own: those keep the operation.
bool remainder_formats(PyObject* value, PyObject* divisor) {
    PyTypeObject* t = Py_TYPE(value);
    return (t == &PyUnicode_Type || t == &PyBytes_Type || t == &PyByteArray_Type) && !PyObject_TypeCheck(divisor, t);
}

// Values whose length `value_length` reads without code we do not control.
bool has_builtin_length(PyObject* obj) {
    PyTypeObject* t = Py_TYPE(obj);
    return t == &PyUnicode_Type || t == &PyBytes_Type || t == &PyList_Type || t == &PyTuple_Type ||
           t == &PyDict_Type || t == &PySet_Type || t == &PyFrozenSet_Type;
}

// The truth of a rich comparison or other operation result: 1, 0, -1.
int truth_of(PyObject* result) {
    if (!result) return -1;
    const int t = result == Py_True ? 1 : result == Py_False ? 0 : PyObject_IsTrue(result);
    Py_DECREF(result);
    return t;
}

const char* comparison_code(ir::ConstraintKind kind) {
    switch (kind) {
        case ir::ConstraintKind::Ge: return "greater_than_equal";
        case ir::ConstraintKind::Gt: return "greater_than";
        case ir::ConstraintKind::Le: return "less_than_equal";
        default: return "less_than";
    }
}

const char* comparison_symbol(ir::ConstraintKind kind) {
    switch (kind) {
        case ir::ConstraintKind::Ge: return ">=";
        case ir::ConstraintKind::Gt: return ">";
        case ir::ConstraintKind::Le: return "<=";
        default: return "<";
    }
}

int comparison_op(ir::ConstraintKind kind) {
    switch (kind) {
        case ir::ConstraintKind::Ge: return Py_GE;
        case ir::ConstraintKind::Gt: return Py_GT;
        case ir::ConstraintKind::Le: return Py_LE;
        default: return Py_LT;
    }
}

// "TypeName: message" of an exception raised by a predicate, cut to 80
// characters.  Exceptions met while reading it follow the walk's rule.
std::string exception_text(PyObject* exc, WalkState& st) {
    std::string text;
    py::Ref qualname =
        py::Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(Py_TYPE(exc)), TS_INTERNED("__qualname__")));
    if (qualname && PyUnicode_Check(qualname.get()) && str_text_lossy(qualname.get(), text)) {
    } else {
        absorb_error(st);
        text = Py_TYPE(exc)->tp_name;
    }
    py::Ref message = py::Ref::steal(PyObject_Str(exc));
    std::string message_text;
    if (message && str_text_lossy(message.get(), message_text)) {
        text += ": ";
        text += message_text;
    } else {
        absorb_error(st);
        text += ": <exception str() failed>";
    }
    return cut_text_80(text);
}

// The matcher of a pattern constraint: borrowed from the tables, else
// compiled now into `owned` (nullptr when the pattern does not compile).
const pattern::FullMatcher* matcher_for(const ir::Constraint& c, const WalkState& st,
                                        std::shared_ptr<const pattern::FullMatcher>& owned) {
    const auto& table = st.tables->patterns;
    if (!table.empty()) {
        auto it = table.find(static_cast<const void*>(&c.pattern));
        if (it != table.end()) return it->second.get();
    }
    auto compiled = pattern::compile_full_match(c.pattern, pattern::TextKind::Str);
    if (auto* m = std::get_if<std::shared_ptr<const pattern::FullMatcher>>(&compiled)) owned = std::move(*m);
    return owned.get();
}

bool regex_matches(const ir::Constraint& c, PyObject* value, WalkState& st) {
    if (!PyUnicode_Check(value)) return false;
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(value, &len);
    if (!utf8) {
        absorb_error(st);
        return false;
    }
    std::shared_ptr<const pattern::FullMatcher> owned;
    const pattern::FullMatcher* matcher = matcher_for(c, st, owned);
    if (!matcher) return false;
    // The text is the str's own buffer, which a signal handler run by the
    // poll cannot free: the str is held for the walk of it.
    const bool member = matcher->matches(std::string_view(utf8, static_cast<std::size_t>(len)), &st.poll);
    if (st.poll.stopped()) {
        st.interrupted();
        return false;
    }
    return member;
}

}  // namespace

template <ValueSource Source>
bool check_refined(const ir::Node& node, const Source& src, WalkContext& ctx) {
    if (!node.inner() || !walk(*node.inner(), src, ctx)) return false;
    WalkState& st = *ctx.state;
    if (st.stop) return false;
    if constexpr (Source::is_json) {
        // A JSON value is answered from the native copies of the
        // constraints where they have them, without its Python object
        // (native_checks.h); the recording modes go on to build texts.
        if (!ctx.recording()) {
            if (const NativeRefinement* native = st.tables->native.refinement(node)) {
                const int known = native_refinement_answer(*native, native_value(*src.doc, *src.value), &st.poll);
                if (st.poll.stopped()) {
                    st.interrupted();
                    return false;
                }
                if (known >= 0) return known == 1;
            }
        }
    }
    py::Ref holder;
    PyObject* value = src.as_python(holder);
    if (!value) {
        absorb_error(st);
        return false;
    }
    bool verdict = true;
    // Texts are made only for failure records; a profiling walk counts.
    const bool texts = ctx.building_records();
    const bool plain_number = Py_IS_TYPE(value, &PyLong_Type) || Py_IS_TYPE(value, &PyFloat_Type);
    for (const ir::Constraint& c : ir::as_span(node.constraints)) {
        bool ok = false;
        const char* code = nullptr;
        std::string expected;
        switch (c.kind) {
            case ir::ConstraintKind::Ge:
            case ir::ConstraintKind::Gt:
            case ir::ConstraintKind::Le:
            case ir::ConstraintKind::Lt: {
                PyObject* bound = st.pooled(c.value);
                if (!plain_number || !bound || !is_plain_number(bound)) st.note_user_code();
                ok = bound && fold_call_result(truth_of(PyObject_RichCompare(value, bound, comparison_op(c.kind))), st);
                if (!ok && ctx.recording()) {
                    code = comparison_code(c.kind);
                    if (texts)
                        expected = std::string(comparison_symbol(c.kind)) + " " +
                                   (bound ? safe_text(bound, st) : std::string("<unknown>"));
                }
                break;
            }
            case ir::ConstraintKind::MinLen:
            case ir::ConstraintKind::MaxLen: {
                std::uint64_t length = 0;
                const bool min = c.kind == ir::ConstraintKind::MinLen;
                if (!has_builtin_length(value)) st.note_user_code();
                if (value_length(value, length))
                    ok = min ? length >= c.value : length <= c.value;
                else
                    absorb_error(st);
                if (!ok && ctx.recording()) {
                    code = min ? "too_short" : "too_long";
                    expected = std::string("length ") + (min ? ">=" : "<=") + " " + std::to_string(c.value);
                }
                break;
            }
            case ir::ConstraintKind::MultipleOf: {
                PyObject* divisor = st.pooled(c.value);
                // A text's `%` formats: not a multiple, and nothing runs.
                const bool formats = divisor && remainder_formats(value, divisor);
                if (!formats && (!plain_number || !divisor || !is_plain_number(divisor))) st.note_user_code();
                if (divisor && !formats) {
                    py::Ref rem = py::Ref::steal(PyNumber_Remainder(value, divisor));
                    if (rem) {
                        py::Ref zero = py::Ref::steal(PyLong_FromLong(0));
                        ok = fold_call_result(zero ? truth_of(PyObject_RichCompare(rem.get(), zero.get(), Py_EQ)) : -1,
                                              st);
                    } else {
                        absorb_error(st);
                    }
                }
                if (!ok && ctx.recording()) {
                    code = "multiple_of";
                    if (texts) expected = "a multiple of " + (divisor ? safe_text(divisor, st) : std::string("<unknown>"));
                }
                break;
            }
            case ir::ConstraintKind::Predicate: {
                PyObject* predicate = st.pooled(c.value);
                st.note_user_code();
                int t = predicate ? truth_of(PyObject_CallOneArg(predicate, value)) : 0;
                if (t > 0) {
                    ok = true;
                } else if (t == 0) {
                    code = "predicate_failed";
                    expected = "a passing predicate";
                    if (!ctx.recording()) st.note_predicate_miss(code, py::SavedError(), value);
                } else {
                    py::SavedError exc = py::SavedError::fetch();
                    if (py::is_fatal_exception(exc.get())) {
                        store_walk_error(std::move(exc), st);
                    } else if (ctx.recording()) {
                        code = "predicate_error";
                        if (texts)
                            expected = "a predicate that does not raise (raised " + exception_text(exc.get(), st) + ")";
                    } else {
                        st.note_predicate_miss("predicate_error", std::move(exc), value);
                    }
                }
                break;
            }
            case ir::ConstraintKind::Regex: {
                ok = regex_matches(c, value, st);
                if (!ok && ctx.recording()) {
                    code = "string_pattern_mismatch";
                    if (texts) expected = "a string matching " + quote_pattern(c.pattern);
                }
                break;
            }
        }
        if (ok) continue;
        if (st.stop) return false;
        if (code && ctx.recording() && !profiled_failure(code, ctx)) {
            Violation v;
            v.path = ctx.path->snapshot();
            v.expected = std::move(expected);
            v.value = safe_text(value, st);
            v.code = code;
            if (st.stop) return false;
            ctx.violations->push_back(std::move(v));
        }
        if (ctx.mode != WalkMode::CollectAll) return false;
        verdict = false;
    }
    return verdict;
}

void push_predicate_miss(const PredicateMiss& miss, PathSegment segment, WalkContext& ctx) {
    WalkState& st = *ctx.state;
    if (!miss.code || !ctx.recording() || st.stop || profiled_failure(miss.code, ctx, 1)) return;
    std::string expected = "a passing predicate";
    if (miss.error) {
        st.note_user_code();  // the exception's `__str__`
        expected = "a predicate that does not raise (raised " + exception_text(miss.error.get(), st) + ")";
    }
    std::string shown = safe_text(miss.value.get(), st);
    if (st.stop) return;
    ctx.violations->push_back(
        make_keyed_violation(*ctx.path, std::move(segment), miss.code, std::move(expected), std::move(shown)));
}

#define TS_INSTANTIATE_REFINED(S) template bool check_refined<S>(const ir::Node&, const S&, WalkContext&);
TS_FOR_EACH_SOURCE(TS_INSTANTIATE_REFINED)
#undef TS_INSTANTIATE_REFINED

}  // namespace tessaron::python::check
