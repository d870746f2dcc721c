// The walk: dispatch by node kind, and the leaf checks.
//
// What it computes: whether the value named by a source is a member of the
// set a node denotes, recording failures in the recording modes.  The
// scalar kinds are type tests; a literal admits values of the constant's
// exact type that compare equal to it (so `True` is no member of the
// literal 1 and a NaN literal admits nothing); an instance node asks
// `isinstance`; a back edge walks its definition under the recursion guard;
// a placeholder admits nothing.  Back edges, and container nodes at
// containers the walk reaches from several places in the value, are walked
// through the call's memo (memo.h), so neither a recursive schema nor a
// value that shares objects is walked once per path.
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
// the guard scan is linear in at most 128 entries.  Every level ticks the
// state's poll, so pending signal handlers run as a long walk goes on.
#include "python/check/walk.h"

#include <optional>
#include <string>

#include "core/util/native_stack.h"
#include "python/check/native_checks.h"
#include "python/check/report.h"
#include "python/check/sources.h"

namespace tessaron::python::check {

namespace {

// The literal test on Python objects: same exact type, then the truth of
// `value == constant` (the value on the left).
bool literal_equals(PyObject* value, PyObject* constant, WalkState& st) {
    PyTypeObject* type = Py_TYPE(value);
    if (type != Py_TYPE(constant)) return false;
    const bool plain = has_plain_equality(type);
    if (value == constant && plain) return true;
    if (!plain && type != &PyFloat_Type) st.note_user_code();
    PyObject* result = PyObject_RichCompare(value, constant, Py_EQ);
    if (!result) return fold_call_result(-1, st);
    int truth = result == Py_True ? 1 : result == Py_False ? 0 : PyObject_IsTrue(result);
    Py_DECREF(result);
    return fold_call_result(truth, st);
}

template <ValueSource Source>
bool check_literal(const ir::Node& node, const Source& src, WalkContext& ctx) {
    WalkState& st = *ctx.state;
    if constexpr (Source::is_json) {
        // Verdict-only, a JSON value meets the constant's native copy
        // (native_checks.h), without a Python object.
        if (!ctx.recording())
            if (const NativeConstant* c = st.tables->native.constant(node.pool_index())) {
                const int known = native_literal_answer(*c, native_value(*src.doc, *src.value));
                if (known >= 0) return known == 1;
            }
    }
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
    if (!member && ctx.recording() && !st.stop && !profiled_failure("literal_error", ctx)) {
        std::string expected = "the literal ";
        expected += constant ? safe_text(constant, st) : std::string("<unknown>");
        push_violation("literal_error", std::move(expected), src, ctx);
    }
    return member;
}

// Whether `isinstance(value, cls)` answers without code we do not control:
// a plain class (its metaclass is `type`, so no `__instancecheck__`) and a
// value that is an instance by its type, or of a builtin type whose
// `__class__` is the builtin one.
bool isinstance_runs_no_user_code(PyObject* value, PyObject* cls) {
    if (!PyType_CheckExact(cls)) return false;
    if (PyObject_TypeCheck(value, reinterpret_cast<PyTypeObject*>(cls))) return true;
    PyTypeObject* t = Py_TYPE(value);
    return value == Py_None || t == &PyBool_Type || t == &PyLong_Type || t == &PyFloat_Type ||
           t == &PyUnicode_Type || t == &PyBytes_Type || t == &PyList_Type || t == &PyTuple_Type ||
           t == &PyDict_Type || t == &PySet_Type || t == &PyFrozenSet_Type;
}

template <ValueSource Source>
bool check_instance(const ir::Node& node, const Source& src, WalkContext& ctx) {
    WalkState& st = *ctx.state;
    PyObject* cls = st.pooled(node.pool_index());
    bool member = false;
    if (cls) {
        py::Ref holder;
        PyObject* value = src.as_python(holder);
        if (value) {
            if (!isinstance_runs_no_user_code(value, cls)) st.note_user_code();
            member = fold_call_result(PyObject_IsInstance(value, cls), st);
        } else {
            absorb_error(st);
        }
    }
    if (!member && ctx.recording() && !st.stop && !profiled_failure("instance_type", ctx))
        push_violation("instance_type", cls ? class_name(cls, st) : std::string(ir::expected_kind_text(node)), src,
                       ctx);
    return member;
}

// Whether entry `e` stands in for a walk from the guard as it stands
// (memo.h): the same guard; or, for a walk that met no cycle, another one
// that meets the recursion limit where it did (as many entries), or nowhere
// (its own entries and the walk's stay below the limit).  A walk that met
// nothing that depends on the guard's entries answers for any such guard;
// one that met a limit only where none of the entries it does not share
// can be met below the value.
template <ValueSource Source>
bool guard_allows(const MemoEntry& e, const Source& src, WalkState& st) {
    if (e.guard_context == st.guard_context()) return true;
    if (e.met_loop) return false;
    const std::size_t size = st.recursion_guard.size();
    if (e.met_guard_limit ? size != e.guard_size
                          : size > e.guard_size && size + e.guard_reach >= kMaxRecursionEntries)
        return false;
    if (!e.declined) return true;
    if constexpr (Source::is_json)
        return true;  // a parsed document is a tree
    else
        return st.memo.acyclic.holds(src.obj, st.user_code);
}

// Whether entry `e` stands in for walking its definition here.
template <ValueSource Source>
bool usable(const MemoEntry* e, const Source& src, WalkState& st) {
    if (!e || e->user_code != st.user_code) return false;
    if (e->exact_depth) {
        // It met the nesting limit, so it stands for walks from its own
        // depth only (and is kept under that depth).
        if (st.depth != e->depth) return false;
    } else if (st.depth > e->depth && st.depth + e->reach + 1 > kMaxWalkDepth) {
        // Starting here, the walk would meet the nesting limit somewhere:
        // it starts deeper than the remembered one, which met none, and its
        // levels (its reach, and one more for the type tests made in place
        // below it) go past it.
        return false;
    }
    return guard_allows(*e, src, st);
}

// The memo entry under `key` that may stand in for walking what it names
// at the source's value here, or nullptr.
template <ValueSource Source>
const MemoEntry* usable_entry(std::uint64_t key, const Source& src, WalkState& st) {
    for (const MemoEntry* candidate : st.memo.find(key, src.identity(), st.depth, st.recursion_guard.size()))
        if (usable(candidate, src, st)) return candidate;
    return nullptr;
}

// The memo entry that may stand in for walking what `key` names (a
// definition, or a node at a shared container) at the source's value
// here, or nullptr (memo.h says when one may).  In a recording context
// only a member verdict may, while profiling also a profiled failure,
// failing fast also a failure made failing fast, and collecting also a
// failure collected at this very path (its failures are in the report);
// `VerdictOnly` takes any verdict.
template <ValueSource Source>
const MemoEntry* recall(std::uint64_t key, const Source& src, const WalkContext& ctx) {
    WalkState& st = *ctx.state;
    const MemoEntry* e = usable_entry(key, src, st);
    if (e && (e->verdict || !ctx.recording())) return e;
    if (ctx.profile) return e && e->profiled ? e : nullptr;
    if (ctx.mode == WalkMode::FailFast) return usable_entry(key | kFailFastKey, src, st);
    if (e && e->collected_here && e->profiled && e->collected_place == st.place && ctx.path->holds(e->collected))
        return e;
    return nullptr;
}

// A remembered failure's path under the current path: the segments it
// had below the `base` segments it was recorded under, after the current
// ones.
Path rerooted(const Path& path, std::size_t base, PathStack& current) {
    Path out = current.snapshot();
    const PathNodes nodes = path_nodes(path);
    for (std::size_t i = base; i < nodes.size(); ++i) out = path_append(std::move(out), nodes[i]->segment);
    return out;
}

// Units of poll work (util/poll.h) of making a memo entry or an arrival,
// and of moving one of them when its table grows.
constexpr std::uint64_t kMemoEntryUnits = 256;
constexpr std::uint64_t kArrivalUnits = 64;
constexpr std::uint64_t kRehashUnits = 32;

// Walks what `key` names (a definition, or a node at a shared container)
// at the source's value through the memo (memo.h): a remembered walk that
// may stand in answers; otherwise `body` walks it, noting what an entry
// must know, and the entry is stored when `remember` (and the walk was not
// stopped).  The guard as it stands when this is called is the entry's
// starting guard; `body` may push its own entry on top.
template <ValueSource Source, class Body>
bool remembered_walk(std::uint64_t key, const Source& src, WalkContext& ctx, bool remember, Body body) {
    WalkState& st = *ctx.state;
    const std::uint64_t identity = src.identity();
    const std::size_t base = ctx.path->size();
    if (const MemoEntry* known = recall(key, src, ctx)) {
        // An enclosing walk being remembered learns what this one met and
        // how deep it went, as if it had been walked here.
        if (known->declined) st.decline();
        if (known->exact_depth) ++st.depth_hits;
        if (known->met_loop) ++st.loop_hits;
        if (known->met_guard_limit) ++st.guard_limit_hits;
        st.reached(st.depth + known->reach);
        st.reached_guard(st.recursion_guard.size() + known->guard_reach);
        if (!known->verdict && ctx.profile) {
            ctx.profile->merge(known->profile.shifted(base));
        } else if (!known->verdict && ctx.mode == WalkMode::FailFast && ctx.building_records()) {
            // Failing fast: the failures its walk recorded, here.
            for (const Violation& v : *known->fail_fast) {
                Violation copy = v;
                copy.path = rerooted(v.path, known->base, *ctx.path);
                ctx.violations->push_back(std::move(copy));
            }
        } else if (!known->verdict && ctx.building_records()) {
            // Collecting, at the path its failures were recorded at: they
            // are in the report, and left out here as repeats.
            st.repeated.merge(known->profile.shifted(base));
        }
        return known->verdict;
    }

    // The entry to be made is charged to the poll before the walk, with
    // the table's growth when it is full.
    if (remember && !st.tick(kMemoEntryUnits + (st.memo.full() ? st.memo.size() * kRehashUnits : 0)))
        return false;

    // Walk it, noting what a memo entry must know of it: from here on any
    // user code, or a change seen, leaves it unremembered.
    const std::uint64_t user_code = st.user_code;
    const std::uint64_t mutations = st.mutations;
    const std::uint64_t declines = st.declines;
    const std::uint64_t depth_hits = st.depth_hits;
    const std::uint64_t loop_hits = st.loop_hits;
    const std::uint64_t guard_limit_hits = st.guard_limit_hits;
    const WalkState::DepthMark mark = st.track_depth();
    const std::size_t guard_size = st.recursion_guard.size();
    const std::size_t guard_mark = st.track_guard();
    const std::uint64_t guard_context = st.guard_context();
    FailureProfile mine;
    FailureProfile* outer_profile = ctx.profile;
    if (outer_profile) ctx.profile = &mine;
    const std::size_t recorded_before = ctx.recorded();
    std::optional<RepeatScope> repeats;
    if (ctx.building_records()) repeats.emplace(st);
    const bool member = body();
    const std::uint64_t reach = st.reach(mark);
    const std::size_t guard_reach = st.guard_reach(guard_mark, guard_size);
    ctx.profile = outer_profile;
    if (outer_profile) outer_profile->merge(mine);

    if (!remember || st.stop || st.user_code != user_code || st.mutations != mutations) return member;
    MemoEntry entry;
    if constexpr (!Source::is_json) entry.keep = py::Ref::borrow(src.obj);
    entry.user_code = user_code;
    entry.depth = st.depth;
    entry.guard_size = guard_size;
    entry.guard_context = guard_context;
    entry.declined = st.declines != declines;
    entry.met_loop = st.loop_hits != loop_hits;
    entry.met_guard_limit = st.guard_limit_hits != guard_limit_hits;
    entry.reach = reach;
    entry.guard_reach = guard_reach;
    entry.exact_depth = st.depth_hits != depth_hits;
    entry.verdict = member;
    entry.profiled = false;
    if (!member && outer_profile) {
        entry.profiled = true;
        entry.profile = mine.shifted(-base);
    } else if (!member && ctx.mode == WalkMode::CollectAll && ctx.recording()) {
        // The failures just recorded are those a profiling walk would count.
        entry.profiled = true;
        for (std::size_t i = recorded_before; i < ctx.violations->size(); ++i) {
            const Violation& v = (*ctx.violations)[i];
            entry.profile.add(path_length(v.path) - base, is_hard_code(v.code));
        }
        entry.profile.merge(repeats->gathered().shifted(-base));
        entry.collected = ctx.path->snapshot();
        entry.collected_place = st.place;
        entry.collected_here = true;
    } else if (!member && ctx.mode == WalkMode::FailFast) {
        entry.fail_fast = std::make_shared<const std::vector<Violation>>(
            ctx.violations->begin() + static_cast<std::ptrdiff_t>(recorded_before), ctx.violations->end());
        entry.base = base;
        st.memo.store(key | kFailFastKey, identity, std::move(entry));
        return member;
    }
    st.memo.store(key, identity, std::move(entry));
    return member;
}

template <ValueSource Source>
bool check_back_edge(const ir::Node& node, const Source& src, WalkContext& ctx) {
    WalkState& st = *ctx.state;
    const std::uint64_t identity = src.identity();
    const std::uint64_t definition = node.definition();
    for (const GuardEntry& entry : st.recursion_guard) {
        if (entry.identity == identity && entry.definition == definition) {
            st.decline();
            ++st.loop_hits;
            push_violation("recursion_loop", "a finite (non-cyclic) value", src, ctx);
            return false;
        }
    }
    if (st.recursion_guard.size() >= kMaxRecursionEntries) {
        st.decline();
        ++st.guard_limit_hits;
        if (ctx.recording())
            push_violation("recursion_limit",
                           "at most " + std::to_string(kMaxRecursionEntries) + " levels of recursion", src, ctx);
        return false;
    }
    if (definition >= st.definitions.size()) {
        // A back edge past the definitions names nothing (only a tree handed
        // over without its schema could hold one).
        st.decline();
        report_type_mismatch(node, src, ctx);
        return false;
    }
    ++st.edges;
    if (!st.memo_on) {
        // Nothing is remembered yet: a plain walk (the guard is named only
        // once the memo starts).
        st.recursion_guard.push_back(GuardEntry{identity, definition, 0});
        const bool member = walk(st.definitions[definition], src, ctx);
        st.recursion_guard.pop_back();
        return member;
    }
    st.reached_guard(st.recursion_guard.size());
    return remembered_walk(definition, src, ctx, st.revisits != 0, [&] {
        st.push_named_guard(identity, definition);
        const bool member = walk(st.definitions[definition], src, ctx);
        st.recursion_guard.pop_back();
        return member;
    });
}

// At most this many nodes are looked at to tell a leaf container node.
constexpr int kLeafNodeBudget = 64;

// Whether a container node's check walks nothing but scalar tests and
// plain literals below it (`runs_no_user_code`): it reaches no container,
// so walking it at each of its parents costs the container's size per
// parent, and the walks of those parents are what is remembered.  False
// past the budget.
bool leaf_container_node(const ir::Node& node, std::span<const py::Ref> pool) {
    int budget = kLeafNodeBudget;
    switch (node.kind) {
        case ir::NodeKind::Sequence:
            for (const ir::Node& item : ir::as_span(node.prefix()))
                if (!runs_no_user_code(item, pool, budget)) return false;
            return !node.tail() || runs_no_user_code(*node.tail(), pool, budget);
        case ir::NodeKind::Set:
            return node.element() && runs_no_user_code(*node.element(), pool, budget);
        case ir::NodeKind::Mapping:
            for (const ir::RecordEntry& entry : ir::as_span(node.entries))
                if (!runs_no_user_code(entry.value, pool, budget)) return false;
            for (const ir::Clause& clause : ir::as_span(node.clauses))
                if (!runs_no_user_code(clause.key, pool, budget) || !runs_no_user_code(clause.value, pool, budget))
                    return false;
            return true;
        default:
            return false;
    }
}

// Whether a container node's check at the source's value may be one to
// remember: the value is a list, tuple or dict (or an instance of a
// subclass of one, read through its storage: builtins.h) or an exact set
// or frozenset, the walk did not start at it, and something besides the
// one parent it was read from and the walk holds it.  A tree's item holds
// exactly those two references, so a tree pays this test only (on PyPy
// every object is reported as held from the interpreter, so every
// container goes on to `remembered_or_walked`).
template <ValueSource Source>
[[gnu::always_inline]] inline bool may_be_shared(const ir::Node& node, const Source& src) {
    if constexpr (Source::is_json) {
        return false;  // a parsed document is a tree
    } else {
        PyObject* value = src.obj;
        if (Py_REFCNT(value) <= kTreeItemRefs || src.parent == 0) return false;
        switch (node.kind) {
            case ir::NodeKind::Sequence: return PyList_Check(value) || PyTuple_Check(value);
            case ir::NodeKind::Set: return PySet_CheckExact(value) || PyFrozenSet_CheckExact(value);
            case ir::NodeKind::Mapping: return PyDict_Check(value);
            default: return false;
        }
    }
}

// A container node's check at a container that may be shared (out of
// line: the walk's frame stays small).  References from outside the value
// (an index, a cache) tell nothing: the container is shared when the walk
// reaches it at a second place in the value (`Arrivals`), and its walks
// are remembered from then on, so each (node, value) pair is walked once
// to remember it and answered from the memo after, while no user code
// runs.  The several checks that meet one container at one place (the
// members of a union, a mapping's two passes) do not make it shared.
//
// Only walks that may be repeated at a cost are watched.  A node that
// reaches no container below is not (walking it at each of its parents
// costs the container's size per parent, and the walks of those parents
// are what is remembered); nor is a container whose walk met no other
// container that may be shared: below it the value is a tree, walked once
// per walk of the container's parents.  So the place of a container is
// noted only after a walk of it met another such container, and a tree
// held by an index costs a test per container, with no table.
template <ValueSource Source>
[[gnu::noinline]] bool remembered_or_walked(const ir::Node& node, const Source& src, WalkContext& ctx) {
    WalkState& st = *ctx.state;
    auto check = [&] {
        switch (node.kind) {
            case ir::NodeKind::Sequence: return check_sequence(node, src, ctx);
            case ir::NodeKind::Set: return check_set(node, src, ctx);
            default: return check_mapping(node, src, ctx);
        }
    };
    if constexpr (Source::is_json) {
        return check();
    } else {
        if (leaf_container_node(node, st.pool)) return check();
        ++st.watched;
        switch (st.memo.arrivals.reach(src.identity(), src.parent, src.slot)) {
            case Arrivals::Seen::Shared:
                st.start_memo();
                return remembered_walk(node_memo_key(node), src, ctx, true, check);
            case Arrivals::Seen::SamePlace:
                return check();
            case Arrivals::Seen::New:
                break;
        }
        const std::uint64_t watched = st.watched;
        const bool member = check();
        if (st.watched != watched && !st.stop) {
            if (!st.tick(kArrivalUnits + (st.memo.arrivals.full() ? st.memo.arrivals.size() * kRehashUnits : 0)))
                return false;
            st.memo.arrivals.note(src.identity(), src.parent, src.slot);
        }
        return member;
    }
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
            if (may_be_shared(node, src)) [[unlikely]]
                return remembered_or_walked(node, src, ctx);
            return check_sequence(node, src, ctx);
        case ir::NodeKind::Set:
            if (may_be_shared(node, src)) [[unlikely]]
                return remembered_or_walked(node, src, ctx);
            return check_set(node, src, ctx);
        case ir::NodeKind::Mapping:
            if (may_be_shared(node, src)) [[unlikely]]
                return remembered_or_walked(node, src, ctx);
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
            ctx.state->decline();
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
    if (st.depth + 1 > st.watch) [[unlikely]] {
        if (st.depth + 1 > kMaxWalkDepth) {
            ++st.depth_hits;
            st.decline();
            if (ctx.recording())
                push_violation("recursion_limit", "at most " + std::to_string(kMaxWalkDepth) + " levels of nesting",
                               src, ctx);
            return false;
        }
        st.deepest = st.watch = st.depth + 1;  // a tracked walk goes deeper
    }
    if (util::current_frame() < st.stack_floor) [[unlikely]] {
        ++st.depth_hits;
        ++st.stack_hits;
        st.decline();
        if (ctx.recording()) push_violation("recursion_limit", kNativeStackText, src, ctx);
        return false;
    }
    if (!st.count_level()) [[unlikely]]
        return false;
    ++st.depth;
    const bool member = dispatch(node, src, ctx);
    --st.depth;
    return member;
}

#define TS_INSTANTIATE_WALK(S) template bool walk<S>(const ir::Node&, const S&, WalkContext&);
TS_FOR_EACH_SOURCE(TS_INSTANTIATE_WALK)
#undef TS_INSTANTIATE_WALK

}  // namespace tessaron::python::check
