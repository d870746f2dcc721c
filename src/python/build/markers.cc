// Annotated metadata read as markers: the constraints each item carries.
//
// What it computes: the constraints of one metadata item, read by duck
// typing on ten attribute names -- "pattern" (with "flags"), the bounds
// "ge", "gt", "le", "lt", the lengths "min_length", "max_length", the
// divisor "multiple_of" and the predicate "func" -- or the item as a
// callable (a predicate), or as a group of further markers.  A marker of
// the `annotated_types` module that yields nothing readable is refused,
// because ignoring it would admit values it excludes; any other object is
// ignored (documentation strings, other libraries' notes).
//
// Invariants:
//   - A marker with a pattern is also read for its bounds, lengths and
//     divisor (never ignored), but never as a predicate or a group.
//   - Which of the ten attributes a type carries itself, and whether its
//     instances have a `__dict__`, is computed once per type and kept in a
//     process-wide dict of at most 256 types.
//   - User errors (attribute access, group iteration, `isinstance`) are
//     raised; errors of the purely advisory conversions (a bound to float, a
//     flags value, the grouped-metadata test) are discarded unless fatal.
//
// Budget: ten attribute reads per marker (fewer with the type flags); groups
// nest at most eight deep, every group element is one builder step, and a
// schema never collects more than MAX_SCHEMA_NODES constraints.
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/ir/limits.h"
#include "python/binding/intern.h"
#include "python/binding/once_cell.h"
#include "python/binding/ref.h"
#include "python/build/builder.h"
#include "python/build/refusal.h"
#include "python/value_text.h"

namespace tessaron::python {

namespace {

using ir::Constraint;
using ir::ConstraintKind;

// --- marker attributes ------------------------------------------------------

enum MarkerKind : int {
    kPattern = 0,
    kFlags = 1,
    kGe = 2,
    kGt = 3,
    kLe = 4,
    kLt = 5,
    kMinLength = 6,
    kMaxLength = 7,
    kMultipleOf = 8,
    kFunc = 9,
    kMarkerKinds = 10,
};

constexpr const char* kMarkerNames[kMarkerKinds] = {"pattern", "flags",      "ge",         "gt",          "le",
                                                    "lt",      "min_length", "max_length", "multiple_of", "func"};

PyObject* marker_name(int kind) {
    switch (kind) {
        case kPattern: return TS_INTERNED("pattern");
        case kFlags: return TS_INTERNED("flags");
        case kGe: return TS_INTERNED("ge");
        case kGt: return TS_INTERNED("gt");
        case kLe: return TS_INTERNED("le");
        case kLt: return TS_INTERNED("lt");
        case kMinLength: return TS_INTERNED("min_length");
        case kMaxLength: return TS_INTERNED("max_length");
        case kMultipleOf: return TS_INTERNED("multiple_of");
        default: return TS_INTERNED("func");
    }
}

// Bit `1 << kind`: the type itself has the attribute.
constexpr std::uint16_t kTypeHasGetattr = 0x4000;
constexpr std::uint16_t kInstanceHasDict = 0x8000;
// The cache keeps a type's flags only while it holds at most this many.
constexpr Py_ssize_t kFlagCacheFill = 255;

py::OnceCell<py::Ref> g_flag_cache;

PyObject* flag_cache() {
    const py::Ref* cache = g_flag_cache.get_or_init([](std::optional<py::Ref>& out) {
        py::Ref dict = py::Ref::steal(PyDict_New());
        if (!dict) return false;
        out.emplace(std::move(dict));
        return true;
    });
    return cache ? cache->get() : nullptr;
}

// The marker flags of `item`'s type, from the cache or computed (and kept
// while the cache has room).  False with an exception set.
bool marker_flags(PyObject* item, std::uint16_t& flags) {
    PyObject* cache = flag_cache();
    if (!cache) return false;
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(item));
    PyObject* cached = PyDict_GetItemWithError(cache, type);
    if (cached) {
        flags = static_cast<std::uint16_t>(PyLong_AsUnsignedLong(cached));
        return true;
    }
    if (PyErr_Occurred()) return false;
    flags = 0;
    py::Ref value;
    for (int k = 0; k < kMarkerKinds; ++k) {
        const int found = read_optional_attr(type, marker_name(k), value);
        if (found < 0) return false;
        if (found) flags |= static_cast<std::uint16_t>(1u << k);
    }
    int found = read_optional_attr(type, TS_INTERNED("__getattr__"), value);
    if (found < 0) return false;
    if (found) flags |= kTypeHasGetattr;
    found = read_optional_attr(item, TS_INTERNED("__dict__"), value);
    if (found < 0) return false;
    if (found && PyDict_Check(value.get())) flags |= kInstanceHasDict;
    if (PyDict_GET_SIZE(cache) <= kFlagCacheFill) {
        py::Ref number = py::Ref::steal(PyLong_FromUnsignedLong(flags));
        if (!number || PyDict_SetItem(cache, type, number.get()) < 0) return false;
    }
    return true;
}

// How one item's attributes are read: through attribute access when its
// type has the attribute (or a `__getattr__`), else from its instance dict.
struct MarkerReader {
    PyObject* item;
    std::uint16_t flags;
    py::Ref instance_dict;

    // 1 with the value, 0 absent, -1 with an exception set.
    int read(int kind, py::Ref& out) const {
        PyObject* name = marker_name(kind);
        if ((flags & (1u << kind)) || (flags & kTypeHasGetattr)) return read_optional_attr(item, name, out);
        if (!instance_dict) return 0;
        PyObject* found = PyDict_GetItemWithError(instance_dict.get(), name);
        if (found) {
            out = py::Ref::borrow(found);
            return 1;
        }
        return PyErr_Occurred() ? -1 : 0;
    }
};

bool raise_text(PyObject* type, const std::string& message) {
    PyErr_SetString(type, message.c_str());
    return false;
}

// The float value of an object for the NaN tests: exact floats directly,
// others through `__float__`/`__index__`.  False when there is none (the
// error is discarded) -- or when a fatal exception was raised, which stays
// set (`fatal` tells the two apart).
bool as_double(PyObject* value, double& out, bool& fatal) {
    fatal = false;
    if (PyFloat_CheckExact(value)) {
        out = PyFloat_AS_DOUBLE(value);
        return true;
    }
    out = PyFloat_AsDouble(value);
    if (out == -1.0 && PyErr_Occurred()) {
        fatal = !py::clear_unless_fatal();
        return false;
    }
    return true;
}

void append_pooled(ConstraintKind kind, PyObject* value, BuildTarget target, std::vector<Constraint>& constraints) {
    Constraint c;
    c.kind = kind;
    c.value = intern_pool_value(target.pool, value);
    constraints.push_back(std::move(c));
}

// The four bounds.
bool read_bounds(const MarkerReader& reader, BuildTarget target, std::vector<Constraint>& constraints) {
    static constexpr ConstraintKind kKinds[] = {ConstraintKind::Ge, ConstraintKind::Gt, ConstraintKind::Le,
                                                ConstraintKind::Lt};
    for (int k = kGe; k <= kLt; ++k) {
        py::Ref value;
        const int found = reader.read(k, value);
        if (found < 0) return false;
        if (!found || value.get() == Py_None) continue;
        double number = 0;
        bool fatal = false;
        if (as_double(value.get(), number, fatal) && std::isnan(number))
            return raise_text(PyExc_ValueError,
                              std::string(kMarkerNames[k]) +
                                  " cannot be nan: every comparison with nan is false, so the bound admits no value "
                                  "at all. Write the bound you mean, or `nothing` for the empty set");
        if (fatal) return false;
        append_pooled(kKinds[k - kGe], value.get(), target, constraints);
    }
    return true;
}

// A length count: an int (or subclass) directly, anything else through its
// `__index__`.  False with no exception when it is not a count (a fatal
// exception stays set and `fatal` is true).
bool as_count(PyObject* value, std::uint64_t& out, bool& fatal) {
    fatal = false;
    py::Ref index;
    if (PyLong_Check(value)) {
        index = py::Ref::borrow(value);
    } else if (PyIndex_Check(value)) {
        index = py::Ref::steal(PyNumber_Index(value));
        if (!index) {
            fatal = !py::clear_unless_fatal();
            return false;
        }
    } else {
        return false;
    }
    const unsigned long long count = PyLong_AsUnsignedLongLong(index.get());
    if (count == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        fatal = !py::clear_unless_fatal();
        return false;
    }
    out = count;
    return true;
}

// Decisions take no value to be longer than the largest Py_ssize_t.
static_assert(ir::kMaxLength == static_cast<std::uint64_t>(PY_SSIZE_T_MAX));

// The two lengths.
bool read_lengths(const MarkerReader& reader, std::vector<Constraint>& constraints) {
    for (int k = kMinLength; k <= kMaxLength; ++k) {
        py::Ref value;
        const int found = reader.read(k, value);
        if (found < 0) return false;
        if (!found || value.get() == Py_None) continue;
        std::uint64_t count = 0;
        bool fatal = false;
        if (!as_count(value.get(), count, fatal)) {
            if (fatal) return false;
            return raise_text(PyExc_ValueError, std::string(kMarkerNames[k]) +
                                                    " must be a length a value can have, and " +
                                                    safe_repr(value.get()) + " is not");
        }
        Constraint c;
        c.kind = k == kMinLength ? ConstraintKind::MinLen : ConstraintKind::MaxLen;
        c.value = count;
        constraints.push_back(std::move(c));
    }
    return true;
}

py::OnceCell<py::Ref> g_number_class;

}  // namespace

// `numbers.Number`, looked up once for the process.
PyObject* number_class() {
    const py::Ref* cls = g_number_class.get_or_init([](std::optional<py::Ref>& out) {
        py::Ref module = py::Ref::steal(PyImport_ImportModule("numbers"));
        if (!module) return false;
        py::Ref number = py::Ref::steal(PyObject_GetAttrString(module.get(), "Number"));
        if (!number) return false;
        out.emplace(std::move(number));
        return true;
    });
    return cls ? cls->get() : nullptr;
}

// A divisor must be a number: the remainder of anything else equals no
// zero, so the constraint would admit nothing.
bool check_divisor_is_number(PyObject* value) {
    PyObject* number = number_class();
    if (!number) return false;
    const int is_number = PyObject_IsInstance(value, number);
    if (is_number < 0) return false;
    if (is_number) return true;
    return raise_text(PyExc_ValueError,
                      "MultipleOf(" + safe_repr(value) +
                          ") is not a valid constraint: a multiple is `value % n == 0`, and the remainder of a value "
                          "that is not a number equals no zero, so no value would belong. Write the step as a number");
}

namespace {

// The divisor.
bool read_divisor(const MarkerReader& reader, BuildTarget target, std::vector<Constraint>& constraints) {
    py::Ref value;
    const int found = reader.read(kMultipleOf, value);
    if (found < 0) return false;
    if (!found || value.get() == Py_None) return true;
    double number = 0;
    bool fatal = false;
    if (as_double(value.get(), number, fatal) && std::isnan(number))
        return raise_text(PyExc_ValueError,
                          "MultipleOf(nan) is not a valid constraint: no value is a multiple of nan, because every "
                          "comparison with nan is false. Write the step you mean");
    if (fatal) return false;
    py::Ref zero = py::Ref::steal(PyLong_FromLong(0));
    if (!zero) return false;
    const int is_zero = PyObject_RichCompareBool(value.get(), zero.get(), Py_EQ);
    if (is_zero < 0 && !py::clear_unless_fatal()) return false;
    if (is_zero > 0)
        return raise_text(PyExc_ValueError,
                          "MultipleOf(0) is not a valid constraint: no value is a multiple of zero. Use a nonzero "
                          "divisor.");
    if (!check_divisor_is_number(value.get())) return false;
    append_pooled(ConstraintKind::MultipleOf, value.get(), target, constraints);
    return true;
}

}  // namespace

bool constraint_limit_exceeded(PyObject* group) {
    return raise_text(PyExc_ValueError,
                      safe_repr(group) + " yields more than " + std::to_string(ir::kMaxSchemaNodes) +
                          " constraints: a schema holds at most MAX_SCHEMA_NODES nodes, so a group of markers this "
                          "long, or one that never ends, cannot be carried");
}

// True when the object says it is grouped metadata; an error on the way
// counts as false (a fatal one is left set: check PyErr_Occurred()).
bool is_grouped_metadata(PyObject* obj) {
    py::Ref flag;
    const int found = read_optional_attr(obj, TS_INTERNED("__is_annotated_types_grouped_metadata__"), flag);
    if (found <= 0) {
        if (found < 0) py::clear_unless_fatal();
        return false;
    }
    const int truth = PyObject_IsTrue(flag.get());
    if (truth < 0) {
        py::clear_unless_fatal();
        return false;
    }
    return truth > 0;
}

// True for the marker types of `annotated_types` (other than its DocInfo),
// which a frontend must check rather than ignore.
bool is_unchecked_marker_type(PyTypeObject* type) {
    PyObject* cls = reinterpret_cast<PyObject*>(type);
    py::Ref module;
    int found = read_optional_attr(cls, TS_INTERNED("__module__"), module);
    if (found <= 0) {
        if (found < 0) py::clear_unless_fatal();
        return false;
    }
    if (!PyUnicode_Check(module.get()) || PyUnicode_CompareWithASCIIString(module.get(), "annotated_types") != 0)
        return false;
    py::Ref name;
    found = read_optional_attr(cls, TS_INTERNED("__name__"), name);
    if (found < 0) {
        if (!py::clear_unless_fatal()) return false;
        found = 0;
    }
    if (found && PyUnicode_Check(name.get()) && PyUnicode_CompareWithASCIIString(name.get(), "DocInfo") == 0)
        return false;
    return true;
}

bool read_marker(PyObject* item, std::vector<Constraint>& constraints, BuildTarget target, int depth);

// Reads each element of a grouped marker one level deeper.
bool build_marker_group(PyObject* item, std::vector<Constraint>& constraints, BuildTarget target, int depth) {
    if (depth > 7)
        return raise_text(PyExc_ValueError, safe_repr(item) +
                                                " groups markers nested too deeply: a marker stands for the "
                                                "constraints it yields, and following this one does not bottom out");
    py::Ref iterator = py::Ref::steal(PyObject_GetIter(item));
    if (!iterator) return false;
    while (true) {
        py::Ref element = py::Ref::steal(PyIter_Next(iterator.get()));
        if (!element) return !PyErr_Occurred();
        if (!charge_build_step()) return false;
        if (!read_marker(element.get(), constraints, target, depth + 1)) return false;
        if (constraints.size() > ir::kMaxSchemaNodes) return constraint_limit_exceeded(item);
    }
}

// Reads one metadata item, appending the constraints it carries.
bool read_marker(PyObject* item, std::vector<Constraint>& constraints, BuildTarget target, int depth) {
    if (PyType_Check(item)) return true;  // a class is never a marker
    MarkerReader reader{item, 0, {}};
    if (!marker_flags(item, reader.flags)) return false;
    if (reader.flags & kInstanceHasDict) {
        py::Ref dict;
        const int found = read_optional_attr(item, TS_INTERNED("__dict__"), dict);
        if (found < 0) return false;
        if (found && PyDict_Check(dict.get())) reader.instance_dict = std::move(dict);
    }

    py::Ref pattern_value;
    const int has_pattern = reader.read(kPattern, pattern_value);
    if (has_pattern < 0) return false;
    if (has_pattern) {
        std::string text;
        if (!read_pattern_text(pattern_value.get(), text)) return false;
        py::Ref flags;
        const int has_flags = reader.read(kFlags, flags);
        if (has_flags < 0 && !py::clear_unless_fatal()) return false;
        if (!add_pattern_constraint(std::move(text), has_flags > 0 ? flags.get() : nullptr, constraints)) return false;
    }

    const std::size_t before = constraints.size();
    if (!read_bounds(reader, target, constraints)) return false;
    if (!read_lengths(reader, constraints)) return false;
    if (!read_divisor(reader, target, constraints)) return false;
    // A marker with a pattern has said what it is: never a predicate or a group.
    if (has_pattern) return true;

    if (PyCallable_Check(item)) {
        append_pooled(ConstraintKind::Predicate, item, target, constraints);
        return true;
    }
    py::Ref func;
    const int has_func = reader.read(kFunc, func);
    if (has_func < 0) return false;
    if (has_func && PyCallable_Check(func.get())) {
        append_pooled(ConstraintKind::Predicate, func.get(), target, constraints);
        return true;
    }
    if (constraints.size() != before) return true;

    if (is_grouped_metadata(item)) return build_marker_group(item, constraints, target, depth);
    if (PyErr_Occurred()) return false;
    if (is_unchecked_marker_type(Py_TYPE(item)))
        return raise_text(PyExc_NotImplementedError,
                          safe_repr(item) +
                              " is a constraint this frontend does not check; a schema carrying it would admit the "
                              "values it excludes, so it is refused rather than ignored");
    return !PyErr_Occurred();
}

}  // namespace tessaron::python
