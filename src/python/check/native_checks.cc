// Native copies of literal and refinement checks, and their answers on JSON
// values.
//
// What it computes: for a JSON value, the verdict the walk reaches by
// converting the value to its Python object (null None, true and false the
// bools, an integer an int, a number with a fraction or exponent a float, a
// string a str, an array a list, an object a dict) and asking Python, but
// without that object: from copies of the schema's constants made once per
// validator.
//
//   - Literals: the walk admits a value of the constant's exact type that
//     compares equal.  None, bool, int, float and str constants are copied;
//     a big int's decimal text equals a JSON big int's text exactly when
//     the values are equal (both are written without leading zeros or
//     signs other than '-'), and an int within 64 bits is never a big int.
//   - Bounds: Python compares ints and floats exactly (never through a
//     rounded conversion), and a bool as 0 or 1; so does `compare` here.
//     Against anything else (None, a str, a list, a dict) the comparison
//     raises TypeError and the constraint fails.
//   - Divisors: `value % divisor == 0`.  Between ints that is divisibility
//     (a big int's remainder is taken digit by digit); with a float on
//     either side Python converts the int to the nearest float (an int too
//     large for one raises OverflowError) and the float remainder is zero
//     exactly when C's `fmod` is (the sign fix-up never makes a non-zero
//     remainder zero).  A zero divisor raises ZeroDivisionError: fails.  A
//     str on the left would be string formatting, which the walk never
//     runs (refined.cc: no multiple); the answer is left to the walk.
//   - Lengths: a str's length counts code points, the bytes of its UTF-8
//     text that do not continue a character; a list's its items; a dict's
//     its distinct keys; other values have no length (TypeError: fails).
//   - Patterns: matched against the string's UTF-8 text by the same
//     compiled matcher the walk uses (a JSON string is valid UTF-8 without
//     lone surrogates, which the parser refuses); a value that is not a
//     string fails.
//
// Invariants: the copies are made under the interpreter lock while the
// validator's tables are built and never change afterwards; the answers
// read no Python object, so any thread may use them without the lock.  A
// compiled matcher is safe to share between threads (pattern.h).  Where
// only Python can tell, the answer says so (-1) instead of guessing.
//
// Budget: one pass over the schema's distinct nodes to build; an answer is
// a few machine operations per constraint, a scan of the text for a length
// or a pattern, and a pass over the digits for a big int.
#include "python/check/native_checks.h"

#include <charconv>
#include <cmath>
#include <string>
#include <utility>

#include <boost/unordered/unordered_flat_set.hpp>

#include "core/json/number.h"

namespace tessaron::python::check {

const NativeRefinement* NativeChecks::refinement(const ir::Node& refined) const {
    if (refinements.empty() || !refined.constraints || refined.constraints->empty()) return nullptr;
    auto it = refinements.find(static_cast<const void*>(refined.constraints->data()));
    return it == refinements.end() ? nullptr : &it->second;
}

const NativeConstant* NativeChecks::constant(std::uint64_t pool_index) const {
    if (constants.empty()) return nullptr;
    auto it = constants.find(pool_index);
    return it == constants.end() ? nullptr : &it->second;
}

namespace {

// Drops a conversion error unless the interpreter is out of memory.  True
// when it was dropped.
bool drop_conversion_error() {
    if (PyErr_ExceptionMatches(PyExc_MemoryError)) return false;
    PyErr_Clear();
    return true;
}

// An exact int within 64 bits or an exact float.  False without an error
// for anything else; false with an error set when the interpreter failed.
bool native_number(PyObject* obj, NativeNumber& out, bool& failed) {
    failed = false;
    if (!obj) return false;
    if (Py_IS_TYPE(obj, &PyFloat_Type)) {
        out.is_float = true;
        out.real = PyFloat_AS_DOUBLE(obj);
        return true;
    }
    if (!Py_IS_TYPE(obj, &PyLong_Type)) return false;
    int overflow = 0;
    const long long n = PyLong_AsLongLongAndOverflow(obj, &overflow);
    if (overflow != 0) return false;
    if (n == -1 && PyErr_Occurred()) {
        failed = !drop_conversion_error();
        return false;
    }
    out.is_float = false;
    out.integer = static_cast<std::int64_t>(n);
    return true;
}

// How a node's kind bears on whether a verdict-only walk of a JSON value
// needs Python: not at all (type tests, containers, combinators, back
// edges, placeholders make no Python object), always (an instance check or
// an object's attributes are asked of the value's Python object), or as its
// native copy says (literals, refinements).  A value that names none of the
// kinds sorted here, such as a kind added later, needs Python.
enum class PythonUse { Never, Always, ByCopy };

constexpr PythonUse python_use(ir::NodeKind kind) {
    switch (kind) {
        case ir::NodeKind::Anything:
        case ir::NodeKind::Nothing:
        case ir::NodeKind::None:
        case ir::NodeKind::Bool:
        case ir::NodeKind::Int:
        case ir::NodeKind::Float:
        case ir::NodeKind::Str:
        case ir::NodeKind::Bytes:
        case ir::NodeKind::Sequence:
        case ir::NodeKind::Set:
        case ir::NodeKind::Mapping:
        case ir::NodeKind::Union:
        case ir::NodeKind::Intersection:
        case ir::NodeKind::Complement:
        case ir::NodeKind::BackEdge:
        case ir::NodeKind::Placeholder:
            return PythonUse::Never;
        case ir::NodeKind::Instance:
        case ir::NodeKind::Object:
            return PythonUse::Always;
        case ir::NodeKind::Literal:
        case ir::NodeKind::Refined:
            return PythonUse::ByCopy;
    }
    return PythonUse::Always;
}
static_assert(python_use(static_cast<ir::NodeKind>(ir::kNodeKindCount)) == PythonUse::Always,
              "a kind that is not sorted here must need Python");

class NativeBuilder {
public:
    using Patterns =
        boost::unordered_flat_map<const void*, std::shared_ptr<const pattern::FullMatcher>, util::FxHash>;

    NativeBuilder(std::span<const py::Ref> pool, const Patterns& patterns, NativeChecks& out)
        : pool_(pool), patterns_(patterns), out_(out) {}

    // Whether a walk of a JSON value needs Python somewhere in what was
    // added (see NativeChecks::json_walk_without_python).
    bool needs_python() const { return needs_python_; }

    bool add(const ir::Node& root) {
        push(root);
        while (!stack_.empty()) {
            const ir::Node* node = stack_.back();
            stack_.pop_back();
            if (!visit(*node)) return false;
            children_.clear();
            ir::push_children(*node, children_);
            for (const ir::Node* child : children_) push(*child);
        }
        return true;
    }

private:
    void push(const ir::Node& node) {
        if (seen_.insert(&node).second) stack_.push_back(&node);
    }

    // What the node itself contributes; `add` then visits its children.
    bool visit(const ir::Node& node) {
        switch (python_use(node.kind)) {
            case PythonUse::Never:
                return true;
            case PythonUse::Always:
                needs_python_ = true;
                return true;
            case PythonUse::ByCopy:
                break;
        }
        switch (node.kind) {
            case ir::NodeKind::Literal: {
                if (!add_constant(node.pool_index())) return false;
                const NativeConstant::Kind kind = out_.constants.find(node.pool_index())->second.kind;
                if (kind == NativeConstant::Kind::Unknown || kind == NativeConstant::Kind::Container)
                    needs_python_ = true;
                return true;
            }
            case ir::NodeKind::Refined: {
                if (!add_refinement(node)) return false;
                const NativeRefinement* r = out_.refinement(node);
                if (!r || (has_divisor(*r) && !(node.inner() && admits_no_str(*node.inner(), 0))))
                    needs_python_ = true;  // (a divisor answers a str only in Python)
                return true;
            }
            default:
                needs_python_ = true;
                return true;
        }
    }

    bool add_constant(std::uint64_t index) {
        if (out_.constants.contains(index)) return true;
        NativeConstant c;
        PyObject* obj = index < pool_.size() ? pool_[index].get() : nullptr;
        using K = NativeConstant::Kind;
        if (!obj) {
            c.kind = K::Unknown;
        } else if (obj == Py_None) {
            c.kind = K::None;
        } else if (Py_IS_TYPE(obj, &PyBool_Type)) {
            c.kind = K::Bool;
            c.truth = obj == Py_True;
        } else if (Py_IS_TYPE(obj, &PyFloat_Type)) {
            c.kind = K::Float;
            c.real = PyFloat_AS_DOUBLE(obj);
        } else if (Py_IS_TYPE(obj, &PyLong_Type)) {
            NativeNumber n;
            bool failed = false;
            if (native_number(obj, n, failed)) {
                c.kind = K::Int;
                c.integer = n.integer;
            } else if (failed) {
                return false;
            } else {
                // Beyond 64 bits: its decimal text, unless the interpreter's
                // digit limit refuses to write it.
                c.kind = K::Unknown;
                py::Ref text = py::Ref::steal(PyObject_Str(obj));
                Py_ssize_t size = 0;
                const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), &size) : nullptr;
                if (utf8) {
                    c.kind = K::BigInt;
                    c.text.assign(utf8, static_cast<std::size_t>(size));
                } else if (!drop_conversion_error()) {
                    return false;
                }
            }
        } else if (Py_IS_TYPE(obj, &PyUnicode_Type)) {
            Py_ssize_t size = 0;
            const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &size);
            if (utf8) {
                c.kind = K::Str;
                c.text.assign(utf8, static_cast<std::size_t>(size));
            } else if (drop_conversion_error()) {
                c.kind = K::Never;  // a lone surrogate: no JSON string holds one
            } else {
                return false;
            }
        } else if (Py_IS_TYPE(obj, &PyList_Type) || Py_IS_TYPE(obj, &PyDict_Type)) {
            c.kind = K::Container;
        } else {
            c.kind = K::Never;
        }
        out_.constants.emplace(index, std::move(c));
        return true;
    }

    bool add_refinement(const ir::Node& node) {
        const auto constraints = ir::as_span(node.constraints);
        if (constraints.empty()) return true;
        const void* key = static_cast<const void*>(constraints.data());
        if (out_.refinements.contains(key)) return true;
        NativeRefinement r;
        r.constraints.reserve(constraints.size());
        for (const ir::Constraint& c : constraints) {
            NativeConstraint n;
            n.kind = c.kind;
            switch (c.kind) {
                case ir::ConstraintKind::Ge:
                case ir::ConstraintKind::Gt:
                case ir::ConstraintKind::Le:
                case ir::ConstraintKind::Lt:
                case ir::ConstraintKind::MultipleOf: {
                    bool failed = false;
                    if (!native_number(c.value < pool_.size() ? pool_[c.value].get() : nullptr, n.number, failed))
                        return !failed;  // no native copy: the node keeps to Python
                    r.lengths_only = false;
                    break;
                }
                case ir::ConstraintKind::MinLen:
                    n.count = c.value;
                    if (c.value > r.min_length) r.min_length = c.value;
                    break;
                case ir::ConstraintKind::MaxLen:
                    n.count = c.value;
                    if (c.value < r.max_length) r.max_length = c.value;
                    break;
                case ir::ConstraintKind::Regex: {
                    auto it = patterns_.find(static_cast<const void*>(&c.pattern));
                    if (it == patterns_.end() || !it->second) return true;
                    n.matcher = it->second;
                    r.lengths_only = false;
                    break;
                }
                case ir::ConstraintKind::Predicate:
                    return true;
            }
            r.constraints.push_back(std::move(n));
        }
        out_.refinements.emplace(key, std::move(r));
        return true;
    }

    static bool has_divisor(const NativeRefinement& r) {
        for (const NativeConstraint& c : r.constraints)
            if (c.kind == ir::ConstraintKind::MultipleOf) return true;
        return false;
    }

    // Whether no str is a member of `node` (false where it may be one).
    bool admits_no_str(const ir::Node& node, unsigned hops) const {
        if (hops > 16) return false;
        switch (node.kind) {
            case ir::NodeKind::Nothing:
            case ir::NodeKind::None:
            case ir::NodeKind::Bool:
            case ir::NodeKind::Int:
            case ir::NodeKind::Float:
                return true;
            case ir::NodeKind::Literal: {
                PyObject* c = node.pool_index() < pool_.size() ? pool_[node.pool_index()].get() : nullptr;
                return c && !PyUnicode_Check(c);
            }
            case ir::NodeKind::Refined:
                return node.inner() && admits_no_str(*node.inner(), hops + 1);
            case ir::NodeKind::Union:
                for (const ir::Node& m : ir::as_span(node.members()))
                    if (!admits_no_str(m, hops + 1)) return false;
                return true;
            case ir::NodeKind::Intersection:
                for (const ir::Node& m : ir::as_span(node.members()))
                    if (admits_no_str(m, hops + 1)) return true;
                return false;
            default:
                return false;
        }
    }

    std::span<const py::Ref> pool_;
    const Patterns& patterns_;
    NativeChecks& out_;
    bool needs_python_ = false;
    std::vector<const ir::Node*> stack_;
    std::vector<const ir::Node*> children_;  // scratch: the children of the node visited
    boost::unordered_flat_set<const ir::Node*, util::FxHash> seen_;
};

// --- answers -------------------------------------------------------------------

// The sign of `i - d` for a double that is not NaN, exactly.
int compare_int_float(std::int64_t i, double d) {
    constexpr double kTwo63 = 9223372036854775808.0;
    if (d >= kTwo63) return -1;  // infinity included
    if (d < -kTwo63) return 1;
    const double whole = std::trunc(d);  // within the int64 range now
    const auto w = static_cast<std::int64_t>(whole);
    if (i != w) return i < w ? -1 : 1;
    const double fraction = d - whole;  // exact
    return fraction > 0 ? -1 : fraction < 0 ? 1 : 0;
}

// The magnitude of a big int's decimal text (its digits, without the sign)
// against that of a non-negative integer-valued double, exactly.
int compare_digits_float(std::string_view digits, double magnitude) {
    char buffer[400];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::fixed, 0);
    const std::string_view exact(buffer, static_cast<std::size_t>(written.ptr - buffer));
    if (digits.size() != exact.size()) return digits.size() < exact.size() ? -1 : 1;
    const int c = digits.compare(exact);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

// The sign of `value - bound`: -1, 0 or 1; 2 when unordered (a NaN bound),
// 3 when the comparison raises (a value that is not a number).
int compare(const NativeValue& value, const NativeNumber& bound) {
    switch (value.kind) {
        case json::Kind::False:
        case json::Kind::True:
        case json::Kind::Int: {
            const std::int64_t i = value.kind == json::Kind::Int ? value.integer : value.kind == json::Kind::True;
            if (!bound.is_float) return i < bound.integer ? -1 : i > bound.integer ? 1 : 0;
            if (std::isnan(bound.real)) return 2;
            return compare_int_float(i, bound.real);
        }
        case json::Kind::Float: {
            const double x = value.real;
            if (!bound.is_float) return -compare_int_float(bound.integer, x);
            if (std::isnan(bound.real)) return 2;
            return x < bound.real ? -1 : x > bound.real ? 1 : 0;
        }
        case json::Kind::BigInt: {
            // Beyond the 64-bit range: past every int bound, and past a
            // float bound below 2**63 in magnitude; otherwise exactly.
            const bool negative = !value.text.empty() && value.text.front() == '-';
            const int sign = negative ? -1 : 1;
            if (!bound.is_float) return sign;
            const double d = bound.real;
            if (std::isnan(d)) return 2;
            if (std::isinf(d)) return d > 0 ? -1 : 1;
            if ((d < 0) != negative || std::fabs(d) < 9223372036854775808.0) return sign;
            const int magnitude = compare_digits_float(value.text.substr(negative ? 1 : 0), std::fabs(d));
            return negative ? -magnitude : magnitude;
        }
        default:
            return 3;
    }
}

bool bound_holds(ir::ConstraintKind kind, int order) {
    if (order > 1) return false;  // unordered, or the comparison raised
    switch (kind) {
        case ir::ConstraintKind::Ge: return order >= 0;
        case ir::ConstraintKind::Gt: return order > 0;
        case ir::ConstraintKind::Le: return order <= 0;
        default: return order < 0;
    }
}

// `value % divisor == 0`: 1, 0, or -1 when only Python can tell.
int divides(const NativeValue& value, const NativeNumber& divisor) {
    double x = 0.0;
    switch (value.kind) {
        case json::Kind::False:
        case json::Kind::True:
        case json::Kind::Int: {
            const std::int64_t i = value.kind == json::Kind::Int ? value.integer : value.kind == json::Kind::True;
            if (!divisor.is_float) {
                if (divisor.integer == 0) return 0;          // ZeroDivisionError
                if (divisor.integer == -1) return 1;         // (and INT64_MIN % -1 is not computed)
                return i % divisor.integer == 0;
            }
            x = static_cast<double>(i);  // nearest, as Python converts it
            break;
        }
        case json::Kind::BigInt: {
            const bool negative = !value.text.empty() && value.text.front() == '-';
            if (!divisor.is_float) {
                if (divisor.integer == 0) return 0;
                const unsigned __int128 m = divisor.integer < 0
                                                ? static_cast<unsigned __int128>(-(divisor.integer + 1)) + 1
                                                : static_cast<unsigned __int128>(divisor.integer);
                unsigned __int128 r = 0;
                for (char c : value.text.substr(negative ? 1 : 0)) r = (r * 10 + static_cast<unsigned>(c - '0')) % m;
                return r == 0;
            }
            // Converted to the nearest float; too large for one raises.
            if (json::read_float(value.text, x) == json::FloatRead::Overflow) return 0;
            break;
        }
        case json::Kind::Float:
            x = value.real;
            break;
        case json::Kind::String:
            return -1;  // `str % divisor` would format: the walk's answer
        default:
            return 0;  // None, a list, a dict: TypeError
    }
    const double d = divisor.is_float ? divisor.real : static_cast<double>(divisor.integer);
    if (d == 0.0) return 0;  // ZeroDivisionError
    return std::fmod(x, d) == 0.0;
}

// The length Python gives the value, or false when it has none.
bool length_of(const NativeValue& value, std::uint64_t& out) {
    switch (value.kind) {
        case json::Kind::String: {
            std::uint64_t n = 0;
            for (unsigned char c : value.text) n += (c & 0xC0) != 0x80;
            out = n;
            return true;
        }
        case json::Kind::Array:
        case json::Kind::Object:
            out = value.length;
            return true;
        default:
            return false;
    }
}

}  // namespace

bool build_native_checks(const ir::Node& root, std::span<const ir::Node> definitions, std::span<const py::Ref> pool,
                         const NativeBuilder::Patterns& patterns, NativeChecks& out) {
    NativeBuilder builder(pool, patterns, out);
    if (!builder.add(root)) return false;
    for (const ir::Node& definition : definitions)
        if (!builder.add(definition)) return false;
    out.json_walk_without_python = !builder.needs_python();
    return true;
}

NativeValue native_value(const json::Document& doc, const json::Value& value) {
    NativeValue v;
    v.kind = value.kind;
    switch (value.kind) {
        case json::Kind::Int: v.integer = value.as_int(); break;
        case json::Kind::Float: v.real = value.as_float(); break;
        case json::Kind::String:
        case json::Kind::BigInt: v.text = doc.text(value); break;
        case json::Kind::Array:
        case json::Kind::Object: v.length = value.count; break;
        default: break;
    }
    return v;
}

int native_refinement_answer(const NativeRefinement& refinement, const NativeValue& value, util::Poll* poll) {
    std::uint64_t length = 0;
    bool has_length = false;
    bool length_known = false;
    for (const NativeConstraint& c : refinement.constraints) {
        int ok = 0;
        switch (c.kind) {
            case ir::ConstraintKind::Ge:
            case ir::ConstraintKind::Gt:
            case ir::ConstraintKind::Le:
            case ir::ConstraintKind::Lt:
                ok = bound_holds(c.kind, compare(value, c.number));
                break;
            case ir::ConstraintKind::MultipleOf:
                ok = divides(value, c.number);
                break;
            case ir::ConstraintKind::MinLen:
            case ir::ConstraintKind::MaxLen:
                if (!length_known) {
                    has_length = length_of(value, length);
                    length_known = true;
                }
                ok = has_length && (c.kind == ir::ConstraintKind::MinLen ? length >= c.count : length <= c.count);
                break;
            case ir::ConstraintKind::Regex:
                ok = value.kind == json::Kind::String && c.matcher && c.matcher->matches(value.text, poll);
                if (poll && poll->stopped()) return 0;
                break;
            case ir::ConstraintKind::Predicate:
                ok = -1;
                break;
        }
        // In order, as the walk checks them: it stops at the first failure,
        // and what only Python can tell is left to Python from there on.
        if (ok <= 0) return ok;
    }
    return 1;
}

int native_literal_answer(const NativeConstant& constant, const NativeValue& value) {
    using K = NativeConstant::Kind;
    switch (constant.kind) {
        case K::Unknown: return -1;
        case K::Never: return 0;
        case K::None: return value.kind == json::Kind::Null;
        case K::Bool:
            return (value.kind == json::Kind::True && constant.truth) ||
                   (value.kind == json::Kind::False && !constant.truth);
        case K::Int: return value.kind == json::Kind::Int && value.integer == constant.integer;
        case K::BigInt: return value.kind == json::Kind::BigInt && value.text == constant.text;
        case K::Float: return value.kind == json::Kind::Float && value.real == constant.real;
        case K::Str: return value.kind == json::Kind::String && value.text == constant.text;
        case K::Container:
            return value.kind == json::Kind::Array || value.kind == json::Kind::Object ? -1 : 0;
    }
    return -1;
}

}  // namespace tessaron::python::check
