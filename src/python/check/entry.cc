// The bodies of the membership entries.
//
// Every Python-facing entry does the same five things in order: read its
// arguments, make sure the validator's lookup tables exist, create a fresh
// walk state and context, walk the root node against the value, and turn
// the outcome into the result.  The outcome is read in a fixed order: a
// stored fatal exception first (raised whatever the verdict), then the
// verdict, then success or the `ValidationError` built from the collected
// failures.
//
// Budget: the verdict-only entries allocate nothing of their own (empty
// vectors do not allocate) and build no failure record; `is_valid` skips the
// general argument parser for its one positional argument, and `validate`
// for its usual spellings (one positional, or one positional plus a bool
// `fail_fast` keyword).  Every recording entry first asks the root's quick
// verdict, which runs no user code (a scalar type test, or a literal
// comparison that cannot call anything), or for a list or tuple root of
// plain items the scan of plain_scan.h: a member is answered without a walk
// state, and anything else goes through the recording walk as before.
// A scalar root refusing a builtin scalar value (whose text runs no user
// code) gets its one failure made directly, as the walk would record it,
// without a walk state.
#include "python/check/entry.h"

#include <atomic>
#include <new>
#include <vector>

#include "python/binding/args.h"
#include "python/binding/entry.h"
#include "core/util/native_stack.h"
#include "python/binding/intern.h"
#include "python/check/context.h"
#include "python/check/builtins.h"
#include "python/check/plain_scan.h"
#include "python/check/report.h"
#include "python/check/walk.h"
#include "python/exception.h"
#include "python/validator.h"
#include "python/value_text.h"

namespace tessaron::python {

using check::PySource;
using check::WalkContext;
using check::WalkMode;
using check::WalkState;

const char kValidateDoc[] =
    "validate($self, obj, /, *, fail_fast=False)\n--\n\n"
    "Check that obj is a member of the schema's set.\n\n"
    "Validation is a membership test: the value is never copied or coerced.  By\n"
    "default every independent failure is collected into the error; with\n"
    "fail_fast=True the check stops at the first one.\n\n"
    "Args:\n"
    "    obj: the value to check (positional-only).\n"
    "    fail_fast: a bool (keyword-only); True stops at the first failure instead\n"
    "        of aggregating every independent failure.\n\n"
    "Returns:\n"
    "    None when obj is a member.\n\n"
    "Raises:\n"
    "    ValidationError: obj is not a member; its errors list each failure with a\n"
    "        code and a path.\n"
    "    TypeError: fail_fast is not a bool.";

const char kIsValidDoc[] =
    "is_valid($self, obj, /)\n--\n\n"
    "Answer whether obj is a member of the schema's set.\n\n"
    "Check-only: no error is built, and the answer comes as soon as membership is\n"
    "decided.  An ordinary exception raised by a comparison inside the test makes\n"
    "obj a non-member.  `obj in validator` is the same test.\n\n"
    "Args:\n"
    "    obj: the value to check (positional-only).\n\n"
    "Returns:\n"
    "    True when obj is a member, else False.\n\n"
    "Raises:\n"
    "    BaseException: only a fatal exception raised inside the test (one that is\n"
    "        not an Exception, or a MemoryError or RecursionError) propagates.";

const char kEnsureDoc[] =
    "ensure($self, obj, /)\n--\n\n"
    "Validate obj and return it.\n\n"
    "The same check as validate(obj) with every failure collected; on success the\n"
    "very object given is returned, never a copy.\n\n"
    "Args:\n"
    "    obj: the value to check (positional-only).\n\n"
    "Returns:\n"
    "    obj itself.\n\n"
    "Raises:\n"
    "    ValidationError: obj is not a member.";

const char kWalkStepsDoc[] =
    "_walk_steps()\n--\n\n"
    "The number of walk levels validations have entered on the calling thread so\n"
    "far: a work counter for tests, not part of the public interface.";

const char kWalkMemoCountsDoc[] =
    "_walk_memo_counts()\n--\n\n"
    "A pair: the memo entries validations have made on the calling thread so far,\n"
    "and the containers whose places in the value they noted: work counters for\n"
    "tests, not part of the public interface.";

namespace {
thread_local std::uint64_t t_walk_steps = 0;
thread_local std::uint64_t t_memo_entries = 0;
thread_local std::uint64_t t_memo_arrivals = 0;
}  // namespace

void count_walk_steps(std::uint64_t steps) { t_walk_steps += steps; }

PyObject* walk_steps_function(PyObject*, PyObject*) { return PyLong_FromUnsignedLongLong(t_walk_steps); }

void count_walk_memo(const check::WalkMemo& memo) {
    t_memo_entries += memo.stored();
    t_memo_arrivals += memo.arrivals.size();
}

PyObject* walk_memo_counts_function(PyObject*, PyObject*) {
    return Py_BuildValue("(KK)", static_cast<unsigned long long>(t_memo_entries),
                         static_cast<unsigned long long>(t_memo_arrivals));
}

namespace {

// Walks the validator's root against `value` in `mode`.  1 member, 0 not a
// member (failures appended in the recording modes), -1 with an exception
// set: the fatal exception the walk stored, or a failure to build the
// lookup tables.
int run_walk(ValidatorObject* v, PyObject* value, WalkMode mode, std::vector<Violation>& violations) {
    const check::Precompute* tables = validator_tables(v);
    if (!tables) return -1;
    WalkState state(std::span<const py::Ref>(v->schema.pool), std::span<const ir::Node>(v->schema.definitions),
                    *tables);
    check::PathStack path;
    WalkContext ctx{&state, &path, &violations, mode};
    const bool member = check::walk(v->schema.root, PySource{value}, ctx);
    count_walk_steps(state.steps);
    count_walk_memo(state.memo);
    if (state.error_cell) {
        state.error_cell.restore();
        return -1;
    }
    return member ? 1 : 0;
}

// The verdict-only walk of `value`: 1, 0, or -1 with an exception set.
// Roots of a scalar or literal kind are answered without a walk state.
int verdict_only(ValidatorObject* v, PyObject* value) {
    const check::Precompute* tables = validator_tables(v);
    if (!tables) return -1;
    int quick = check::quick_verdict(v->schema.root, v->schema.pool, value);
    if (quick >= 0) return quick;
    quick = check::plain_root_verdict(tables->root, value, true);
    if (quick >= 0) return quick;
    std::vector<Violation> none;
    return run_walk(v, value, WalkMode::VerdictOnly, none);
}

// `downcast_validator`, with the class object remembered after its first
// success so the common case is one pointer comparison.
ValidatorObject* receiver(PyObject* self) {
    static std::atomic<PyTypeObject*> known{nullptr};
    if (Py_TYPE(self) == known.load(std::memory_order_relaxed)) return reinterpret_cast<ValidatorObject*>(self);
    ValidatorObject* v = downcast_validator(self);
    if (v && Py_TYPE(self) == validator_type()) known.store(Py_TYPE(self), std::memory_order_relaxed);
    return v;
}

// The strict bool conversion of `fail_fast`.
bool read_fail_fast(PyObject* arg, bool& out) {
    if (!arg) {
        out = false;
        return true;
    }
    if (!PyBool_Check(arg)) {
        PyErr_Format(PyExc_TypeError, "argument 'fail_fast': '%s' object is not an instance of 'bool'",
                     Py_TYPE(arg)->tp_name);
        return false;
    }
    out = arg == Py_True;
    return true;
}

}  // namespace

namespace {

// The failure of a scalar root (None to bytes, or nothing) refusing a value
// shown without user code, made as the walk makes it: one violation at the
// top, the root kind's code and wording, the value's text.  False when the
// walk must make it instead: the native stack is short (the walk fails
// with its limit there), or the value's text could not be made.
bool scalar_root_failure(const ir::Node& root, PyObject* value, std::vector<Violation>& violations) {
    const ir::NodeKind kind = root.kind;
    if (kind == ir::NodeKind::Anything || !check::is_scalar_kind(kind) || !check::shows_without_user_code(value))
        return false;
    const std::uintptr_t frame = util::current_frame();
    // (With a page to spare: the walk asks from a deeper frame.)
    if (frame < util::native_stack_floor(frame) + 4096) return false;
    Violation v;
    if (!value_repr(value, v.value)) {
        PyErr_Clear();  // the walk meets it again and keeps it if fatal
        return false;
    }
    v.expected = ir::expected_kind_text(root);
    v.code = check::kind_error_code(root);
    violations.push_back(std::move(v));
    return true;
}

}  // namespace

bool validate_and_raise(ValidatorObject* validator, PyObject* value, bool fail_fast) {
    // Quick verdict first (file comment): it calls no user code, so a
    // non-member walked again below sees nothing different.
    const check::Precompute* tables = validator_tables(validator);
    if (!tables) return false;
    const int quick = check::quick_verdict(validator->schema.root, validator->schema.pool, value);
    if (quick == 1) return true;
    if (quick == 0) {
        std::vector<Violation> one;
        if (scalar_root_failure(validator->schema.root, value, one)) {
            set_validation_error(std::move(one));
            return false;
        }
    }
    if (check::plain_root_verdict(tables->root, value, false) == 1) return true;
    std::vector<Violation> violations;
    const int r = run_walk(validator, value, fail_fast ? WalkMode::FailFast : WalkMode::CollectAll, violations);
    if (r > 0) return true;
    if (r == 0) set_validation_error(std::move(violations));
    return false;
}

PyObject* validate_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        static const py::ArgSpec spec{.full_name = "Validator.validate()",
                                      .positional = {"obj"},
                                      .required_positional = 1,
                                      .positional_only = 1,
                                      .keyword_only = {"fail_fast"}};
        PyObject* argv[2] = {nullptr, nullptr};
        if (nargs == 1 && !kwnames) {
            // validate(obj)
            argv[0] = args[0];
        } else if (nargs == 1 && kwnames && PyTuple_GET_SIZE(kwnames) == 1 &&
                   PyTuple_GET_ITEM(kwnames, 0) == TS_INTERNED("fail_fast")) {
            // validate(obj, fail_fast=...): a call site's keyword names are
            // interned, so the one legal name is found by identity; any
            // other spelling takes the general parser (and its errors).
            argv[0] = args[0];
            argv[1] = args[1];
        } else if (!py::parse_fastcall(spec, args, nargs, kwnames, argv)) {
            return nullptr;
        }
        ValidatorObject* v = receiver(self);
        if (!v) return nullptr;
        bool fail_fast = false;
        if (!read_fail_fast(argv[1], fail_fast)) return nullptr;
        if (!validate_and_raise(v, argv[0], fail_fast)) return nullptr;
        Py_RETURN_NONE;
    });
}

PyObject* is_valid_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        PyObject* obj = nullptr;
        if (nargs == 1 && !kwnames) {
            obj = args[0];
        } else {
            static const py::ArgSpec spec{.full_name = "Validator.is_valid()",
                                          .positional = {"obj"},
                                          .required_positional = 1,
                                          .positional_only = 1};
            if (!py::parse_fastcall(spec, args, nargs, kwnames, &obj)) return nullptr;
        }
        ValidatorObject* v = receiver(self);
        if (!v) return nullptr;
        const int r = verdict_only(v, obj);
        if (r < 0) return nullptr;
        return Py_NewRef(r ? Py_True : Py_False);
    });
}

PyObject* ensure_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        static const py::ArgSpec spec{.full_name = "Validator.ensure()",
                                      .positional = {"obj"},
                                      .required_positional = 1,
                                      .positional_only = 1};
        PyObject* obj = nullptr;
        if (!py::parse_fastcall(spec, args, nargs, kwnames, &obj)) return nullptr;
        ValidatorObject* v = receiver(self);
        if (!v) return nullptr;
        if (!validate_and_raise(v, obj, false)) return nullptr;
        return Py_NewRef(obj);
    });
}

int validator_contains(PyObject* self, PyObject* value) {
    return py::guarded<int>(-1, [&]() -> int {
        ValidatorObject* v = receiver(self);
        if (!v) return -1;
        return verdict_only(v, value);
    });
}

Membership walk_is_member(std::span<const py::Ref> pool, std::span<const ir::Node> definitions,
                          const ir::Node& node, PyObject* value) {
    return walk_is_member(pool, definitions, node, value, check::empty_precompute());
}

Membership walk_is_member(std::span<const py::Ref> pool, std::span<const ir::Node> definitions,
                          const ir::Node& node, PyObject* value, const check::Precompute& tables) {
    return walk_is_member(pool, definitions, node, value, tables, util::Poll());
}

Membership walk_is_member(std::span<const py::Ref> pool, std::span<const ir::Node> definitions,
                          const ir::Node& node, PyObject* value, const check::Precompute& tables, util::Poll poll) {
    try {
        WalkState state(pool, definitions, tables);
        state.poll = poll;  // see WalkState::poll
        check::PathStack path;
        std::vector<Violation> none;
        WalkContext ctx{&state, &path, &none, WalkMode::VerdictOnly};
        const bool member = check::walk(node, PySource{value}, ctx);
        count_walk_steps(state.steps);
        count_walk_memo(state.memo);
        // The stored exception, fatal or not, is dropped with the state.
        if (state.stop || state.declined) return Membership::Aborted;
        return member ? Membership::Member : Membership::NonMember;
    } catch (const std::bad_alloc&) {
        return Membership::Aborted;
    }
}

}  // namespace tessaron::python
