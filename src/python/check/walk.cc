// The walk: dispatch by node kind, and the leaf checks.
//
// What it computes: whether the value named by a source is a member of the
// set a node denotes, recording failures in the recording modes.  The
// scalar kinds are type tests; a literal admits values of the constant's
// exact type that compare equal to it (so `True` is no member of the
// literal 1 and a NaN literal admits nothing); an instance node asks
// `isinstance`; a back edge walks its definition under the recursion guard;
// a placeholder admits nothing.
//
// Invariants: every `walk` level entered is left with the depth restored,
// and every guard entry pushed is popped before its check returns, so a
// finished walk leaves depth 0 and an empty guard.  A stored fatal exception
// makes every later `walk` call return false at once.
//
// Budget: at most 512 nested `walk` levels and 128 nested entries into
// definitions per walk, and never a level entered with less than the native
// stack reserve left on the thread (a small thread stack, or walks nested
// through predicates that validate again); beyond any of these the value
// fails with "recursion_limit", so any input, cyclic or deep, costs bounded
// native stack.  A leaf check makes at most one comparison or `isinstance` call;
// the guard scan is linear in at most 128 entries.
#include "python/check/walk.h"

#include <string>

#include "core/util/native_stack.h"
#include "python/check/report.h"
#include "python/check/sources.h"

namespace tessaron::python::check {

namespace {

// The literal test on Python objects: same exact type, then the truth of
// `value == constant` (the value on the left).
bool literal_equals(PyObject* value, PyObject* constant, WalkState& st) {
    PyTypeObject* type = Py_TYPE(value);
    if (type != Py_TYPE(constant)) return false;
    if (value == constant && has_plain_equality(type)) return true;
    PyObject* result = PyObject_RichCompare(value, constant, Py_EQ);
    if (!result) return fold_call_result(-1, st);
    int truth = result == Py_True ? 1 : result == Py_False ? 0 : PyObject_IsTrue(result);
    Py_DECREF(result);
    return fold_call_result(truth, st);
}

template <ValueSource Source>
bool check_literal(const ir::Node& node, const Source& src, WalkContext& ctx) {
    WalkState& st = *ctx.state;
    PyObject* constant = st.pooled(node.pool_index());
    bool member = false;
    if (constant) {
        py::Ref holder;
        PyObject* value = src.as_python(holder);
        if (value)
            member = literal_equals(value, constant, st);
        else
            absorb_error(st);
    }
    if (!member && ctx.recording() && !st.stop) {
        std::string expected = "the literal ";
        expected += constant ? safe_text(constant, st) : std::string("<unknown>");
        push_violation("literal_error", std::move(expected), src, ctx);
    }
    return member;
}

template <ValueSource Source>
bool check_instance(const ir::Node& node, const Source& src, WalkContext& ctx) {
    WalkState& st = *ctx.state;
    PyObject* cls = st.pooled(node.pool_index());
    bool member = false;
    if (cls) {
        py::Ref holder;
        PyObject* value = src.as_python(holder);
        if (value)
            member = fold_call_result(PyObject_IsInstance(value, cls), st);
        else
            absorb_error(st);
    }
    if (!member && ctx.recording() && !st.stop)
        push_violation("instance_type", cls ? class_name(cls, st) : std::string(ir::expected_kind_text(node)), src,
                       ctx);
    return member;
}

template <ValueSource Source>
bool check_back_edge(const ir::Node& node, const Source& src, WalkContext& ctx) {
    WalkState& st = *ctx.state;
    const std::uint64_t identity = src.identity();
    const std::uint64_t definition = node.definition();
    for (const GuardEntry& entry : st.recursion_guard) {
        if (entry.identity == identity && entry.definition == definition) {
            st.declined = true;
            push_violation("recursion_loop", "a finite (non-cyclic) value", src, ctx);
            return false;
        }
    }
    if (st.recursion_guard.size() >= kMaxRecursionEntries) {
        st.declined = true;
        if (ctx.recording())
            push_violation("recursion_limit",
                           "at most " + std::to_string(kMaxRecursionEntries) + " levels of recursion", src, ctx);
        return false;
    }
    if (definition >= st.definitions.size()) {
        // A back edge past the definitions names nothing (only a tree handed
        // over without its schema could hold one).
        st.declined = true;
        report_type_mismatch(node, src, ctx);
        return false;
    }
    st.recursion_guard.push_back(GuardEntry{identity, definition});
    const bool member = walk(st.definitions[definition], src, ctx);
    st.recursion_guard.pop_back();
    return member;
}

template <ValueSource Source>
bool dispatch(const ir::Node& node, const Source& src, WalkContext& ctx) {
    bool member;
    switch (node.kind) {
        case ir::NodeKind::Anything:
            return true;
        case ir::NodeKind::Nothing:
            member = false;
            break;
        case ir::NodeKind::None:
            member = src.is_none();
            break;
        case ir::NodeKind::Bool:
            member = src.is_exact_bool();
            break;
        case ir::NodeKind::Int:
            member = src.is_int();
            break;
        case ir::NodeKind::Float:
            member = src.is_float();
            break;
        case ir::NodeKind::Str:
            member = src.is_str();
            break;
        case ir::NodeKind::Bytes:
            member = src.is_bytes();
            break;
        case ir::NodeKind::Literal:
            return check_literal(node, src, ctx);
        case ir::NodeKind::Sequence:
            return check_sequence(node, src, ctx);
        case ir::NodeKind::Set:
            return check_set(node, src, ctx);
        case ir::NodeKind::Mapping:
            return check_mapping(node, src, ctx);
        case ir::NodeKind::Union:
            return check_union(node, src, ctx);
        case ir::NodeKind::Intersection:
            return check_intersection(node, src, ctx);
        case ir::NodeKind::Complement:
            return check_complement(node, src, ctx);
        case ir::NodeKind::Instance:
            return check_instance(node, src, ctx);
        case ir::NodeKind::Object:
            return check_object_attributes(node, src, ctx);
        case ir::NodeKind::Refined:
            return check_refined(node, src, ctx);
        case ir::NodeKind::BackEdge:
            return check_back_edge(node, src, ctx);
        case ir::NodeKind::Placeholder:
            ctx.state->declined = true;
            push_violation("unresolved_recursion", "a resolved recursive value", src, ctx);
            return false;
        default:
            member = false;
            break;
    }
    if (!member && ctx.recording()) report_type_mismatch(node, src, ctx);
    return member;
}

}  // namespace

bool runs_no_user_code(const ir::Node& node, std::span<const py::Ref> pool, int& budget) {
    if (--budget < 0) return false;
    switch (node.kind) {
        case ir::NodeKind::Anything:
        case ir::NodeKind::Nothing:
        case ir::NodeKind::None:
        case ir::NodeKind::Bool:
        case ir::NodeKind::Int:
        case ir::NodeKind::Float:
        case ir::NodeKind::Str:
        case ir::NodeKind::Bytes:
            return true;
        case ir::NodeKind::Literal:
            // `literal_equals` compares only values of the constant's exact
            // type; for these types that comparison is builtin and total.
            return node.pool_index() < pool.size() && has_plain_equality(Py_TYPE(pool[node.pool_index()].get()));
        case ir::NodeKind::Union:
        case ir::NodeKind::Intersection:
            for (const ir::Node& member : ir::as_span(node.members()))
                if (!runs_no_user_code(member, pool, budget)) return false;
            return true;
        case ir::NodeKind::Complement:
            return !node.inner() || runs_no_user_code(*node.inner(), pool, budget);
        default:
            return false;
    }
}

template <ValueSource Source>
bool walk(const ir::Node& node, const Source& src, WalkContext& ctx) {
    WalkState& st = *ctx.state;
    if (st.stop) return false;
    if (st.depth == 0) st.stack_floor = util::native_stack_floor(util::current_frame());
    if (st.depth + 1 > kMaxWalkDepth) {
        st.declined = true;
        if (ctx.recording())
            push_violation("recursion_limit", "at most " + std::to_string(kMaxWalkDepth) + " levels of nesting", src,
                           ctx);
        return false;
    }
    if (util::current_frame() < st.stack_floor) [[unlikely]] {
        st.declined = true;
        if (ctx.recording()) push_violation("recursion_limit", kNativeStackText, src, ctx);
        return false;
    }
    ++st.depth;
    const bool member = dispatch(node, src, ctx);
    --st.depth;
    return member;
}

#define TS_INSTANTIATE_WALK(S) template bool walk<S>(const ir::Node&, const S&, WalkContext&);
TS_FOR_EACH_SOURCE(TS_INSTANTIATE_WALK)
#undef TS_INSTANTIATE_WALK

}  // namespace tessaron::python::check
