// Parameterised typing forms: `list[T]`, `set[T]`, `frozenset[T]`,
// `dict[K, V]`, `tuple[...]`, the typed-dict qualifiers, `Union`/`X | Y`,
// `Literal[...]` and `collections.abc.Callable[...]`.
//
// `build_generic` receives a spec with its `typing.get_origin` and the tuple
// of its `typing.get_args` and tests the origin by identity; any other
// origin is refused, naming it.  The argument rules are the part users meet
// most, so each refusal says what to write instead:
//   * a type argument that is a str or a `ForwardRef` is refused (names are
//     never evaluated); inside `Literal` a str is a constant;
//   * a map key may not narrow the keys it governs (`has_refinement`);
//   * `Literal` takes constants, not types, lists, dicts or sets;
//   * a tuple is a fixed prefix and at most one repeating tail, written last.
//
// Tuples are read in two passes.  The first flattens the arguments into a
// prefix of Python objects and an optional tail object, applying the `...`
// rules, and unpacks `*tuple[...]` / `Unpack[Tuple[...]]` arguments by
// feeding their own arguments through the same rules (an explicit stack of
// argument tuples, so the native stack does not grow with the nesting); an
// `...` inside an unpacked tuple repeats only an element written inside it.
// Only the second pass builds, so a misplaced `...` is reported before any
// argument is built.  A shared unpacked tuple (`t = tuple[*t, *t]`,
// repeated) expands exponentially in the first pass, before any builder
// call is counted, so the pass stops as soon as the arguments it has
// examined outnumber the builder steps left in the compilation's budget.
//
// The sequence payload constructors and the map-key rule here also serve the
// class builder and the dict and list literals.
#include <string>
#include <utility>
#include <vector>

#include "core/ir/construct.h"
#include "core/ir/sharing.h"
#include "python/binding/intern.h"
#include "python/build/builder.h"
#include "python/build/refusal.h"
#include "python/build/typing_names.h"
#include "python/value_text.h"

namespace tessaron::python {

namespace {

constexpr const char kNothingAfterTail[] =
    "a tuple schema carries a fixed prefix and then a repeating tail, so nothing may follow the tail: write the "
    "repeating part last";
constexpr const char kLeadingEllipsis[] = "`...` repeats the element before it, so a tuple schema cannot begin with one";

py::Ref typing_origin(const TypingNames& names, PyObject* form) {
    return py::Ref::steal(PyObject_CallOneArg(names.get_origin.get(), form));
}

// `typing.get_args(form)`, which must be a tuple; null with an error set.
py::Ref typing_args(const TypingNames& names, PyObject* form) {
    py::Ref args = py::Ref::steal(PyObject_CallOneArg(names.get_args.get(), form));
    if (args && !PyTuple_Check(args.get())) {
        not_an_instance(args.get(), "tuple");
        return {};
    }
    return args;
}

// Whether the argument carries a true `__unpacked__` (as `*tuple[int]`
// does); anything that raises while asking counts as not unpacked.
bool marked_unpacked(PyObject* arg) {
    py::Ref flag = py::Ref::steal(PyObject_GetAttr(arg, TS_INTERNED("__unpacked__")));
    if (!flag) {
        PyErr_Clear();
        return false;
    }
    const int truth = PyObject_IsTrue(flag.get());
    if (truth < 0) {
        PyErr_Clear();
        return false;
    }
    return truth != 0;
}

bool build_list_form(PyObject* spec, PyObject* args, BuildTarget target, ir::Node& out) {
    PyObject* element_spec = single_type_argument(
        args, spec, "write the element type on its own, or a list of fixed length as the list literal [A, B]");
    if (!element_spec) return false;
    ir::Node element;
    if (!reject_forward_reference(element_spec, target, element)) return false;
    out = homogeneous_shape(ir::kFlavourList, std::move(element));
    return true;
}

bool build_set_form(PyObject* spec, PyObject* args, std::uint8_t flavour, BuildTarget target, ir::Node& out) {
    PyObject* element_spec = single_type_argument(
        args, spec,
        "write the element type on its own -- a set schema is homogeneous, so several element types are their "
        "union, set[A | B]");
    if (!element_spec) return false;
    ir::Node element;
    if (!reject_forward_reference(element_spec, target, element)) return false;
    out = ir::make_set(flavour, std::move(element));
    return true;
}

bool build_dict_form(PyObject* args, BuildTarget target, ir::Node& out) {
    if (PyTuple_GET_SIZE(args) != 2) return not_implemented("dict[...] needs a key type and a value type");
    PyObject* key_spec = PyTuple_GET_ITEM(args, 0);
    ir::Node key;
    if (!reject_forward_reference(key_spec, target, key)) return false;
    if (!check_map_key(key, key_spec)) return false;
    ir::Node value;
    if (!reject_forward_reference(PyTuple_GET_ITEM(args, 1), target, value)) return false;
    std::vector<ir::Clause> clauses;
    clauses.push_back(ir::Clause{std::move(key), std::move(value)});
    out = ir::make_record({}, std::move(clauses));
    return true;
}

// One argument tuple being flattened; `start` is the prefix length when it
// began, so that its `...` can only repeat an element written inside it.
struct ArgumentFrame {
    py::Ref args;
    Py_ssize_t next = 0;
    std::size_t start = 0;
};

// The tuple form a tuple argument unpacks (`*tuple[...]`, `Unpack[...]`),
// or a null Ref when it unpacks nothing; false with an error set.
bool unpacked_form(const TypingNames& names, PyObject* arg, py::Ref& form) {
    form = {};
    if (marked_unpacked(arg)) {
        form = py::Ref::borrow(arg);
        return true;
    }
    if (!names.Unpack) return true;
    py::Ref origin = typing_origin(names, arg);
    if (!origin) return false;
    if (origin.get() != names.Unpack.get()) return true;
    py::Ref args = typing_args(names, arg);
    if (!args) return false;
    PyObject* inner = single_type_argument(args.get(), arg, "write the one tuple type it unpacks");
    if (!inner) return false;
    form = py::Ref::borrow(inner);
    return true;
}

// First pass over a tuple's arguments: the prefix objects and the tail.
bool flatten_tuple_arguments(PyObject* args, std::vector<py::Ref>& prefix, py::Ref& tail) {
    std::vector<ArgumentFrame> frames;
    frames.push_back(ArgumentFrame{py::Ref::borrow(args), 0, 0});
    std::uint64_t examined = 0;
    while (!frames.empty()) {
        ArgumentFrame& frame = frames.back();
        if (frame.next >= PyTuple_GET_SIZE(frame.args.get())) {
            frames.pop_back();
            continue;
        }
        py::Ref arg = py::Ref::borrow(PyTuple_GET_ITEM(frame.args.get(), frame.next));
        ++frame.next;
        const std::size_t start = frame.start;
        if (!build_steps_available(++examined)) return false;
        if (tail) return not_implemented(kNothingAfterTail);
        const TypingNames* names = typing_names();
        if (!names) return false;

        py::Ref form;
        if (!unpacked_form(*names, arg.get(), form)) return false;
        if (form) {
            py::Ref origin = typing_origin(*names, form.get());
            if (!origin) return false;
            if (origin.get() != reinterpret_cast<PyObject*>(&PyTuple_Type))
                return not_implemented("only a tuple can be unpacked into a tuple schema; " + safe_repr(form.get()) +
                                       " binds no element types at runtime");
            py::Ref inner = typing_args(*names, form.get());
            if (!inner) return false;
            frames.push_back(ArgumentFrame{std::move(inner), 0, prefix.size()});  // `frame` is stale from here
            continue;
        }

        if (arg.get() == names->Ellipsis.get()) {
            if (prefix.size() <= start) return not_implemented(kLeadingEllipsis);
            tail = std::move(prefix.back());
            prefix.pop_back();
            continue;
        }
        prefix.push_back(std::move(arg));
    }
    return true;
}

bool build_tuple_form(PyObject* args, BuildTarget target, ir::Node& out) {
    const Py_ssize_t n = PyTuple_GET_SIZE(args);
    if (n == 0 || (n == 1 && PyTuple_Check(PyTuple_GET_ITEM(args, 0)) &&
                   PyTuple_GET_SIZE(PyTuple_GET_ITEM(args, 0)) == 0)) {
        out = fixed_shape(ir::kFlavourTuple, {});
        return true;
    }
    std::vector<py::Ref> prefix_specs;
    py::Ref tail_spec;
    if (!flatten_tuple_arguments(args, prefix_specs, tail_spec)) return false;

    std::vector<ir::Node> prefix;
    prefix.reserve(prefix_specs.size());
    for (const py::Ref& element_spec : prefix_specs) {
        ir::Node element;
        if (!reject_forward_reference(element_spec.get(), target, element)) return false;
        prefix.push_back(std::move(element));
    }
    if (!tail_spec) {
        out = fixed_shape(ir::kFlavourTuple, prefix);
        return true;
    }
    ir::Node tail;
    if (!reject_forward_reference(tail_spec.get(), target, tail)) return false;
    out = prefix.empty() ? homogeneous_shape(ir::kFlavourTuple, std::move(tail))
                         : prefix_tail_shape(ir::kFlavourTuple, prefix, std::move(tail));
    return true;
}

bool build_union_form(PyObject* args, BuildTarget target, ir::Node& out) {
    std::vector<ir::Node> members;
    members.reserve(static_cast<std::size_t>(PyTuple_GET_SIZE(args)));
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(args); ++i) {
        ir::Node member;
        if (!reject_forward_reference(PyTuple_GET_ITEM(args, i), target, member)) return false;
        members.push_back(std::move(member));
    }
    out = ir::unite_nodes(std::move(members), target.definitions);
    return true;
}

bool refuse_literal_container(const char* what, const char* instead) {
    return not_implemented(std::string(what) +
                           " is not a Literal argument: the typing spec allows None, an enum member, or an int, "
                           "bool, str or bytes value, and this one would be read as a schema of its own rather than "
                           "as a constant. Write " +
                           instead);
}

bool build_literal_form(PyObject* args, BuildTarget target, ir::Node& out) {
    std::vector<ir::Node> members;
    members.reserve(static_cast<std::size_t>(PyTuple_GET_SIZE(args)));
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(args); ++i) {
        // Most arguments are str or int constants: a run of them is built
        // directly.
        const Py_ssize_t next = build_plain_constants(args, i, target, members);
        if (next < 0) return false;
        if (next == PyTuple_GET_SIZE(args)) break;
        i = next;
        PyObject* arg = PyTuple_GET_ITEM(args, i);
        if (PyType_Check(arg))
            return not_implemented(safe_repr(arg) +
                                   " is a type rather than a constant, and is not a Literal argument: the typing "
                                   "spec allows None, an enum member, or an int, bool, str or bytes value. Write the "
                                   "type on its own to admit its values, or a constant to admit one");
        if (PyList_Check(arg))
            return refuse_literal_container("a list", "list[T] for a list of values, or a tuple of them in the Literal");
        if (PyDict_Check(arg)) return refuse_literal_container("a dict", "dict[K, V], or a record written as a dict literal");
        if (PySet_Check(arg)) return refuse_literal_container("a set", "set[T]");
        ir::Node member;
        if (!build_node(arg, target, member)) return false;
        members.push_back(std::move(member));
    }
    out = ir::unite_nodes(std::move(members), target.definitions);
    return true;
}

}  // namespace

bool is_ellipsis(PyObject* obj) {
    const TypingNames* names = typing_names();
    if (!names) {
        PyErr_Clear();
        return false;
    }
    return obj == names->Ellipsis.get();
}

PyObject* single_type_argument(PyObject* args, PyObject* spec, const char* hint) {
    const Py_ssize_t n = PyTuple_GET_SIZE(args);
    if (n == 1) return PyTuple_GET_ITEM(args, 0);
    not_implemented(safe_repr(spec) + " takes exactly one type argument, and this one is written with " +
                    std::to_string(n) + ": " + hint);
    return nullptr;
}

bool has_refinement(const ir::Node& node) {
    std::vector<const ir::Node*> stack{&node};
    while (!stack.empty()) {
        const ir::Node* n = stack.back();
        stack.pop_back();
        switch (n->kind) {
            case ir::NodeKind::Refined:
                if (!ir::as_span(n->constraints).empty()) return true;
                break;
            case ir::NodeKind::Union:
            case ir::NodeKind::Intersection:
                for (const ir::Node& member : ir::as_span(n->nodes)) stack.push_back(&member);
                break;
            case ir::NodeKind::Complement:
                if (n->child) stack.push_back(n->child.get());
                break;
            default:
                break;
        }
    }
    return false;
}

bool check_map_key(const ir::Node& key, PyObject* key_spec) {
    if (!has_refinement(key)) return true;
    return not_implemented(
        safe_repr(key_spec) +
        " narrows the keys it governs, and a map key must be a key type or a Literal: write dict[str, V] to key "
        "every string, or dict[Literal[\"a\"], V] (or {\"a\": V}) to key one. To constrain the keys themselves, "
        "check them beside the mapping rather than inside it");
}

ir::Node fixed_shape(std::uint8_t flavour, std::span<const ir::Node> elements) {
    return ir::make_sequence(flavour, ir::intern_node_slice(elements), nullptr);
}

ir::Node prefix_tail_shape(std::uint8_t flavour, std::span<const ir::Node> prefix, ir::Node tail) {
    return ir::make_sequence(flavour, ir::intern_node_slice(prefix), ir::intern_node(std::move(tail)));
}

ir::Node homogeneous_shape(std::uint8_t flavour, ir::Node element) {
    ir::SequenceParts parts = ir::homogeneous_sequence_parts(std::move(element));
    return ir::make_sequence(flavour, std::move(parts.prefix), std::move(parts.tail));
}

bool build_generic(PyObject* spec, PyObject* origin, PyObject* args, BuildTarget target, ir::Node& out) {
    if (origin == reinterpret_cast<PyObject*>(&PyList_Type)) return build_list_form(spec, args, target, out);
    if (origin == reinterpret_cast<PyObject*>(&PySet_Type))
        return build_set_form(spec, args, ir::kFlavourSet, target, out);
    if (origin == reinterpret_cast<PyObject*>(&PyFrozenSet_Type))
        return build_set_form(spec, args, ir::kFlavourFrozenset, target, out);
    if (origin == reinterpret_cast<PyObject*>(&PyDict_Type)) return build_dict_form(args, target, out);
    if (origin == reinterpret_cast<PyObject*>(&PyTuple_Type)) return build_tuple_form(args, target, out);

    const TypingNames* names = typing_names();
    if (!names) return false;
    if (TypingNames::is(names->Required, origin) || TypingNames::is(names->NotRequired, origin) ||
        TypingNames::is(names->ReadOnly, origin)) {
        // The qualifier leaves no trace in the node: the typed-dict builder
        // reads it from the hint itself.
        PyObject* qualified = single_type_argument(args, spec, "write the one type it qualifies");
        if (!qualified) return false;
        return reject_forward_reference(qualified, target, out);
    }
    if (origin == names->Union.get() || TypingNames::is(names->UnionType, origin))
        return build_union_form(args, target, out);
    if (origin == names->Literal.get()) return build_literal_form(args, target, out);
    if (origin == names->Callable.get()) {
        out = ir::Node::instance(intern_pool_value(target.pool, origin));
        return true;
    }
    return not_implemented("unsupported typing form with origin " + safe_repr(origin) +
                           "; supported: list, set, dict, tuple, Union, Optional, Literal, Callable");
}

}  // namespace tessaron::python
