// The bodies of the JSON entries.
//
// `validate_json` and `load` read their arguments, parse the document into
// Python objects (a malformed one raises "json_invalid" before any check),
// and validate the parsed object exactly as `validate` would; `load` then
// hands the object back.  `is_valid_json` checks the document while it
// parses it (json_stream.h) where no check of the schema runs code we do
// not control; otherwise it parses into the compact value tree and walks
// it verdict-only.  Either way Python objects are made only for the values
// a check must hand to Python; any input problem answers False.
//
// Invariants: argument errors come first (the `fail_fast` conversion
// before the document is looked at); a fatal exception stored by the walk
// is raised whatever the verdict; the parsed tree and the text it refers to
// live until the walk is over.  Budget: one parse and one walk; a root of a
// scalar kind is answered by one type test of the root value, without a
// walk state.
#include "python/check/json_entry.h"

#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "core/json/tree.h"
#include "python/binding/args.h"
#include "python/binding/entry.h"
#include "python/binding/signals.h"
#include "python/check/context.h"
#include "python/check/entry.h"
#include "python/check/json_stream.h"
#include "python/check/walk.h"
#include "python/json/input.h"
#include "python/json/to_python.h"
#include "python/validator.h"

namespace tessaron::python {

const char kValidateJsonDoc[] =
    "validate_json($self, data, /, *, fail_fast=False)\n--\n\n"
    "Check that a JSON document holds a member of the schema's set.\n\n"
    "The document is parsed into Python objects (objects become dicts, arrays\n"
    "lists, numbers with a fraction or exponent floats, other numbers ints) and\n"
    "the result is checked as validate() would check it, with the same errors.\n"
    "A key repeated in an object keeps its first position and its last value.\n\n"
    "Args:\n"
    "    data: the document, a str or bytes (positional-only).\n"
    "    fail_fast: a bool (keyword-only); True stops at the first failure instead\n"
    "        of aggregating every independent failure.\n\n"
    "Returns:\n"
    "    None when the document holds a member.\n\n"
    "Raises:\n"
    "    ValidationError: the document is not JSON (code \"json_invalid\", the\n"
    "        value says why and where), or its value is not a member.\n"
    "    TypeError: data is neither str nor bytes, or fail_fast is not a bool.";

const char kLoadDoc[] =
    "load($self, data, /, *, fail_fast=False)\n--\n\n"
    "Parse a JSON document, check it, and return the parsed value.\n\n"
    "The same as validate_json(data), but the parsed object is returned once it\n"
    "is confirmed a member, so a caller that needs the data parses it only once.\n\n"
    "Args:\n"
    "    data: the document, a str or bytes (positional-only).\n"
    "    fail_fast: a bool (keyword-only); True stops at the first failure instead\n"
    "        of aggregating every independent failure.\n\n"
    "Returns:\n"
    "    The parsed object (dict, list, str, int, float, bool or None).\n\n"
    "Raises:\n"
    "    ValidationError: the document is not JSON (code \"json_invalid\"), or its\n"
    "        value is not a member.\n"
    "    TypeError: data is neither str nor bytes, or fail_fast is not a bool.";

const char kIsValidJsonDoc[] =
    "is_valid_json($self, data, /)\n--\n\n"
    "Answer whether a JSON document holds a member of the schema's set.\n\n"
    "Check-only: no Python objects are made for the document's structure.\n"
    "Where no check of the schema runs code of the user's, the document is\n"
    "checked while it is parsed and the answer is False as soon as a failure\n"
    "settles it, the rest unread; otherwise it is parsed into a compact tree\n"
    "that is checked in place.  Input that is\n"
    "neither str nor bytes, a str that cannot be encoded as UTF-8, and a\n"
    "malformed document all answer False.\n\n"
    "Args:\n"
    "    data: the document, a str or bytes (positional-only).\n\n"
    "Returns:\n"
    "    True when the document holds a member, else False.\n\n"
    "Raises:\n"
    "    BaseException: only a fatal exception raised inside the test (one that is\n"
    "        not an Exception, or a MemoryError or RecursionError) propagates.";

namespace {

// Parsed documents kept for reuse.  A document parsed again keeps its
// buffers, so a program that checks many documents pays for growing that
// memory once instead of on every call (fresh memory costs as much as the
// parse itself).  A walk may call user code that calls `is_valid_json`
// again, so a call takes a document of its own from the pool and gives it
// back when done.  Only touched with the interpreter lock held.
class DocumentPool {
public:
    std::unique_ptr<json::Document> take() {
        if (free_.empty()) return std::make_unique<json::Document>();
        std::unique_ptr<json::Document> doc = std::move(free_.back());
        free_.pop_back();
        return doc;
    }
    void give(std::unique_ptr<json::Document> doc) noexcept {
        if (free_.size() >= kKept) return;
        if (doc->retained_bytes() > kMaxRetainedBytes) doc->release_memory();
        try {
            free_.push_back(std::move(doc));
        } catch (...) {
        }
    }

private:
    static constexpr std::size_t kKept = 2;
    static constexpr std::size_t kMaxRetainedBytes = std::size_t{32} << 20;
    std::vector<std::unique_ptr<json::Document>> free_;
};

DocumentPool& document_pool() {
    static DocumentPool* const pool = new DocumentPool();  // lives as long as the process
    return *pool;
}

struct DocumentLease {
    std::unique_ptr<json::Document> doc = document_pool().take();
    DocumentLease() = default;
    DocumentLease(const DocumentLease&) = delete;
    DocumentLease& operator=(const DocumentLease&) = delete;
    ~DocumentLease() { document_pool().give(std::move(doc)); }
};

// The strict bool conversion of `fail_fast`.
bool read_fail_fast(PyObject* arg, bool& out) {
    out = false;
    if (!arg) return true;
    if (!PyBool_Check(arg)) {
        PyErr_Format(PyExc_TypeError, "argument 'fail_fast': '%s' object is not an instance of 'bool'",
                     Py_TYPE(arg)->tp_name);
        return false;
    }
    out = arg == Py_True;
    return true;
}

// Reads (data, fail_fast), checks the receiver, parses the document and
// validates it.  The parsed object, or null with the exception set.
py::Ref parse_and_validate(const py::ArgSpec& spec, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
    PyObject* argv[2];
    if (!py::parse_fastcall(spec, args, nargs, kwnames, argv)) return {};
    ValidatorObject* v = downcast_validator(self);
    if (!v) return {};
    bool fail_fast = false;
    if (!read_fail_fast(argv[1], fail_fast)) return {};
    const check::Precompute* tables = validator_tables(v);
    if (!tables) return {};
    std::string_view text;
    if (tables->json_in_one_pass && json_document_text(argv[0], text) && text.size() <= json::Document::kMaxCount) {
        // Built and checked in one pass: a member needs no walk; a
        // non-member is walked again for its report.
        DocumentLease lease;
        check::WalkState state(std::span<const py::Ref>(v->schema.pool),
                               std::span<const ir::Node>(v->schema.definitions), *tables);
        json::ParseFailure failure;
        bool member = false;
        py::Ref obj = py::Ref::steal(check::load_in_one_pass(v->schema.root, text, *lease.doc, state, failure, member));
        count_walk_steps(state.steps);
        if (!obj) {
            if (failure.kind == json::ParseFailure::Kind::Malformed && !PyErr_Occurred())
                raise_json_invalid(json::failure_text(text, failure));
            return {};
        }
        if (member || validate_and_raise(v, obj.get(), fail_fast)) return obj;
        return {};
    }
    if (PyErr_Occurred()) return {};  // the document's text was refused
    py::Ref obj = py::Ref::steal(parse_json_input(argv[0]));
    if (!obj) return {};
    if (!validate_and_raise(v, obj.get(), fail_fast)) return {};
    return obj;
}

// The verdict of a scalar-kind root, read off the document's root value
// without a walk state (the type tests of `JsonSource`, as `walk` would
// ask them): 1 member, 0 not, -1 no quick answer (walk it).
int quick_json_verdict(const ir::Node& root, const check::JsonSource& src) {
    switch (root.kind) {
        case ir::NodeKind::Anything: return 1;
        case ir::NodeKind::Nothing: return 0;
        case ir::NodeKind::None: return src.is_none();
        case ir::NodeKind::Bool: return src.is_exact_bool();
        case ir::NodeKind::Int: return src.is_int();
        case ir::NodeKind::Float: return src.is_float();
        case ir::NodeKind::Str: return src.is_str();
        case ir::NodeKind::Bytes: return src.is_bytes();
        default: return -1;
    }
}

// Documents at least this long are parsed without the interpreter lock, so
// threads checking different documents run in parallel.  Giving the lock up
// costs little by itself (well under a microsecond); taking it back may
// mean waiting for the thread that got it meanwhile, up to the
// interpreter's switch interval (5 ms by default) when that thread runs
// Python code.  So only a parse long enough to be worth that wait gives it
// up: at this size about half a millisecond (bench/json_scale.py measures
// the threads' throughput).  The text is immutable: a bytes object's
// buffer, or the UTF-8 form a str keeps with it, both held alive by the
// caller's reference.
constexpr std::size_t kUnlockedParseBytes = std::size_t{256} << 10;

// 1 member, 0 not (or not JSON), -1 with an exception set.
int json_verdict(ValidatorObject* v, PyObject* data) {
    std::string_view text;
    switch (json_input_text(data, text)) {
        case JsonInput::Text: break;
        case JsonInput::NotUtf8:
        case JsonInput::WrongType: return 0;
        case JsonInput::Error: return -1;
    }
    DocumentLease lease;
    json::Document& doc = *lease.doc;
    const check::Precompute* tables = validator_tables(v);
    if (!tables) return -1;
    if (tables->json_in_one_pass) {
        check::WalkState state(std::span<const py::Ref>(v->schema.pool),
                               std::span<const ir::Node>(v->schema.definitions), *tables);
        const int verdict =
            check::stream_json_verdict(v->schema.root, text, doc, state, text.size() >= kUnlockedParseBytes);
        count_walk_steps(state.steps);
        return verdict;
    }
    json::ParseFailure failure;
    bool parsed;
    {
        // Only the text and the document are touched while unlocked (and
        // the lock is taken back to run signal handlers).
        py::LockRelease lock;
        util::Poll poll = lock.signal_poll();
        if (text.size() >= kUnlockedParseBytes) lock.release();
        parsed = doc.parse(text, failure, &poll);
    }
    if (!parsed) return failure.kind == json::ParseFailure::Kind::Stopped ? -1 : 0;
    // `load` refuses an integer text past the interpreter's digit limit;
    // so does this.
    bool allowed = true;
    if (!int_digits_allowed(doc.max_big_int_digits(), allowed)) return -1;
    if (!allowed) return 0;
    const check::JsonSource root{&doc, &doc.root()};
    const int quick = quick_json_verdict(v->schema.root, root);
    if (quick >= 0) return quick;
    check::WalkState state(std::span<const py::Ref>(v->schema.pool),
                           std::span<const ir::Node>(v->schema.definitions), *tables);
    check::PathStack path;
    std::vector<Violation> none;
    check::WalkContext ctx{&state, &path, &none, check::WalkMode::VerdictOnly};
    const bool member = check::walk(v->schema.root, root, ctx);
    count_walk_steps(state.steps);
    if (state.error_cell) {
        state.error_cell.restore();
        return -1;
    }
    return member ? 1 : 0;
}

}  // namespace

PyObject* validate_json_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        static const py::ArgSpec spec{.full_name = "Validator.validate_json()",
                                      .positional = {"data"},
                                      .required_positional = 1,
                                      .positional_only = 1,
                                      .keyword_only = {"fail_fast"}};
        if (!parse_and_validate(spec, self, args, nargs, kwnames)) return nullptr;
        Py_RETURN_NONE;
    });
}

PyObject* load_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        static const py::ArgSpec spec{.full_name = "Validator.load()",
                                      .positional = {"data"},
                                      .required_positional = 1,
                                      .positional_only = 1,
                                      .keyword_only = {"fail_fast"}};
        return parse_and_validate(spec, self, args, nargs, kwnames).release();
    });
}

PyObject* is_valid_json_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        PyObject* data = nullptr;
        if (nargs == 1 && !kwnames) {
            data = args[0];
        } else {
            static const py::ArgSpec spec{.full_name = "Validator.is_valid_json()",
                                          .positional = {"data"},
                                          .required_positional = 1,
                                          .positional_only = 1};
            if (!py::parse_fastcall(spec, args, nargs, kwnames, &data)) return nullptr;
        }
        ValidatorObject* v = downcast_validator(self);
        if (!v) return nullptr;
        const int r = json_verdict(v, data);
        if (r < 0) return nullptr;
        return Py_NewRef(r ? Py_True : Py_False);
    });
}

}  // namespace tessaron::python
