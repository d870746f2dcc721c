// A marker's pattern: the text it constrains a str to.
//
// What it computes: the Regex constraint of a marker's "pattern" (with its
// "flags"), or the refusal of a pattern this schema cannot carry: a
// pattern that is not a str, `re` flags the engine cannot honour, a
// class-set operator (`&&`, `--`, `~~`, a nested `[` inside a class) that
// `re` and this engine would read as different sets, and a pattern that
// does not compile.  The flags `re.IGNORECASE`, `re.MULTILINE`,
// `re.DOTALL` and `re.VERBOSE` are carried as inline flags, except those
// the pattern's leading inline groups already set: a compiled `re`
// pattern reflects the flags of "(?i)a" in its `flags`, and writing them
// again would show "(?i)(?i)a".
//
// Invariants: every pattern kept here compiles with `compile_full_match`,
// the same compiler the walk and the lookup tables use.  An error while
// reading the flags value is discarded unless fatal.  Budget: one scan and
// one compilation of the pattern text, which runs pending signal handlers
// as it goes (util/poll.h).
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/pattern/class_set.h"
#include "core/pattern/pattern.h"
#include "python/binding/ref.h"
#include "python/binding/signals.h"
#include "python/build/builder.h"
#include "python/check/refined.h"
#include "python/pattern_cache.h"
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

// The flag letters set by the groups "(?letters)" that open the pattern,
// the ones `re` reads as global flags; comment groups "(?#...)" may
// separate them, and blanks and comments in verbose mode (`verbose`: set by
// the marker's flags), as in `re`.
// Those letters apply to the whole pattern in this engine too, since the
// groups match nothing, with one exception: blanks or comments skipped
// before the group that sets x are read as text here unless the x comes
// first, so an x set that late is left out of the answer.
std::string leading_flag_letters(std::string_view text, bool verbose) {
    constexpr std::string_view kGlobalLetters = "aiLmsux";   // re's global flag letters
    constexpr std::string_view kBlanks = " \t\n\r\v\f";  // re's verbose-mode blanks
    std::string letters;
    bool skipped = false;  // blanks or a comment skipped before x was set here
    std::size_t i = 0;
    for (;;) {
        const bool x_here = letters.find('x') != std::string::npos;
        while ((verbose || x_here) && i < text.size()) {
            if (kBlanks.find(text[i]) != std::string_view::npos) {
                ++i;
            } else if (text[i] == '#') {
                while (i < text.size() && text[i] != '\n') ++i;
            } else {
                break;
            }
            if (!x_here) skipped = true;
        }
        if (text.substr(i, 3) == "(?#") {
            // A comment group, which `re` skips here as anywhere (up to the
            // first ')'); this engine refuses it, and the refusal shows the
            // pattern without the flags written twice.
            const std::size_t close = text.find(')', i + 3);
            if (close == std::string_view::npos) break;
            i = close + 1;
            continue;
        }
        if (text.substr(i, 2) != "(?") break;
        std::size_t j = i + 2;
        while (j < text.size() && kGlobalLetters.find(text[j]) != std::string_view::npos) ++j;
        if (j == i + 2 || j == text.size() || text[j] != ')') break;
        letters.append(text.substr(i + 2, j - i - 2));
        i = j + 1;
    }
    if (skipped) std::erase(letters, 'x');
    return letters;
}

// Applies a marker's "flags" to its pattern text: refuses the flags the
// engine cannot honour, prefixes the others as inline flags (but for those
// the pattern's leading groups set), ignores every other bit and any value
// that is not an int in [0, 2^32).
bool apply_flags(PyObject* flags, std::string& text) {
    if (!PyLong_Check(flags)) return true;
    const unsigned long long value = PyLong_AsUnsignedLongLong(flags);
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return py::clear_unless_fatal();
    if (value >= (1ull << 32)) return true;
    for (const RefusedFlag& f : kRefusedFlags)
        if (value & f.bit)
            return raise_text(PyExc_NotImplementedError,
                              std::string(f.name) + " cannot be carried into this pattern: " + f.reason);
    const std::string leading = leading_flag_letters(text, (value & 64) != 0);
    std::string letters;
    for (const CarriedFlag& f : kCarriedFlags)
        if ((value & f.bit) && leading.find(f.letter) == std::string::npos) letters += f.letter;
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
    // Compiling a pattern near the size limit takes tens of milliseconds:
    // pending signal handlers run meanwhile, and one that raises ends the
    // build with its exception.
    util::Poll poll = py::signal_poll();
    auto compiled = pattern::compile_full_match(text, pattern::TextKind::Str, &poll);
    if (poll.stopped()) return false;
    if (auto* error = std::get_if<pattern::Error>(&compiled))
        return raise_text(PyExc_ValueError, "invalid regular expression " + check::quote_pattern(text) + ": " +
                                                pattern::format_error(*error, text));
    if (auto* matcher = std::get_if<std::shared_ptr<const pattern::FullMatcher>>(&compiled))
        BuiltPatternsScope::keep(text, std::move(*matcher));
    Constraint c;
    c.kind = ConstraintKind::Regex;
    c.pattern = std::move(text);
    constraints.push_back(std::move(c));
    return true;
}

}  // namespace tessaron::python
