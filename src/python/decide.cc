// The relation methods of a Validator.
//
// What it computes: from a Python call to an answer.  `is_subtype_of`,
// `relation_to` and `is_equivalent` compile `other` into copies of the
// receiver's pool and definitions (so `other`'s constants equal to the
// receiver's get the receiver's pool indices, and the receiver's back edges
// keep their meaning), then ask `decide_relation` (core/decide/route.h:
// the structural step, then the descriptor route) under one step budget and
// one `PoolOracle`.  `is_empty` compiles nothing and asks
// `decide_emptiness`.
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
// them, and the oracle's membership walks spend them too), a nesting limit
// per thread, and the copies: linear in the receiver's pool and
// definitions, with the pool index rebuilt once.  Each pattern is compiled
// at most once per call: into an automaton by the descriptor route (one
// descr::TextMemoScope per call, around both directions of an
// equivalence, with the descr::DecisionMemoScope of its shared
// descriptors), into a matcher by the oracle, which takes the receiver's
// own when its validator has compiled it already (the tables are read,
// never built here) or a decision on the same validators did (each
// validator keeps the matchers decisions compiled for its own patterns,
// pattern_cache.h).
#include "python/decide.h"

#include <string_view>
#include <vector>

#include "core/decide/disjoint.h"
#include "core/decide/inhabit.h"
#include "core/decide/route.h"
#include "core/decide/union_facts.h"
#include "core/descr/decision_memo.h"
#include "core/descr/shapes/shape_emptiness.h"
#include "core/descr/values/text_memo.h"
#include "core/descr/values/text_product.h"
#include "core/pattern/pattern.h"
#include "python/binding/args.h"
#include "python/binding/entry.h"
#include "python/build/builder.h"
#include "python/oracle.h"
#include "python/pool.h"
#include "python/validator.h"

namespace tessaron::python {

using ir::Decision;
using ir::Emptiness;

// What the inclusion methods promise beyond their own answers.
#define TS_DECISION_SCOPE                                                               \
    "Decisions are about the sets as written, while validation stops at fixed\n"       \
    "limits (512 levels of value nesting, 128 nested entries into recursive\n"        \
    "definitions): a value nested deeper can be refused by a validator that a\n"      \
    "decision proved to contain it.  Enumeration instances made behind the class's\n" \
    "back (object.__new__(E)) are outside the promise.\n\n"

const char kIsEmptyDoc[] =
    "is_empty($self)\n--\n\n"
    "Answer whether the schema admits no value at all.\n\n"
    "True only on a proof that no value can be a member; a schema whose emptiness\n"
    "cannot be decided within the work budget gives False.\n\n"
    TS_DECISION_SCOPE
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
    TS_DECISION_SCOPE
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
    TS_DECISION_SCOPE
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
    TS_DECISION_SCOPE
    "Args:\n"
    "    other: a schema spec or a Validator (positional-only).\n\n"
    "Returns:\n"
    "    True when equivalence is proved, else False.\n\n"
    "Raises:\n"
    "    NotImplementedError, ValueError, TypeError: other is not a schema spec\n"
    "        (the same refusals as Validator(other)).";

#undef TS_DECISION_SCOPE

// --- the method bodies -------------------------------------------------------

namespace {

// `other` compiled into copies of the receiver's pool and definitions.
struct WorkingSchemas {
    Pool pool;
    std::vector<ir::Node> definitions;
    ir::Node other;
    ValidatorObject* other_validator = nullptr;
};

bool compile_other(const ValidatorObject* receiver, PyObject* other, WorkingSchemas& out) {
    PoolObjects objects = receiver->schema.pool;
    out.pool = rebuild_pool_index(std::move(objects));
    out.definitions = receiver->schema.definitions;
    CompilationBudget budget;
    return build_node(other, BuildTarget{out.pool, out.definitions}, out.other);
}

// Reads `other` and compiles it; false with the exception set.  `work`
// notes `other` when it is a Validator (held by the call's arguments).
bool open_relation(const char* name, PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   ValidatorObject*& receiver, WorkingSchemas& work) {
    const py::ArgSpec spec{
        .full_name = name, .positional = {"other"}, .required_positional = 1, .positional_only = 1};
    PyObject* other = nullptr;
    if (!py::parse_fastcall(spec, args, nargs, kwnames, &other)) return false;
    receiver = downcast_validator(self);
    if (!receiver) return false;
    if (!compile_other(receiver, other, work)) return false;
    const int validator = is_validator(other);
    if (validator < 0) return false;
    if (validator) work.other_validator = reinterpret_cast<ValidatorObject*>(other);
    return true;
}

// The pattern caches of the validators a relation call decides on.
void add_pattern_caches(PoolOracle& oracle, ValidatorObject* receiver, const WorkingSchemas& work) {
    oracle.add_pattern_cache(&receiver->schema, &receiver->decision_patterns);
    if (work.other_validator && work.other_validator != receiver)
        oracle.add_pattern_cache(&work.other_validator->schema, &work.other_validator->decision_patterns);
}

// "left within right" for a relation method.
Decision relation(PyObject* self, const char* name, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                  bool& failed) {
    ValidatorObject* receiver = nullptr;
    WorkingSchemas work;
    if (!open_relation(name, self, args, nargs, kwnames, receiver, work)) {
        failed = true;
        return Decision::Undecided;
    }
    failed = false;
    PoolOracle oracle(work.pool.objects, work.definitions);
    decide::DecisionBudget budget;
    oracle.set_budget(&budget);
    oracle.set_receiver_tables(receiver->precompute.peek());
    add_pattern_caches(oracle, receiver, work);
    return decide::decide_relation(receiver->schema.root, work.other, oracle, work.definitions, budget);
}

}  // namespace

PyObject* is_subtype_of_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        bool failed = false;
        const Decision d = relation(self, "Validator.is_subtype_of()", args, nargs, kwnames, failed);
        if (failed) return nullptr;
        return Py_NewRef(d == Decision::Subset ? Py_True : Py_False);
    });
}

PyObject* relation_to_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        bool failed = false;
        const Decision d = relation(self, "Validator.relation_to()", args, nargs, kwnames, failed);
        if (failed) return nullptr;
        std::string_view text = "undecided";
        switch (d) {
            case Decision::Subset: text = "subset"; break;
            case Decision::NotSubset: text = "not_subset"; break;
            case Decision::Undecided: break;
        }
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
        oracle.set_budget(&budget);
        oracle.set_receiver_tables(receiver->precompute.peek());
        add_pattern_caches(oracle, receiver, work);
        descr::TextMemoScope text_memo;
        descr::DecisionMemoScope descr_memo;
        const ir::Node& root = receiver->schema.root;
        if (decide::decide_relation(root, work.other, oracle, work.definitions, budget) != Decision::Subset)
            Py_RETURN_FALSE;
        const bool back =
            decide::decide_relation(work.other, root, oracle, work.definitions, budget) == Decision::Subset;
        return Py_NewRef(back ? Py_True : Py_False);
    });
}

const char kRouteCountsDoc[] =
    "_route_counts()\n--\n\n"
    "How the relation decisions of the calling thread ended so far, as a tuple\n"
    "(structural, descriptor, undecided): answered by the structural decision,\n"
    "answered by the descriptor route, undecided.  A work counter for tests, not\n"
    "part of the public interface.";

PyObject* route_counts_function(PyObject*, PyObject*) {
    const decide::RouteCounts c = decide::route_counts();
    return Py_BuildValue("(KKK)", static_cast<unsigned long long>(c.structural),
                         static_cast<unsigned long long>(c.descriptor), static_cast<unsigned long long>(c.undecided));
}

const char kPatternBuildsDoc[] =
    "_pattern_builds()\n--\n\n"
    "The pattern work of the calling thread so far, as a tuple\n"
    "(automata, work, matchers): pattern automata builds started, the work they\n"
    "did (about one unit per machine step), and patterns compiled into matchers\n"
    "(for validation and for the membership walks of decisions).  A work counter\n"
    "for tests, not part of the public interface.";

PyObject* pattern_builds_function(PyObject*, PyObject*) {
    const descr::PatternBuildCounts c = descr::pattern_build_counts();
    return Py_BuildValue("(KKK)", static_cast<unsigned long long>(c.builds), static_cast<unsigned long long>(c.work),
                         static_cast<unsigned long long>(pattern::full_match_compiles()));
}

const char kDecisionWorkDoc[] =
    "_decision_work()\n--\n\n"
    "The decision work of the calling thread so far, as a tuple\n"
    "(disjoint_pairs, member_comparisons, product_work): node pairs visited by\n"
    "disjointness tests, intersection members compared by the complementary-pair\n"
    "test, and the work of text automaton products (table cells and\n"
    "minimisation steps).  A work counter for tests, not part of the public\n"
    "interface.";

PyObject* decision_work_function(PyObject*, PyObject*) {
    return Py_BuildValue("(KKK)", static_cast<unsigned long long>(decide::disjoint_pairs_visited()),
                         static_cast<unsigned long long>(decide::member_comparisons()),
                         static_cast<unsigned long long>(descr::text_product_work()));
}

const char kUnionWorkDoc[] =
    "_union_work()\n--\n\n"
    "The union work of the calling thread's decisions so far, as a tuple\n"
    "(members_compared, literals_walked): members of a union compared with a\n"
    "node looked up in it (hashed into the call's index of the union, or\n"
    "compared structurally), and members or literals the charged walks of\n"
    "unions and literal lists touched.  A work counter for tests, not part of\n"
    "the public interface.";

PyObject* union_work_function(PyObject*, PyObject*) {
    const decide::UnionWork work = decide::union_work();
    return Py_BuildValue("(KK)", static_cast<unsigned long long>(work.members_compared),
                         static_cast<unsigned long long>(work.literals_walked));
}

const char kDescrWorkDoc[] =
    "_descr_work()\n--\n\n"
    "The descriptor work of the calling thread so far, as a tuple\n"
    "(comparisons, values_weighed): comparisons of two distinct shared\n"
    "descriptors that walked them (orders and equalities a decision had not\n"
    "remembered), and values whose emptiness the searches of dict shapes\n"
    "weighed (one budget unit each).  A work counter for tests, not part of the\n"
    "public interface.";

PyObject* descr_work_function(PyObject*, PyObject*) {
    return Py_BuildValue("(KK)", static_cast<unsigned long long>(descr::descr_comparisons()),
                         static_cast<unsigned long long>(descr::shape_values_weighed()));
}

PyObject* is_empty_method(PyObject* self, PyObject*) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        ValidatorObject* receiver = downcast_validator(self);
        if (!receiver) return nullptr;
        const CompiledSchema& schema = receiver->schema;
        PoolOracle oracle(schema.pool, schema.definitions);
        decide::DecisionBudget budget;
        oracle.set_budget(&budget);
        oracle.set_receiver_tables(receiver->precompute.peek());
        oracle.add_pattern_cache(&receiver->schema, &receiver->decision_patterns);
        const Emptiness e = decide::decide_emptiness(schema.root, oracle, schema.definitions, budget);
        return Py_NewRef(e == Emptiness::Empty ? Py_True : Py_False);
    });
}

}  // namespace tessaron::python
