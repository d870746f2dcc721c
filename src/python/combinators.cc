// Combinators: each compiles its arguments into one pool and one
// definitions list, combines the nodes with a lattice constructor and ends
// in finalisation.
#include "python/combinators.h"

#include "core/ir/construct.h"
#include "core/ir/placeholder_stack.h"
#include "core/ir/resolve.h"
#include "python/binding/args.h"
#include "python/binding/entry.h"
#include "python/binding/ref.h"
#include "python/build/builder.h"
#include "python/finalize.h"
#include "python/validator.h"

namespace tessaron::python {

const char kUnionDoc[] =
    "union(*schemas)\n--\n\n"
    "The union of the given schemas: a value in at least one of their sets.\n\n"
    "Each argument is a schema spec (anything Validator accepts, a Validator\n"
    "included).  With no argument the result admits nothing.  Returns a new\n"
    "Validator.  Raises NotImplementedError for a spec that denotes no set (a set\n"
    "or tuple literal, a typing construct that is not a type) and ValueError for\n"
    "malformed spec content or a result past a size bound.";

const char kIntersectionDoc[] =
    "intersection(*schemas)\n--\n\n"
    "The intersection of the given schemas: a value in every one of their sets.\n\n"
    "Each argument is a schema spec (anything Validator accepts, a Validator\n"
    "included).  With no argument the result admits everything.  Returns a new\n"
    "Validator.  Raises NotImplementedError for a spec that denotes no set (a set\n"
    "or tuple literal, a typing construct that is not a type) and ValueError for\n"
    "malformed spec content or a result past a size bound.";

const char kComplementDoc[] =
    "complement(schema, /)\n--\n\n"
    "The complement of a schema: every value not in its set.\n\n"
    "The argument is a schema spec (anything Validator accepts, a Validator\n"
    "included).  Returns a new Validator.  Raises NotImplementedError for a spec\n"
    "that denotes no set (a set or tuple literal, a typing construct that is not a\n"
    "type) and ValueError for malformed spec content or a result past a size\n"
    "bound.  A value whose own comparison raises an ordinary exception is not a\n"
    "member of the inner schema, and so is a member of the complement; intersect\n"
    "with a positive type (for example intersection(int, complement(...))) to\n"
    "exclude such values.";

const char kRecursiveDoc[] =
    "recursive(builder, /)\n--\n\n"
    "Build a recursive schema as a checked fixpoint.\n\n"
    "builder is called with one argument, a placeholder Validator standing for\n"
    "the schema being defined, and returns the body's schema spec, in which the\n"
    "placeholder may occur under a structural constructor (a list, tuple, set,\n"
    "dict, record or object).  Returns the new Validator.  Raises TypeError when\n"
    "builder is not callable, whatever builder raises, NotImplementedError and\n"
    "ValueError for a body the builder refuses, and ValueError when the body is\n"
    "not contractive or the result is past a size bound.";

namespace {

PyObject* finish(ir::Node root, Pool&& pool, std::vector<ir::Node>&& definitions) {
    CompiledSchema compiled;
    if (!finalize_validator(std::move(root), std::move(pool.objects), std::move(definitions), compiled))
        return nullptr;
    return new_validator_object(std::move(compiled));
}

PyObject* combine(const char* name, bool is_union, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    py::ArgSpec spec{.full_name = name, .var_positional = true};
    if (!py::parse_fastcall(spec, args, nargs, kwnames, nullptr)) return nullptr;
    Pool pool;
    std::vector<ir::Node> definitions;
    std::vector<ir::Node> members;
    members.reserve(static_cast<std::size_t>(nargs));
    CompilationBudget budget;
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        ir::Node node;
        if (!build_node(args[i], BuildTarget{pool, definitions}, node)) return nullptr;
        members.push_back(std::move(node));
    }
    ir::Node root = is_union ? ir::unite_nodes(std::move(members), definitions)
                             : ir::intersect_nodes(std::move(members), definitions);
    return finish(std::move(root), std::move(pool), std::move(definitions));
}

// `|` with `receiver` a Validator; `receiver_left` tells the operand order.
PyObject* validator_or_body(ValidatorObject* receiver, PyObject* other, bool receiver_left) {
    PoolObjects objects = receiver->schema.pool;
    Pool pool = rebuild_pool_index(std::move(objects));
    std::vector<ir::Node> definitions = receiver->schema.definitions;
    ir::Node built;
    CompilationBudget budget;
    if (!build_node(other, BuildTarget{pool, definitions}, built)) return nullptr;
    std::vector<ir::Node> members;
    if (receiver_left) {
        members.push_back(receiver->schema.root);
        members.push_back(std::move(built));
    } else {
        members.push_back(std::move(built));
        members.push_back(receiver->schema.root);
    }
    ir::Node root = ir::unite_nodes(std::move(members), definitions);
    return finish(std::move(root), std::move(pool), std::move(definitions));
}

// `recursive(builder)`: the builder is called with a placeholder validator
// standing for the schema being defined, while the placeholder's id is on
// this thread's placeholder stack (so validators built from it inside the
// call pass finalisation).  Its result is compiled; the placeholders of this
// call become back edges to the definition the body takes, and a body that
// reaches itself without passing a structural constructor is refused.
// Placeholders of enclosing calls still in progress may remain: finalisation
// accepts them and the enclosing call resolves them.
PyObject* recursive_body(PyObject* builder) {
    BuiltPatternsScope patterns;  // the body's compiled patterns, for the result
    const std::uint64_t id = ir::next_placeholder_id();
    py::Ref placeholder = py::Ref::steal(validator_from_node(ir::Node::placeholder(id)));
    if (!placeholder) return nullptr;
    py::Ref body_spec;
    {
        ir::PlaceholderScope scope(id);  // popped as soon as the call ends
        body_spec = py::Ref::steal(PyObject_CallOneArg(builder, placeholder.get()));
    }
    if (!body_spec) return nullptr;

    Pool pool;
    std::vector<ir::Node> definitions;
    ir::Node body;
    {
        CompilationBudget budget;
        if (!build_node(body_spec.get(), BuildTarget{pool, definitions}, body)) return nullptr;
    }
    const std::uint64_t n = definitions.size();
    ir::resolve_placeholder_in_schema(body, definitions, id, n);
    if (ir::has_unguarded_recursion(body, n, definitions)) {
        PyErr_SetString(PyExc_ValueError,
                        "recursive schema is not contractive: the recursive reference must occur under a structural "
                        "constructor (a list, tuple, set, dict, record, or object)");
        return nullptr;
    }
    definitions.push_back(std::move(body));
    return finish(ir::Node::back_edge(n), std::move(pool), std::move(definitions));
}

}  // namespace

PyObject* union_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guarded<PyObject*>(nullptr, [&] { return combine("union()", true, args, nargs, kwnames); });
}

PyObject* intersection_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guarded<PyObject*>(nullptr,
                                  [&] { return combine("intersection()", false, args, nargs, kwnames); });
}

PyObject* complement_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        static const py::ArgSpec spec{.full_name = "complement()",
                                      .positional = {"schema"},
                                      .required_positional = 1,
                                      .positional_only = 1};
        PyObject* schema = nullptr;
        if (!py::parse_fastcall(spec, args, nargs, kwnames, &schema)) return nullptr;
        Pool pool;
        std::vector<ir::Node> definitions;
        ir::Node inner;
        CompilationBudget budget;
        if (!build_node(schema, BuildTarget{pool, definitions}, inner)) return nullptr;
        ir::Node root = ir::complement_node(std::move(inner));
        return finish(std::move(root), std::move(pool), std::move(definitions));
    });
}

PyObject* recursive_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        static const py::ArgSpec spec{.full_name = "recursive()",
                                      .positional = {"builder"},
                                      .required_positional = 1,
                                      .positional_only = 1};
        PyObject* builder = nullptr;
        if (!py::parse_fastcall(spec, args, nargs, kwnames, &builder)) return nullptr;
        return recursive_body(builder);
    });
}

PyObject* validator_or(PyObject* a, PyObject* b) {
    return py::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        int left = is_validator(a);
        if (left < 0) return nullptr;
        if (left) return validator_or_body(reinterpret_cast<ValidatorObject*>(a), b, true);
        int right = is_validator(b);
        if (right < 0) return nullptr;
        if (right) return validator_or_body(reinterpret_cast<ValidatorObject*>(b), a, false);
        Py_RETURN_NOTIMPLEMENTED;
    });
}

}  // namespace tessaron::python
