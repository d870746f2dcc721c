// Message lines, path tuples and the `Failures` carrier.
//
// What it computes: the one-line text of a violation, the summary message
// of a raise, the Python tuple of a path, and the internal class `Failures`
// whose instances own the violations of one raised `ValidationError`.
//
// Invariants: every text handed to Python is valid UTF-8 (a key text that
// keeps lone surrogates is escaped in a message line and decoded back with
// "surrogatepass" in a path tuple), so `str(error)` can always be printed and
// `error.path` gives back the very key.  A `Failures` never changes after it
// is made; it holds no Python object, so it is not garbage-collected.
//
// Budget: rendering is linear in the texts; nothing here calls user code
// except `int(text)` for a big-int path segment.
#include "python/errors.h"

#include <charconv>
#include <new>

#include "python/binding/once_cell.h"
#include "python/binding/ref.h"

namespace tessaron::python {

namespace {

// Appends a key text, writing each surrogate code point (kept by
// "surrogatepass" as the bytes ED A0..BF 80..BF, which valid UTF-8 never
// contains) as the escape \udXXX that Python's repr uses.
void append_key_text(std::string_view text, std::string& out) {
    static const char kHex[] = "0123456789abcdef";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b0 = static_cast<unsigned char>(text[i]);
        if (b0 == 0xED && i + 2 < text.size()) {
            const auto b1 = static_cast<unsigned char>(text[i + 1]);
            const auto b2 = static_cast<unsigned char>(text[i + 2]);
            if (b1 >= 0xA0 && b1 <= 0xBF && (b2 & 0xC0) == 0x80) {
                const unsigned cp = 0xD000u | ((b1 & 0x3Fu) << 6) | (b2 & 0x3Fu);
                out += "\\u";
                for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(cp >> shift) & 0xF];
                i += 2;
                continue;
            }
        }
        out += static_cast<char>(b0);
    }
}

template <class Int>
void append_decimal(Int value, std::string& out) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, res.ptr);
}

// --- Failures --------------------------------------------------------------

struct FailuresObject {
    PyObject_HEAD
    std::vector<Violation> violations;
};

const char kFailuresDoc[] =
    "Internal carrier of the failures of one raised ValidationError.\n\n"
    "The error model: ValidationError.errors is a tuple of per-failure items, each a\n"
    "JSON-serialisable dict with the keys code, path, message, expected and value, so\n"
    "that dumping errors as JSON is the JSON output mode.  The scalar attributes\n"
    "code, path, message, expected and value mirror the first item, and str(exc)\n"
    "summarises every failure.  The attributes are built from this carrier on the\n"
    "first access that asks for one and cached into the instance.";

void failures_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<FailuresObject*>(self)->violations.~vector();
    type->tp_free(self);
    Py_DECREF(type);
}

#ifdef PYPY_VERSION
// PyPy's C-API layer ignores Py_TPFLAGS_DISALLOW_INSTANTIATION: only the
// module makes a carrier (through tp_alloc), never a call of the type.
PyObject* failures_new(PyTypeObject*, PyObject*, PyObject*) {
    PyErr_SetString(PyExc_TypeError, "cannot create 'tessaron.Failures' instances");
    return nullptr;
}
#endif

py::OnceCell<PyTypeObject*> g_failures_type;

bool create_failures_type(std::optional<PyTypeObject*>& out) {
    static PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>(kFailuresDoc)},
        {Py_tp_dealloc, reinterpret_cast<void*>(failures_dealloc)},
#ifdef PYPY_VERSION
        {Py_tp_new, reinterpret_cast<void*>(failures_new)},
#endif
        {0, nullptr},
    };
    static PyType_Spec spec = {
        "tessaron.Failures",
        static_cast<int>(sizeof(FailuresObject)),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
        slots,
    };
    PyObject* type = PyType_FromSpec(&spec);
    if (!type) return false;
    out.emplace(reinterpret_cast<PyTypeObject*>(type));
    return true;
}

}  // namespace

PathNode::~PathNode() {
    // A chain is released from the inside out: each node this one alone
    // owns is detached from its parent before it is destroyed, so a long
    // path never recurses once per segment.
    Path next = std::move(parent);
    while (next && next.use_count() == 1) {
        Path up = std::move(next->parent);
        next = std::move(up);
    }
}

PathNodes path_nodes(const Path& path) {
    PathNodes nodes(path_length(path));
    std::size_t i = nodes.size();
    for (const PathNode* n = path.get(); n && i > 0; n = n->parent.get()) nodes[--i] = n;
    return nodes;
}

const Violation& default_violation() {
    static const Violation* const v = new Violation{{}, "a member of the schema's set", "", "validation_error"};
    return *v;
}

namespace {

// Appends the segments of a path, outermost first: a `Key` bare when first
// and as ".key" after, any other segment in brackets.  Recursion follows the
// path's length, which the walk's nesting limit bounds.
void append_path(const PathNode& node, std::string& out) {
    const bool first = !node.parent;
    if (!first) append_path(*node.parent, out);
    const PathSegment& seg = node.segment;
    if (const auto* key = std::get_if<PathKey>(&seg)) {
        if (!first) out += '.';
        if (key->text) append_key_text(*key->text, out);
        return;
    }
    out += '[';
    if (const auto* i = std::get_if<PathInt>(&seg)) append_decimal(i->value, out);
    else if (const auto* b = std::get_if<PathBigInt>(&seg)) out += b->digits ? *b->digits : std::string();
    else append_decimal(std::get<PathIndex>(seg).value, out);
    out += ']';
}

}  // namespace

void render_error_line(const Violation& violation, std::string& out) {
    if (violation.path) {
        out += "at ";
        append_path(*violation.path, out);
        out += ": ";
    }
    out += "expected ";
    out += violation.expected;
    out += ", got ";
    out += violation.value;
    out += " [";
    out += violation.code;
    out += ']';
}

std::string render_summary(const std::vector<Violation>& violations) {
    std::string out;
    if (violations.size() <= 1) {
        render_error_line(violations.empty() ? default_violation() : violations.front(), out);
        return out;
    }
    append_decimal(violations.size(), out);
    out += " validation errors:";
    for (const Violation& v : violations) {
        out += '\n';
        render_error_line(v, out);
    }
    return out;
}

PyObject* text_to_str(const std::string& text) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

PyObject* segment_to_python(const PathSegment& seg) {
    if (const auto* key = std::get_if<PathKey>(&seg)) {
        const std::string& text = key->text ? *key->text : std::string();
        PyObject* item = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogatepass");
        if (!item && PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) {
            PyErr_Clear();
            item = text_to_str(text);
        }
        return item;
    }
    if (const auto* n = std::get_if<PathInt>(&seg)) return PyLong_FromLongLong(n->value);
    if (const auto* b = std::get_if<PathBigInt>(&seg)) {
        py::Ref digits = py::Ref::steal(text_to_str(b->digits ? *b->digits : std::string()));
        if (!digits) return nullptr;
        return PyObject_CallOneArg(reinterpret_cast<PyObject*>(&PyLong_Type), digits.get());
    }
    return PyLong_FromUnsignedLongLong(std::get<PathIndex>(seg).value);
}

PyObject* path_to_tuple(const Path& path) {
    const PathNodes nodes = path_nodes(path);
    py::Ref tuple = py::Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(nodes.size())));
    if (!tuple) return nullptr;
    Py_ssize_t i = 0;
    for (const PathNode* node : nodes) {
        PyObject* item = segment_to_python(node->segment);
        if (!item) return nullptr;
        PyTuple_SET_ITEM(tuple.get(), i++, item);
    }
    return tuple.release();
}

PyObject* new_failures(std::vector<Violation>&& violations) {
    std::vector<Violation> owned(std::move(violations));
    PyTypeObject* const* type = g_failures_type.get_or_init(create_failures_type);
    if (!type) return nullptr;
    PyObject* self = (*type)->tp_alloc(*type, 0);
    if (!self) return nullptr;
    new (&reinterpret_cast<FailuresObject*>(self)->violations) std::vector<Violation>(std::move(owned));
    return self;
}

const std::vector<Violation>* failures_violations(PyObject* obj) {
    PyTypeObject* const* type = g_failures_type.peek();
    if (!type || Py_TYPE(obj) != *type) return nullptr;
    return &reinterpret_cast<FailuresObject*>(obj)->violations;
}

}  // namespace tessaron::python
