// The builder's dispatcher.
//
// `build_node` decides which form builder gets a spec by a fixed order of
// tests (None, Any, Never, classes, Annotated, parameterised forms, type
// aliases, new types, container literals, validators, forward references,
// typing constructs, constants); the first test that matches decides.  It
// counts the builds in progress on the thread (`FrontendDepth`) and refuses
// the 130th nested one, so a self-referential class that never bottoms out
// fails cleanly instead of exhausting the native stack.
//
// It also keeps the step budget of the compilation in progress: every call
// is one step, and a compilation that takes more than `kBuildStepBudget`
// steps (a spec that shares a part many times, rebuilt at each occurrence)
// is refused before its cost explodes.  The budget is per thread and saved
// and restored around each compilation (`CompilationBudget`), so a
// compilation nested inside another has a budget of its own.
#include <optional>
#include <string>

#include "python/binding/intern.h"
#include "python/build/builder.h"
#include "python/build/refusal.h"
#include "python/build/typing_names.h"
#include "python/binding/stack_guard.h"
#include "python/validator.h"
#include "python/value_text.h"

namespace tessaron::python {

namespace {

thread_local std::size_t t_frontend_depth = 0;

// The step count of the compilation in progress on this thread, and whether
// one is open at all.
struct BudgetState {
    std::uint64_t used = 0;
    bool open = false;
};
thread_local BudgetState t_budget;

struct DepthGuard {
    std::size_t saved;
    explicit DepthGuard(std::size_t s) : saved(s) {}
    ~DepthGuard() { t_frontend_depth = saved; }
};

bool dispatch(PyObject* spec, BuildTarget target, ir::Node& out) {
    if (spec == Py_None) {
        out = ir::Node::scalar(ir::NodeKind::None);
        return true;
    }
    const TypingNames* names = typing_names();
    if (!names) return false;
    if (spec == names->Any.get()) {
        out = ir::Node::anything(true);
        return true;
    }
    if (TypingNames::is(names->Never, spec) || TypingNames::is(names->NoReturn, spec)) {
        out = ir::Node::nothing();
        return true;
    }
    if (PyType_Check(spec)) return build_class(spec, target, out);

    // Annotated[T, ...] carries its metadata.
    py::Ref metadata;
    int found = read_optional_attr(spec, TS_INTERNED("__metadata__"), metadata);
    if (found < 0) return false;
    if (found > 0) {
        py::Ref origin = py::Ref::steal(PyObject_GetAttr(spec, TS_INTERNED("__origin__")));
        if (!origin) return false;
        if (!PyTuple_Check(metadata.get())) return not_an_instance(metadata.get(), "tuple");
        return build_annotated(origin.get(), metadata.get(), target, out);
    }

    // Parameterised forms: list[int], Union[...], Literal[...], ...
    py::Ref origin = py::Ref::steal(PyObject_CallOneArg(names->get_origin.get(), spec));
    if (!origin) return false;
    if (origin.get() != Py_None) {
        py::Ref args = py::Ref::steal(PyObject_CallOneArg(names->get_args.get(), spec));
        if (!args) return false;
        if (!PyTuple_Check(args.get())) return not_an_instance(args.get(), "tuple");
        py::Ref dunder_args;
        found = read_optional_attr(spec, TS_INTERNED("__args__"), dunder_args);
        if (found < 0) return false;
        if (found > 0 || !PyType_Check(origin.get()))
            return build_generic(spec, origin.get(), args.get(), target, out);
        return build_class(origin.get(), target, out);  // a bare alias such as typing.List
    }

    if (names->TypeAliasType) {
        int is_alias = PyObject_IsInstance(spec, names->TypeAliasType.get());
        if (is_alias < 0) return false;
        if (is_alias) return build_type_alias(spec, target, out);
    }

    // NewType: build what it stands for, one level deeper.
    py::Ref supertype;
    found = read_optional_attr(spec, TS_INTERNED("__supertype__"), supertype);
    if (found < 0) return false;
    if (found > 0) {
        supertype = py::Ref::steal(PyObject_GetAttr(spec, TS_INTERNED("__supertype__")));
        if (!supertype) return false;
        return build_node(supertype.get(), target, out);
    }

    if (PyList_Check(spec)) return build_list_literal(spec, target, out);
    if (PyTuple_Check(spec))
        return not_implemented(
            "a tuple literal is not a schema; write a fixed-length tuple as tuple[A, B] (the list literal [A, B] "
            "is the fixed-length list)");
    if (PyFrozenSet_Check(spec))
        return not_implemented("a frozen set literal is not a schema; write a frozen set as frozenset[T]");
    if (PyAnySet_Check(spec)) return not_implemented("a set literal is not a schema; write a set as set[T]");
    if (PyDict_Check(spec)) return build_record_literal(spec, target, out);

    int validator = is_validator(spec);
    if (validator < 0) return false;
    if (validator) return merge_validator(spec, target, out);

    int forward = is_forward_ref(spec);
    if (forward < 0) return false;
    if (forward) return refuse_forward_reference(spec);

    for (const py::Ref& form : names->special_forms) {
        int hit = PyObject_IsInstance(spec, form.get());
        if (hit < 0) return false;
        if (hit)
            return not_implemented(safe_repr(spec) +
                                   " is a typing construct, not a value: a type variable, ParamSpec, TypeVarTuple, "
                                   "or special form (such as Final or ClassVar) cannot be a schema; use a concrete "
                                   "type");
    }

    out = ir::Node::literal(intern_pool_value(target.pool, spec));
    return true;
}

}  // namespace

CompilationBudget::CompilationBudget() noexcept : saved_used_(t_budget.used), saved_open_(t_budget.open) {
    t_budget.used = 0;
    t_budget.open = true;
}

CompilationBudget::~CompilationBudget() {
    t_budget.used = saved_used_;
    t_budget.open = saved_open_;
}

namespace {

bool budget_spent() {
    PyErr_SetString(PyExc_ValueError,
                    ("schema is too large to compile: it takes more than " + std::to_string(kBuildStepBudget) +
                     " builder steps; write a repeated part once, as a type alias or with recursive(...)")
                        .c_str());
    return false;
}

}  // namespace

bool charge_build_step() {
    if (t_budget.used >= kBuildStepBudget) return budget_spent();
    ++t_budget.used;
    return true;
}

bool build_steps_available(std::uint64_t steps) {
    if (steps > kBuildStepBudget - t_budget.used) return budget_spent();
    return true;
}

int is_forward_ref(PyObject* spec) {
    const TypingNames* names = typing_names();
    if (!names) return -1;
    if (!names->ForwardRef) return 0;
    return PyObject_IsInstance(spec, names->ForwardRef.get());
}

namespace {

bool is_plain_constant(PyObject* spec) {
    PyTypeObject* type = Py_TYPE(spec);
    return type == &PyUnicode_Type || type == &PyLong_Type || type == &PyBool_Type || type == &PyBytes_Type ||
           type == &PyFloat_Type;
}

}  // namespace

Py_ssize_t build_plain_constants(PyObject* args, Py_ssize_t begin, BuildTarget target, std::vector<ir::Node>& out) {
    const Py_ssize_t n = PyTuple_GET_SIZE(args);
    if (begin >= n || !is_plain_constant(PyTuple_GET_ITEM(args, begin))) return begin;
    // Whatever `build_node` would refuse or count first, it does itself.
    if (t_frontend_depth + 1 > kFrontendDepthLimit || !t_budget.open) return begin;
    if (!py::native_stack_available("compile this schema")) return -1;
    BudgetState& budget = t_budget;
    // Room for every argument left, so the pool grows once.
    const auto left = static_cast<std::size_t>(n - begin);
    target.pool.objects.reserve(target.pool.objects.size() + left);
    target.pool.index.reserve(target.pool.index.size() + left);
    out.reserve(out.size() + left);
    Py_ssize_t i = begin;
    for (; i < n; ++i) {
        PyObject* arg = PyTuple_GET_ITEM(args, i);
        if (!is_plain_constant(arg)) break;
        // One builder step each, as `build_node` counts it.
        if (budget.used >= kBuildStepBudget) return budget_spent(), -1;
        ++budget.used;
        out.push_back(ir::Node::literal(intern_pool_value(target.pool, arg)));
    }
    return i;
}

bool build_node(PyObject* spec, BuildTarget target, ir::Node& out) {
    const std::size_t before = t_frontend_depth;
    if (before + 1 > kFrontendDepthLimit) {
        return not_implemented(
            "schema nesting is too deep to compile: the frontend descended " + std::to_string(kFrontendDepthLimit) +
            " levels without reaching a leaf. A class whose own type appears in its fields is recursive and never "
            "bottoms out; write it with recursive(...), which ties the fixpoint explicitly.");
    }
    if (!py::native_stack_available("compile this schema")) return false;
    t_frontend_depth = before + 1;
    DepthGuard guard(before);
    std::optional<CompilationBudget> own_budget;  // a caller that opened none
    if (!t_budget.open) own_budget.emplace();
    if (!charge_build_step()) return false;
    return dispatch(spec, target, out);
}

}  // namespace tessaron::python
