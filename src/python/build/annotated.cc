// `Annotated[base, m1, m2, ...]`: a base schema plus the constraints its
// metadata carries.
//
// What it computes: the refined node of the base and every constraint read
// from the metadata (markers.cc reads them).  Then every constraint is
// asked whether the base has the property it tests at all (a bound for a
// str, a pattern for an int): one that no value of the base could satisfy
// is refused rather than silently emptying the schema.  A literal base is
// asked by the type of its constant; a union by its members (applies if one
// does, never if none does); other bases (a class, anything, a complement)
// are not judged.
//
// Invariants: the refusal happens only when every value of the base lacks
// the property; an error of the `numbers.Number` test counts as "not a
// number" unless fatal, and a fatal one is raised.  Budget: one pass over
// the constraints, each looking through the base's refinements and union
// members once.
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/ir/construct.h"
#include "core/ir/limits.h"
#include "python/binding/ref.h"
#include "python/build/builder.h"
#include "python/oracle.h"

namespace tessaron::python {

namespace {

using ir::Constraint;
using ir::ConstraintKind;
using ir::Node;
using ir::NodeKind;

bool raise_text(PyObject* type, const std::string& message) {
    PyErr_SetString(type, message.c_str());
    return false;
}

// --- applicability -----------------------------------------------------------

enum Applicability : std::uint8_t { kApplies = 0, kNeverApplies = 1, kUndetermined = 2 };

// The kind a literal stands for when its constant is a None-free builtin
// scalar (bool, int, float, str, bytes); otherwise the node's own kind.
NodeKind view_kind(const Node& node, std::span<const py::Ref> pool) {
    if (node.kind != NodeKind::Literal || node.pool_index() >= pool.size()) return node.kind;
    const std::optional<ir::Kind> kind = literal_kind(pool[node.pool_index()].get());
    if (!kind) return NodeKind::Literal;
    switch (*kind) {
        case ir::Kind::Bool: return NodeKind::Bool;
        case ir::Kind::Int: return NodeKind::Int;
        case ir::Kind::Float: return NodeKind::Float;
        case ir::Kind::Str: return NodeKind::Str;
        case ir::Kind::Bytes: return NodeKind::Bytes;
        default: return NodeKind::Literal;
    }
}

// isinstance(bound, numbers.Number); any error counts as "not a number" (a
// fatal one stays set).
bool bound_is_number(PyObject* bound) {
    PyObject* number = number_class();
    const int is_number = number ? PyObject_IsInstance(bound, number) : -1;
    if (is_number < 0) {
        py::clear_unless_fatal();
        return false;
    }
    return is_number > 0;
}

Applicability when(bool applies) { return applies ? kApplies : kNeverApplies; }

// The answer for one constraint and one (viewed) node.
Applicability answer(const Node& viewed, NodeKind kind, const Constraint& c, std::span<const py::Ref> pool) {
    const Node* node = &viewed;
    while (kind == NodeKind::Refined && node->inner()) {
        node = node->inner().get();
        kind = node->kind;
    }
    if (kind == NodeKind::Union) {
        Applicability folded = kNeverApplies;
        for (const Node& member : ir::as_span(node->members())) {
            const Applicability m = answer(member, view_kind(member, pool), c, pool);
            if (PyErr_Occurred()) return kUndetermined;  // a fatal error, raised by the caller
            if (m == kApplies || folded == kApplies)
                folded = kApplies;
            else if (m == kNeverApplies && folded != kUndetermined)
                folded = kNeverApplies;
            else
                folded = kUndetermined;
        }
        return folded;
    }
    const bool order = c.kind == ConstraintKind::Ge || c.kind == ConstraintKind::Gt || c.kind == ConstraintKind::Le ||
                       c.kind == ConstraintKind::Lt;
    const bool length = c.kind == ConstraintKind::MinLen || c.kind == ConstraintKind::MaxLen;
    const bool divisor = c.kind == ConstraintKind::MultipleOf;
    PyObject* bound = order && c.value < pool.size() ? pool[c.value].get() : nullptr;
    switch (kind) {
        case NodeKind::None: return kNeverApplies;
        case NodeKind::Bool:
        case NodeKind::Int:
        case NodeKind::Float:
            if (order) return when(bound && bound_is_number(bound));
            return when(divisor);
        case NodeKind::Str:
            if (order) return when(bound && PyUnicode_Check(bound));
            return when(!divisor);
        case NodeKind::Bytes:
            if (order) return when(bound && PyBytes_Check(bound));
            return when(length);
        case NodeKind::Sequence:
            if (order)
                return when(bound && (node->flavour() == ir::kFlavourTuple ? PyTuple_Check(bound) : PyList_Check(bound)));
            return when(length);
        case NodeKind::Set:
            if (order) return when(bound && PyAnySet_Check(bound));
            return when(length);
        case NodeKind::Mapping: return when(length);
        default: return kUndetermined;
    }
}

const char* property_text(ConstraintKind kind) {
    switch (kind) {
        case ConstraintKind::Ge:
        case ConstraintKind::Gt:
        case ConstraintKind::Le:
        case ConstraintKind::Lt: return "order against that bound";
        case ConstraintKind::MinLen:
        case ConstraintKind::MaxLen: return "length";
        case ConstraintKind::MultipleOf: return "number for a divisor";
        default: return "text for a pattern to match";
    }
}

// The kind text of the base as viewed: a scalar literal by its type.
std::string_view view_text(const Node& base, NodeKind kind) {
    if (kind == base.kind) return ir::expected_kind_text(base);
    return ir::expected_kind_text(Node::scalar(kind));
}

}  // namespace

bool build_annotated(PyObject* origin, PyObject* metadata, BuildTarget target, ir::Node& out) {
    Node base;
    if (!build_node(origin, target, base)) return false;
    std::vector<Constraint> constraints;
    const Py_ssize_t count = PyTuple_GET_SIZE(metadata);
    for (Py_ssize_t i = 0; i < count; ++i) {
        // The tuple holds its items, but reading one may run user code that
        // drops the last other reference to the next.
        py::Ref item = py::Ref::borrow(PyTuple_GET_ITEM(metadata, i));
        if (!read_marker(item.get(), constraints, target, 0)) return false;
        if (constraints.size() > ir::kMaxSchemaNodes) return constraint_limit_exceeded(item.get());
    }
    const std::span<const py::Ref> pool(target.pool.objects);
    const NodeKind viewed = view_kind(base, pool);
    for (const Constraint& c : constraints) {
        if (c.kind == ConstraintKind::Predicate) continue;
        if (answer(base, viewed, c, pool) != kNeverApplies) {
            if (PyErr_Occurred()) return false;  // a fatal error of isinstance
            continue;
        }
        if (PyErr_Occurred()) return false;
        return raise_text(PyExc_NotImplementedError,
                          std::string(view_text(base, viewed)) + " values have no " + property_text(c.kind) +
                              ", so this constraint admits none of them; constrain a base the constraint can be "
                              "asked of");
    }
    out = ir::make_refined(std::move(base), std::move(constraints));
    return true;
}

}  // namespace tessaron::python
