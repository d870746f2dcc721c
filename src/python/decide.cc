// The relation methods of a Validator.
//
// What it computes: from a Python call to an answer.  `is_subtype_of`,
// `relation_to` and `is_equivalent` compile `other` into copies of the
// receiver's pool and definitions (so `other`'s constants equal to the
// receiver's get the receiver's pool indices, and the receiver's back edges
// keep their meaning), then ask `decide_subset` under one step budget and
// one `PoolOracle`; only an undecided answer goes on to the descriptor
// route, and the combining rule turns the two answers into one.
// `is_empty` compiles nothing: structural inhabitation first, then the
// descriptor route.
//
// Invariants: the receiver is only read; everything a call creates (the
// copies, `other`'s tree, the oracle with its class ids, the stacks) is
// released before it returns, on every path.  The only exceptions that
// leave a method are argument errors, a receiver that is not a Validator
// and the builder's refusal of `other`: Python errors raised by code a
// decision runs are dropped by the oracle.  `other` is not finalised, so a
// spec larger than a Validator may hold is still decided.
//
// Budget: 1000000 steps per call (both directions of an equivalence share
// them), a nesting limit per thread, and the copies: linear in the
// receiver's pool and definitions, with the pool index rebuilt once.
#include "python/decide.h"

#include <string_view>
#include <vector>

#include "core/decide/include.h"
#include "core/decide/inhabit.h"
#include "core/ir/resolve.h"
#include "python/binding/args.h"
#include "python/binding/entry.h"
#include "python/build/builder.h"
#include "python/oracle.h"
#include "python/pool.h"
#include "python/validator.h"

namespace tessaron::python {

using decide::Decision;
using decide::kNotSubset;
using decide::kSubset;
using decide::kUndecided;

const char kIsEmptyDoc[] =
    "is_empty($self)\n--\n\n"
    "Answer whether the schema admits no value at all.\n\n"
    "True only on a proof that no value can be a member; a schema whose emptiness\n"
    "cannot be decided within the work budget gives False.\n\n"
    "Returns:\n"
    "    True when the schema's set is provably empty, else False.";

const char kIsSubtypeOfDoc[] =
    "is_subtype_of($self, other, /)\n--\n\n"
    "Answer whether every member of this schema is a member of other.\n\n"
    "Set inclusion, True only on a proof: bool is a subtype of int, and every\n"
    "schema is a subtype of itself.  Forms that cannot be decided, and decisions\n"
    "that spend the work budget, give False; relation_to tells a refutation\n"
    "apart from an undecided question.  A decision may call back into Python:\n"
    "the rich comparisons of refinement bounds and divisors, and a predicate run\n"
    "when a literal is tested against a refinement.  Decisions assume the\n"
    "builtin kinds' own comparisons and arithmetic; subclasses of int or str\n"
    "that override them are outside that promise.\n\n"
    "Args:\n"
    "    other: a schema spec or a Validator (positional-only).\n\n"
    "Returns:\n"
    "    True when inclusion is proved, else False.\n\n"
    "Raises:\n"
    "    NotImplementedError, ValueError, TypeError: other is not a schema spec\n"
    "        (the same refusals as Validator(other)).";

const char kRelationToDoc[] =
    "relation_to($self, other, /)\n--\n\n"
    "The inclusion of this schema in other, in three answers.\n\n"
    "\"subset\": every member of this schema is a member of other (proved).\n"
    "\"not_subset\": some member is not (refuted; where a class is the subject,\n"
    "on the assumption that the class has an instance).  \"undecided\": neither\n"
    "could be shown, because the forms cannot be decided or the work budget ran\n"
    "out.  A decision may call back into Python: the rich comparisons of\n"
    "refinement bounds and divisors, and a predicate run when a literal is\n"
    "tested against a refinement.  Decisions assume the builtin kinds' own\n"
    "comparisons and arithmetic; subclasses of int or str that override them\n"
    "are outside that promise.\n\n"
    "Args:\n"
    "    other: a schema spec or a Validator (positional-only).\n\n"
    "Returns:\n"
    "    One of the strings \"subset\", \"not_subset\", \"undecided\".\n\n"
    "Raises:\n"
    "    NotImplementedError, ValueError, TypeError: other is not a schema spec\n"
    "        (the same refusals as Validator(other)).";

const char kIsEquivalentDoc[] =
    "is_equivalent($self, other, /)\n--\n\n"
    "Answer whether this schema and other admit exactly the same values.\n\n"
    "Mutual inclusion, True only on a proof: bool | int is equivalent to int.\n"
    "Forms that cannot be decided, and decisions that spend the work budget,\n"
    "give False.  A decision may call back into Python: the rich comparisons of\n"
    "refinement bounds and divisors, and a predicate run when a literal is\n"
    "tested against a refinement.  Decisions assume the builtin kinds' own\n"
    "comparisons and arithmetic; subclasses of int or str that override them\n"
    "are outside that promise.\n\n"
    "Args:\n"
    "    other: a schema spec or a Validator (positional-only).\n\n"
    "Returns:\n"
    "    True when equivalence is proved, else False.\n\n"
    "Raises:\n"
    "    NotImplementedError, ValueError, TypeError: other is not a schema spec\n"
    "        (the same refusals as Validator(other)).";

// --- the descriptor route and the combining rule ---------------------------

namespace {

// What the descriptor route established about "left within right".
enum class RouteOutcome : std::uint8_t {
    NoLeft,         // the left side could not be converted
    LeftEmpty,      // the left descriptor is empty: the inclusion holds
    NoRight,        // the right side could not be converted
    NoMeet,         // the meet with the complement ran out of budget
    MeetEmpty,      // left minus right is empty
    MeetInhabited,  // left minus right has a value (in the unfolded trees)
    MeetUndecided,  // the emptiness test could not tell
};

// The descriptor route: converts both sides into descriptors, meets the
// left one with the complement of the right one and tests the meet for
// emptiness.  The descriptor algebra is not part of this build yet, so the
// route reports that the left side could not be converted; that makes every
// question the structural decisions leave open answer "undecided", which is
// always a sound answer.
RouteOutcome run_descriptor_route(const ir::Node&, const ir::Node&, decide::Oracle&, std::span<const ir::Node>) {
    return RouteOutcome::NoLeft;
}

// The combined answer when the structural step was undecided.  An empty
// meet proves the inclusion whatever the unfolding cut; an inhabited meet
// refutes it only when no recursion was cut (with definitions present and a
// back edge or placeholder in either root, the meet may hold a value only
// because a cut reference stood for every value).
Decision combine_route(RouteOutcome route, bool recursion) {
    switch (route) {
        case RouteOutcome::LeftEmpty:
        case RouteOutcome::MeetEmpty:
            return kSubset;
        case RouteOutcome::MeetInhabited:
            return recursion ? kUndecided : kNotSubset;
        default:
            return kUndecided;
    }
}

}  // namespace

Decision decide_subset_by_descr(const ir::Node& left, const ir::Node& right, decide::Oracle& oracle,
                                std::span<const ir::Node> definitions) {
    const bool recursion = !definitions.empty() && (ir::has_back_edges(left) || ir::has_back_edges(right));
    return combine_route(run_descriptor_route(left, right, oracle, definitions), recursion);
}

// --- the method bodies -------------------------------------------------------

namespace {

// `other` compiled into copies of the receiver's pool and definitions.
struct WorkingSchemas {
    Pool pool;
    std::vector<ir::Node> definitions;
    ir::Node other;
};

bool compile_other(const ValidatorObject* receiver, PyObject* other, WorkingSchemas& out) {
    PoolObjects objects = receiver->schema.pool;
    out.pool = rebuild_pool_index(std::move(objects));
    out.definitions = receiver->schema.definitions;
    CompilationBudget budget;
    return build_node(other, BuildTarget{out.pool, out.definitions}, out.other);
}

// The structural step, then the descriptor route when it is undecided.
Decision decide_pair(const ir::Node& left, const ir::Node& right, PoolOracle& oracle,
                     std::span<const ir::Node> definitions, decide::DecisionBudget& budget) {
    decide::DecisionContext ctx{oracle, definitions, budget};
    decide::AssumptionStack stack;
    const Decision structural = decide::decide_subset(left, right, ctx, stack);
    if (structural != kUndecided) return structural;
    return decide_subset_by_descr(left, right, oracle, definitions);
}

// Reads `other` and compiles it; false with the exception set.
bool open_relation(const char* name, PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   ValidatorObject*& receiver, WorkingSchemas& work) {
    const py::ArgSpec spec{name, {"other"}, 1, 1, {}, 0, false};
    PyObject* other = nullptr;
    if (!py::parse_fastcall(spec, args, nargs, kwnames, &other)) return false;
    receiver = downcast_validator(self);
    if (!receiver) return false;
    return compile_other(receiver, other, work);
}

// "left within right" for a relation method.
Decision relation(PyObject* self, const char* name, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                  bool& failed) {
    ValidatorObject* receiver = nullptr;
    WorkingSchemas work;
    if (!open_relation(name, self, args, nargs, kwnames, receiver, work)) {
        failed = true;
        return kUndecided;
    }
    failed = false;
    PoolOracle oracle(work.pool.objects, work.definitions);
    decide::DecisionBudget budget;
    return decide_pair(receiver->schema.root, work.other, oracle, work.definitions, budget);
}

}  // namespace

PyObject* is_subtype_of_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        bool failed = false;
        const Decision d = relation(self, "Validator.is_subtype_of()", args, nargs, kwnames, failed);
        if (failed) return nullptr;
        return Py_NewRef(d == kSubset ? Py_True : Py_False);
    });
}

PyObject* relation_to_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        static constexpr std::string_view kAnswers[3] = {"subset", "not_subset", "undecided"};
        bool failed = false;
        const Decision d = relation(self, "Validator.relation_to()", args, nargs, kwnames, failed);
        if (failed) return nullptr;
        const std::string_view text = kAnswers[d <= kUndecided ? d : kUndecided];
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    });
}

PyObject* is_equivalent_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        ValidatorObject* receiver = nullptr;
        WorkingSchemas work;
        if (!open_relation("Validator.is_equivalent()", self, args, nargs, kwnames, receiver, work)) return nullptr;
        // One oracle (its class ids serve both directions) and one budget:
        // the second direction gets what the first one left.
        PoolOracle oracle(work.pool.objects, work.definitions);
        decide::DecisionBudget budget;
        const ir::Node& root = receiver->schema.root;
        if (decide_pair(root, work.other, oracle, work.definitions, budget) != kSubset) Py_RETURN_FALSE;
        const bool back = decide_pair(work.other, root, oracle, work.definitions, budget) == kSubset;
        return Py_NewRef(back ? Py_True : Py_False);
    });
}

PyObject* is_empty_method(PyObject* self, PyObject*) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        ValidatorObject* receiver = downcast_validator(self);
        if (!receiver) return nullptr;
        const CompiledSchema& schema = receiver->schema;
        PoolOracle oracle(schema.pool, schema.definitions);
        decide::DecisionBudget budget;
        decide::DecisionContext ctx{oracle, schema.definitions, budget};
        Decision d = decide::decide_inhabited_fresh(schema.root, ctx);
        // Emptiness is inclusion in `nothing`: the descriptor route's
        // receiver-empty test answers it.
        if (d == kUndecided) d = decide_subset_by_descr(schema.root, ir::Node::nothing(), oracle, schema.definitions);
        return Py_NewRef(d == decide::kEmpty ? Py_True : Py_False);
    });
}

}  // namespace tessaron::python
