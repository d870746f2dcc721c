// A marker's pattern: the text it constrains a str to.
//
// What it computes: the Regex constraint of a marker's "pattern" (with its
// "flags"), or the refusal of a pattern this schema cannot carry: a
// pattern that is not a str, `re` flags the engine cannot honour, a
// class-set operator (`&&`, `--`, `~~`, a nested `[` inside a class) that
// `re` and this engine would read as different sets, and a pattern that
// does not compile.  The flags `re.IGNORECASE`, `re.MULTILINE`,
// `re.DOTALL` and `re.VERBOSE` are carried as inline flags.
//
// Invariants: every pattern kept here compiles with `compile_full_match`,
// the same compiler the walk and the lookup tables use.  An error while
// reading the flags value is discarded unless fatal.  Budget: one scan and
// one compilation of the pattern text.
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/pattern/class_set.h"
#include "core/pattern/pattern.h"
#include "python/binding/ref.h"
#include "python/build/builder.h"
#include "python/check/refined.h"
#include "python/value_text.h"

namespace tessaron::python {

namespace {

using ir::Constraint;
using ir::ConstraintKind;

bool raise_text(PyObject* type, const std::string& message) {
    PyErr_SetString(type, message.c_str());
    return false;
}

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
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return py::clear_unless_fatal();
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

// The class-set operator scan of core/pattern, as a refusal.
bool check_class_set_operators(std::string_view text) {
    const std::optional<pattern::ClassSetOperator> op = pattern::find_class_set_operator(text);
    if (!op) return true;
    return raise_text(PyExc_ValueError,
                      std::string("possible ") + op->name + " at position " + std::to_string(op->position) + " in " +
                          check::quote_pattern(text) +
                          ": this is a class-set operator here and a literal character to `re`, so the two read "
                          "the pattern as different sets. Escape the characters to mean them literally, or write "
                          "the classes out.");
}

}  // namespace

bool read_pattern_text(PyObject* pattern_value, std::string& text) {
    if (!PyUnicode_Check(pattern_value)) {
        const std::string shown =
            PyBytes_Check(pattern_value) ? std::string("a bytes pattern") : "the pattern " + safe_repr(pattern_value);
        return raise_text(PyExc_NotImplementedError,
                          shown + " cannot constrain a schema: a pattern is matched against text, so write the "
                                  "pattern as a str");
    }
    Py_ssize_t size = 0;
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(pattern_value, &size)) {
        text.assign(utf8, static_cast<std::size_t>(size));
        return true;
    }
    // A lone surrogate: carried through in its three-byte form, which the
    // engine refuses as not UTF-8 with the position of the surrogate, so the
    // refusal reads like any invalid pattern's.
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return false;
    PyErr_Clear();
    py::Ref bytes = py::Ref::steal(PyUnicode_AsEncodedString(pattern_value, "utf-8", "surrogatepass"));
    if (!bytes) return false;
    text.assign(PyBytes_AS_STRING(bytes.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
    return true;
}

bool add_pattern_constraint(std::string text, PyObject* flags, std::vector<Constraint>& constraints) {
    if (flags && !apply_flags(flags, text)) return false;
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

}  // namespace tessaron::python
