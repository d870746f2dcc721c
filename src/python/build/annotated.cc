// `Annotated[base, m1, m2, ...]`: a base schema plus the constraints its
// metadata carries.
//
// What it computes: the refined node of the base and every constraint read
// from the metadata.  Each metadata item is read as a marker by duck typing
// on ten attribute names -- "pattern" (with "flags"), the bounds "ge", "gt",
// "le", "lt", the lengths "min_length", "max_length", the divisor
// "multiple_of" and the predicate "func" -- or as a callable (a predicate),
// or as a group of further markers.  Then every constraint is asked whether
// the base has the property it tests at all (a bound for a str, a pattern
// for an int): one that no value of the base could satisfy is refused
// rather than silently emptying the schema.  A marker of the
// `annotated_types` module that yields nothing readable is refused too,
// because ignoring it would admit values it excludes; any other object in
// the metadata is ignored (documentation strings, other libraries' notes).
//
// Invariants:
//   - A marker with a pattern is also read for its bounds, lengths and
//     divisor (never ignored), but never as a predicate or a group.
//   - Every pattern kept here compiles with `compile_full_match`, the same
//     compiler the walk and the lookup tables use; a pattern that `re` and
//     this engine would read as different sets (class-set operators) is
//     refused.
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
#include <string_view>
#include <vector>

#include "core/ir/construct.h"
#include "core/ir/limits.h"
#include "core/pattern/pattern.h"
#include "core/pattern/utf8.h"
#include "python/binding/intern.h"
#include "python/binding/once_cell.h"
#include "python/binding/ref.h"
#include "python/build/builder.h"
#include "python/build/refusal.h"
#include "python/check/refined.h"
#include "python/oracle.h"
#include "python/value_text.h"

namespace tessaron::python {

namespace {

using ir::Constraint;
using ir::ConstraintKind;
using ir::Node;
using ir::NodeKind;

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
py::OnceCell<py::Ref> g_number_class;

PyObject* flag_cache() {
    const py::Ref* cache = g_flag_cache.get_or_init([](std::optional<py::Ref>& out) {
        py::Ref dict = py::Ref::steal(PyDict_New());
        if (!dict) return false;
        out.emplace(std::move(dict));
        return true;
    });
    return cache ? cache->get() : nullptr;
}

// Clears a pending exception unless it is fatal (not an `Exception`, or a
// `MemoryError` or `RecursionError`).  True when it was cleared; false
// leaves the fatal one set for the caller to raise.
bool discard_error() {
    py::SavedError exc = py::SavedError::fetch();
    if (!py::is_fatal_exception(exc.get())) return true;
    exc.restore();
    return false;
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

// --- patterns -----------------------------------------------------------

// re's flag values refused, in the order they are tested, with the reason.
struct RefusedFlag {
    unsigned long bit;
    const char* name;
    const char* reason;
};
constexpr RefusedFlag kRefusedFlags[] = {
    {256, "re.ASCII", "write the ASCII spellings ([0-9], [A-Za-z0-9_]) instead"},
    {4, "re.LOCALE", "a pattern here does not depend on a locale"},
    {128, "re.DEBUG", "it asks the other engine to report on itself"},
};

// re's flag values carried as inline flags, in the order they are written.
struct CarriedFlag {
    unsigned long bit;
    char letter;
};
constexpr CarriedFlag kCarriedFlags[] = {{2, 'i'}, {8, 'm'}, {16, 's'}, {64, 'x'}};

// Applies a marker's "flags" to its pattern text: refuses the flags the
// engine cannot honour, prefixes the others as inline flags, ignores every
// other bit and any value that is not an int in [0, 2^32).
bool apply_flags(PyObject* flags, std::string& text) {
    if (!PyLong_Check(flags)) return true;
    const unsigned long long value = PyLong_AsUnsignedLongLong(flags);
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return discard_error();
    if (value >= (1ull << 32)) return true;
    for (const RefusedFlag& f : kRefusedFlags)
        if (value & f.bit)
            return raise_text(PyExc_NotImplementedError,
                              std::string(f.name) + " cannot be carried into this pattern: " + f.reason);
    std::string letters;
    for (const CarriedFlag& f : kCarriedFlags)
        if (value & f.bit) letters += f.letter;
    if (!letters.empty()) text = "(?" + letters + ")" + text;
    return true;
}

bool refuse_class_set_operator(const char* name, std::size_t position, std::string_view text) {
    return raise_text(PyExc_ValueError,
                      std::string("possible ") + name + " at position " + std::to_string(position) + " in " +
                          check::quote_pattern(text) +
                          ": this is a class-set operator here and a literal character to `re`, so the two read "
                          "the pattern as different sets. Escape the characters to mean them literally, or write "
                          "the classes out.");
}

}  // namespace

// The class-set operator scan.  Inside a bracketed class, `&&`, `--` and
// `~~` are set operations to this engine but literal characters to `re`,
// and a nested `[` is a nested set to one and a literal to the other; such a
// pattern would mean two different sets, so it is refused.  Positions count
// code points from 0.
bool check_class_set_operators(std::string_view text) {
    std::vector<std::uint32_t> cps;
    cps.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        std::size_t len = 1;
        cps.push_back(pattern::utf8::decode(text, i, len));
        i += len == 0 ? 1 : len;
    }
    const std::size_t n = cps.size();
    bool in_class = false;
    std::size_t first = 0;  // position of the open class's first member
    std::size_t i = 0;
    while (i < n) {
        const std::uint32_t c = cps[i];
        const bool has_next = i + 1 < n;
        const std::uint32_t next = has_next ? cps[i + 1] : 0;
        if (c == '\\') {
            i += 2;
            continue;
        }
        if (!in_class) {
            if (c == '[') {
                in_class = true;
                std::size_t j = i + 1;
                if (j < n && cps[j] == '^') ++j;
                first = j;
                if (j < n && cps[j] == ']') ++j;  // a literal ']' as the first member
                i = j;
                continue;
            }
            ++i;
            continue;
        }
        if (c == '[') {
            if (!has_next || next != ':') return refuse_class_set_operator("nested set", i, text);
            std::size_t j = i + 2;
            while (j + 1 < n && !(cps[j] == ':' && cps[j + 1] == ']')) ++j;
            i = j + 1 < n ? j + 2 : n;
            continue;
        }
        if (c == ']') {
            in_class = false;
            ++i;
            continue;
        }
        if (has_next && next == c && i != first) {
            if (c == '&') return refuse_class_set_operator("set intersection", i, text);
            if (c == '-') return refuse_class_set_operator("set difference", i, text);
            if (c == '~') return refuse_class_set_operator("set symmetric difference", i, text);
        }
        ++i;
    }
    return true;
}

namespace {

// Step 5 of reading a marker: its pattern (present, `None` included).
bool read_pattern(const MarkerReader& reader, PyObject* pattern_value, std::vector<Constraint>& constraints) {
    if (!PyUnicode_Check(pattern_value)) {
        const std::string shown =
            PyBytes_Check(pattern_value) ? std::string("a bytes pattern") : "the pattern " + safe_repr(pattern_value);
        return raise_text(PyExc_NotImplementedError,
                          shown + " cannot constrain a schema: a pattern is matched against text, so write the "
                                  "pattern as a str");
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(pattern_value, &size);
    if (!utf8) return false;
    std::string text(utf8, static_cast<std::size_t>(size));
    py::Ref flags;
    const int found = reader.read(kFlags, flags);
    if (found < 0) {
        if (!discard_error()) return false;
    } else if (found > 0 && !apply_flags(flags.get(), text)) {
        return false;
    }
    if (!check_class_set_operators(text)) return false;
    auto compiled = pattern::compile_full_match(text, pattern::TextKind::Str);
    if (auto* error = std::get_if<pattern::Error>(&compiled))
        return raise_text(PyExc_ValueError, "invalid regular expression " + check::quote_pattern(text) + ": " +
                                                pattern::format_error(*error, text));
    Constraint c;
    c.kind = ConstraintKind::Regex;
    c.pattern = std::move(text);
    constraints.push_back(std::move(c));
    return true;
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
        fatal = !discard_error();
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

// Step 6: the four bounds.
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
            fatal = !discard_error();
            return false;
        }
    } else {
        return false;
    }
    const unsigned long long count = PyLong_AsUnsignedLongLong(index.get());
    if (count == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        fatal = !discard_error();
        return false;
    }
    out = count;
    return true;
}

// Step 7: the two lengths.
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

}  // namespace

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

// Step 8: the divisor.
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
    if (is_zero < 0 && !discard_error()) return false;
    if (is_zero > 0)
        return raise_text(PyExc_ValueError,
                          "MultipleOf(0) is not a valid constraint: no value is a multiple of zero. Use a nonzero "
                          "divisor.");
    if (!check_divisor_is_number(value.get())) return false;
    append_pooled(ConstraintKind::MultipleOf, value.get(), target, constraints);
    return true;
}

bool constraint_limit_exceeded(PyObject* group) {
    return raise_text(PyExc_ValueError,
                      safe_repr(group) + " yields more than " + std::to_string(ir::kMaxSchemaNodes) +
                          " constraints: a schema holds at most MAX_SCHEMA_NODES nodes, so a group of markers this "
                          "long, or one that never ends, cannot be carried");
}

}  // namespace

// True when the object says it is grouped metadata; an error on the way
// counts as false (a fatal one is left set: check PyErr_Occurred()).
bool is_grouped_metadata(PyObject* obj) {
    py::Ref flag;
    const int found = read_optional_attr(obj, TS_INTERNED("__is_annotated_types_grouped_metadata__"), flag);
    if (found <= 0) {
        if (found < 0) discard_error();
        return false;
    }
    const int truth = PyObject_IsTrue(flag.get());
    if (truth < 0) {
        discard_error();
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
        if (found < 0) discard_error();
        return false;
    }
    if (!PyUnicode_Check(module.get()) || PyUnicode_CompareWithASCIIString(module.get(), "annotated_types") != 0)
        return false;
    py::Ref name;
    found = read_optional_attr(cls, TS_INTERNED("__name__"), name);
    if (found < 0) {
        if (!discard_error()) return false;
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
    if (has_pattern && !read_pattern(reader, pattern_value.get(), constraints)) return false;

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

namespace {

// --- applicability -----------------------------------------------------------

enum Applicability : std::uint8_t { kApplies = 0, kNeverApplies = 1, kUndetermined = 2 };

// The kind a literal stands for when its constant is a None-free builtin
// scalar (bool, int, float, str, bytes); otherwise the node's own kind.
NodeKind view_kind(const Node& node, std::span<const py::Ref> pool) {
    if (node.kind != NodeKind::Literal || node.pool_index() >= pool.size()) return node.kind;
    const std::optional<ir::Kind> kind = literal_kind(pool[node.pool_index()].get());
    if (!kind) return NodeKind::Literal;
    switch (*kind) {
        case ir::Kind::Bool: return NodeKind::Bool;
        case ir::Kind::Int: return NodeKind::Int;
        case ir::Kind::Float: return NodeKind::Float;
        case ir::Kind::Str: return NodeKind::Str;
        case ir::Kind::Bytes: return NodeKind::Bytes;
        default: return NodeKind::Literal;
    }
}

// isinstance(bound, numbers.Number), importing `numbers` each time; any
// error counts as "not a number" (a fatal one stays set).
bool bound_is_number(PyObject* bound) {
    py::Ref module = py::Ref::steal(PyImport_ImportModule("numbers"));
    py::Ref number = module ? py::Ref::steal(PyObject_GetAttrString(module.get(), "Number")) : py::Ref();
    const int is_number = number ? PyObject_IsInstance(bound, number.get()) : -1;
    if (is_number < 0) {
        discard_error();
        return false;
    }
    return is_number > 0;
}

Applicability when(bool applies) { return applies ? kApplies : kNeverApplies; }

// The answer for one constraint and one (viewed) node.
Applicability answer(const Node& viewed, NodeKind kind, const Constraint& c, std::span<const py::Ref> pool) {
    const Node* node = &viewed;
    while (kind == NodeKind::Refined && node->inner()) {
        node = node->inner().get();
        kind = node->kind;
    }
    if (kind == NodeKind::Union) {
        Applicability folded = kNeverApplies;
        for (const Node& member : ir::as_span(node->members())) {
            const Applicability m = answer(member, view_kind(member, pool), c, pool);
            if (PyErr_Occurred()) return kUndetermined;  // a fatal error, raised by the caller
            if (m == kApplies || folded == kApplies)
                folded = kApplies;
            else if (m == kNeverApplies && folded != kUndetermined)
                folded = kNeverApplies;
            else
                folded = kUndetermined;
        }
        return folded;
    }
    const bool order = c.kind == ConstraintKind::Ge || c.kind == ConstraintKind::Gt || c.kind == ConstraintKind::Le ||
                       c.kind == ConstraintKind::Lt;
    const bool length = c.kind == ConstraintKind::MinLen || c.kind == ConstraintKind::MaxLen;
    const bool divisor = c.kind == ConstraintKind::MultipleOf;
    PyObject* bound = order && c.value < pool.size() ? pool[c.value].get() : nullptr;
    switch (kind) {
        case NodeKind::None: return kNeverApplies;
        case NodeKind::Bool:
        case NodeKind::Int:
        case NodeKind::Float:
            if (order) return when(bound && bound_is_number(bound));
            return when(divisor);
        case NodeKind::Str:
            if (order) return when(bound && PyUnicode_Check(bound));
            return when(!divisor);
        case NodeKind::Bytes:
            if (order) return when(bound && PyBytes_Check(bound));
            return when(length);
        case NodeKind::Sequence:
            if (order)
                return when(bound && (node->flavour() == ir::kFlavourTuple ? PyTuple_Check(bound) : PyList_Check(bound)));
            return when(length);
        case NodeKind::Set:
            if (order) return when(bound && PyAnySet_Check(bound));
            return when(length);
        case NodeKind::Mapping: return when(length);
        default: return kUndetermined;
    }
}

const char* property_text(ConstraintKind kind) {
    switch (kind) {
        case ConstraintKind::Ge:
        case ConstraintKind::Gt:
        case ConstraintKind::Le:
        case ConstraintKind::Lt: return "order against that bound";
        case ConstraintKind::MinLen:
        case ConstraintKind::MaxLen: return "length";
        case ConstraintKind::MultipleOf: return "number for a divisor";
        default: return "text for a pattern to match";
    }
}

// The kind text of the base as viewed: a scalar literal by its type.
std::string_view view_text(const Node& base, NodeKind kind) {
    if (kind == base.kind) return ir::expected_kind_text(base);
    return ir::expected_kind_text(Node::scalar(kind));
}

}  // namespace

bool build_annotated(PyObject* origin, PyObject* metadata, BuildTarget target, ir::Node& out) {
    Node base;
    if (!build_node(origin, target, base)) return false;
    std::vector<Constraint> constraints;
    const Py_ssize_t count = PyTuple_GET_SIZE(metadata);
    for (Py_ssize_t i = 0; i < count; ++i) {
        // The tuple holds its items, but reading one may run user code that
        // drops the last other reference to the next.
        py::Ref item = py::Ref::borrow(PyTuple_GET_ITEM(metadata, i));
        if (!read_marker(item.get(), constraints, target, 0)) return false;
        if (constraints.size() > ir::kMaxSchemaNodes) return constraint_limit_exceeded(item.get());
    }
    const std::span<const py::Ref> pool(target.pool.objects);
    const NodeKind viewed = view_kind(base, pool);
    for (const Constraint& c : constraints) {
        if (c.kind == ConstraintKind::Predicate) continue;
        if (answer(base, viewed, c, pool) != kNeverApplies) {
            if (PyErr_Occurred()) return false;  // a fatal error of isinstance
            continue;
        }
        if (PyErr_Occurred()) return false;
        return raise_text(PyExc_NotImplementedError,
                          std::string(view_text(base, viewed)) + " values have no " + property_text(c.kind) +
                              ", so this constraint admits none of them; constrain a base the constraint can be "
                              "asked of");
    }
    out = ir::make_refined(std::move(base), std::move(constraints));
    return true;
}

}  // namespace tessaron::python
