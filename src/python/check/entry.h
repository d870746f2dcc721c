// The membership entries of a `Validator`: `validate`, `is_valid`, `ensure`,
// `value in validator`, and the verdict-only test the decision procedures
// use, `walk_is_member`.
#pragma once

#include "python/binding/capi.h"

#include <cstdint>
#include <span>

#include "core/ir/node.h"
#include "core/util/poll.h"
#include "python/binding/ref.h"

namespace tessaron::python {

struct ValidatorObject;
namespace check {
struct Precompute;
class WalkMemo;
}

// The three answers of `walk_is_member`.  `Aborted` is no verdict: a fatal
// Python exception was raised (and discarded), or the walk met an
// unresolved placeholder, a cyclic value or one of its limits; a decision
// must read it as "declined", never as "not a member".
enum class Membership : std::uint8_t { Member = 0, NonMember = 1, Aborted = 2 };

// Whether `value` is a member of `node` over the given pool and
// definitions, walked verdict-only with empty lookup tables.  Never raises
// and leaves no exception set.
Membership walk_is_member(std::span<const py::Ref> pool, std::span<const ir::Node> definitions,
                          const ir::Node& node, PyObject* value);
// The same with the caller's lookup tables (a decision's compiled
// patterns), which must outlive the call.
Membership walk_is_member(std::span<const py::Ref> pool, std::span<const ir::Node> definitions,
                          const ir::Node& node, PyObject* value, const check::Precompute& tables);
// The same with a poll of the caller's (a decision's work allowance): a
// poll that stops the walk makes it Aborted.
Membership walk_is_member(std::span<const py::Ref> pool, std::span<const ir::Node> definitions,
                          const ir::Node& node, PyObject* value, const check::Precompute& tables, util::Poll poll);

// The shared core of `ensure` (and of the JSON entries): true when `value`
// is a member of the validator; false with the exception to raise set (the
// fatal exception the walk stored, or the `ValidationError`).
bool validate_and_raise(ValidatorObject* validator, PyObject* value, bool fail_fast);

// The method-table entries (fast call) and the contains slot.
PyObject* validate_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* is_valid_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* ensure_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
int validator_contains(PyObject* self, PyObject* value);

// Adds the `walk` levels a finished walk entered to the calling thread's
// total, which `_walk_steps()` answers: a work counter for tests that bound
// how much a validation does without timing it.
void count_walk_steps(std::uint64_t steps);
PyObject* walk_steps_function(PyObject* module, PyObject* unused);
extern const char kWalkStepsDoc[];

// Adds what a finished walk's memo made (entries stored, containers whose
// places were noted) to the calling thread's totals, which
// `_walk_memo_counts()` answers as a pair: a work counter for tests.
void count_walk_memo(const check::WalkMemo& memo);
PyObject* walk_memo_counts_function(PyObject* module, PyObject* unused);
extern const char kWalkMemoCountsDoc[];

extern const char kValidateDoc[];
extern const char kIsValidDoc[];
extern const char kEnsureDoc[];

}  // namespace tessaron::python
