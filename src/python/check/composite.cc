// Union, intersection and complement checks.
//
// What it computes: the plain set operations -- some member admits the
// value, every member does, the inner node does not -- and, for a failing
// union, a report that does not bury the failure that matters.  Members
// 0 to 63 of a union are weighed by what they would record; the report is
// the failures of the member that got deepest into the value (the greatest
// path length of its failures below the union's own), else those of the
// first member that hit a hard limit, else one "union_error" whose expected
// text lists what the members expect.  Members from 64 on are tried
// verdict-only, so a huge union weighs at most 64 members.
//
// Fast path: a union made only of literals answers an exact int or str (a
// JSON int or string) by one lookup in its precomputed sets, in every mode
// (a Python str by its cached hash, literal_sets.h).
// The lookup runs no user code, so a member is admitted with nothing
// recorded and without walking a member; only a non-member goes on to the
// per-member walk that builds its report.  The sets hold every exact-int
// constant that fits in 64 bits and every exact-str constant, so for such a
// value their answer is the members' answer; a value they cannot answer
// (another type, a bigger int, a str without UTF-8 form) walks the members.
// The lookup is skipped where the members themselves would be past the
// nesting limit, so it never admits what the walk would refuse.
//
// A complement admits what its inner node refuses on the merits; a refusal
// that met a limit, or a value changing under the walk, fails the
// complement instead, and so does a match of a value that changed earlier
// in the call (see `check_complement`).
//
// Invariants: only the chosen member's failures are recorded; the path is
// shared with the members and restored by them; in `FailFast` a failing
// union appends exactly one failure.  Budget: one walk per member, plus one
// more of the chosen member when recording (failing fast in `FailFast`,
// which reports the first failure a collecting walk would); the member descriptions hold at
// most 64 texts and follow back edges at most four hops deep.
#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ir/construct.h"
#include "python/check/builtins.h"
#include "python/check/report.h"
#include "python/check/sources.h"
#include "python/check/walk.h"

namespace tessaron::python::check {

namespace {

constexpr std::size_t kReportedMembers = 64;
constexpr std::size_t kMaxDescriptions = 64;
constexpr unsigned kMaxDescriptionHops = 4;

struct Descriptions {
    std::vector<std::string> texts;
    bool truncated = false;

    void push(std::string text) {
        if (texts.size() < kMaxDescriptions)
            texts.push_back(std::move(text));
        else
            truncated = true;
    }
};

std::string class_name_or_kind(std::uint64_t index, const ir::Node& node, WalkState& st) {
    if (PyObject* cls = st.pooled(index)) return class_name(cls, st);
    return std::string(ir::expected_kind_text(node));
}

void describe_union_members(const ir::Node& node, WalkState& st, Descriptions& out, unsigned hops) {
    switch (node.kind) {
        case ir::NodeKind::Literal:
            if (PyObject* constant = st.pooled(node.pool_index())) {
                out.push("the literal " + safe_text(constant, st));
                return;
            }
            break;
        case ir::NodeKind::Union:
            for (const ir::Node& member : ir::as_span(node.members())) describe_union_members(member, st, out, hops);
            return;
        case ir::NodeKind::Intersection:
            if (auto cls = ir::spelled_as_class(node)) {
                out.push(class_name_or_kind(*cls, node, st));
                return;
            }
            break;
        case ir::NodeKind::Complement:
            if (node.inner()) {
                out.push("not " + std::string(ir::expected_kind_text(*node.inner())));
                return;
            }
            break;
        case ir::NodeKind::Instance:
            out.push(class_name_or_kind(node.pool_index(), node, st));
            return;
        case ir::NodeKind::Refined:
            if (node.inner()) {
                describe_union_members(*node.inner(), st, out, hops);
                return;
            }
            break;
        case ir::NodeKind::BackEdge:
            if (hops < kMaxDescriptionHops && node.definition() < st.definitions.size()) {
                describe_union_members(st.definitions[node.definition()], st, out, hops + 1);
                return;
            }
            break;
        default:
            break;
    }
    out.push(std::string(ir::expected_kind_text(node)));
}

// Appends a chosen private list: all of it, or its first failure in
// `FailFast`.
void append_report(std::vector<Violation>& list, WalkContext& ctx) {
    if (list.empty()) return;
    if (ctx.mode == WalkMode::FailFast) {
        ctx.violations->push_back(std::move(list.front()));
        return;
    }
    for (Violation& v : list) ctx.violations->push_back(std::move(v));
}

// A failing union in the recording modes.  Each of the first 64 members is
// walked once, profiling: that tells whether it admits the value and, if
// not, how deep its failures reach and whether one is hard, which is all
// the choice of the report needs.  Only the chosen member is then walked
// again to record its failures (a profiling context merges its profile
// instead).  Walking every member with records, as the choice is defined,
// would record the members of every nested union too, and through a
// recursive schema that is exponential in the value's depth.
//
// The two walks of the chosen member agree unless code we do not control
// changed the value in between; if the second finds the value a member
// after all, or collecting records none of the hard failures the first
// counted, the union reports "mutated_during_validation".
template <ValueSource Source>
bool union_recording(const ir::Node& node, const Source& src, WalkContext& ctx) {
    WalkState& st = *ctx.state;
    const auto members = ir::as_span(node.members());
    const std::size_t base = ctx.path->size();
    const std::uint64_t user_code = st.user_code;
    bool have_best = false, have_hard = false;
    std::size_t best = 0, hard = 0, best_depth = 0;
    FailureProfile best_profile, hard_profile;
    {
        RevisitScope scope(st);
        for (std::size_t i = 0; i < members.size(); ++i) {
            // The next member, or the report, walks the value again.
            if (i != 0) scope.again();
            if (st.stop) return false;
            if (i >= kReportedMembers) {
                std::vector<Violation> none;
                WalkContext sub = ctx.scratch(none, WalkMode::VerdictOnly);
                if (walk(members[i], src, sub)) return true;
                continue;
            }
            FailureProfile mine;
            WalkContext sub = ctx.profiling(mine);
            if (walk(members[i], src, sub)) return true;
            const std::size_t depth = mine.count != 0 && mine.longest > base ? mine.longest - base : 0;
            if (!have_hard && mine.hard) {
                hard = i;
                hard_profile = mine;
                have_hard = true;
            }
            if (!have_best || best_depth < depth) {
                best = i;
                best_depth = depth;
                best_profile = mine;
                have_best = true;
            }
        }
        scope.again();
    }
    if (st.stop) return false;
    std::optional<std::size_t> chosen;
    const FailureProfile* chosen_profile = nullptr;
    if (have_hard && (!have_best || best_depth == 0)) {
        chosen = hard;
        chosen_profile = &hard_profile;
    } else if (have_best && best_depth > 0) {
        chosen = best;
        chosen_profile = &best_profile;
    }
    if (chosen) {
        if (ctx.profile) {
            ctx.profile->merge(*chosen_profile);
            return false;
        }
        // In `FailFast` the chosen member is walked failing fast too: its
        // first failure is the first it records when collecting, and
        // collecting would cost time in the number of its failing paths.
        std::vector<Violation> mine;
        WalkContext sub = ctx.scratch(mine, ctx.mode);
        const RepeatScope repeats(st);
        if (walk(members[*chosen], src, sub)) {
            report_mutated(src, ctx);
            return false;
        }
        if (st.stop) return false;
        // Collecting, the walk records every failure its profile counted,
        // the hard ones among them (or finds them in the report already),
        // unless code we do not control changed the value in between (a
        // change the profiling walk saw, say, and that this one no longer
        // can): the change is reported too.
        const bool lost_hard = ctx.mode == WalkMode::CollectAll && chosen_profile->hard &&
                               st.user_code != user_code && !repeats.gathered().hard &&
                               std::none_of(mine.begin(), mine.end(),
                                            [](const Violation& v) { return is_hard_code(v.code); });
        append_report(mine, ctx);
        if (lost_hard) report_mutated(src, ctx);
        return false;
    }
    if (profiled_failure("union_error", ctx)) return false;
    Descriptions descriptions;
    for (const ir::Node& member : members) describe_union_members(member, st, descriptions, 0);
    std::string expected = "one of: ";
    for (std::size_t i = 0; i < descriptions.texts.size(); ++i) {
        if (i != 0) expected += ", ";
        expected += descriptions.texts[i];
    }
    if (descriptions.truncated) expected += ", ...";
    push_violation("union_error", std::move(expected), src, ctx);
    return false;
}

// The literal-set answer for an exact int or str: 1 member, 0 not, -1 no
// answer (walk the members).
int literal_set_answer(const LiteralSets& sets, const PySource& src, WalkState& st) {
    PyObject* value = src.obj;
    if (Py_IS_TYPE(value, &PyLong_Type)) {
        int overflow = 0;
        const long long n = PyLong_AsLongLongAndOverflow(value, &overflow);
        if (overflow != 0) return -1;
        if (n == -1 && PyErr_Occurred()) {
            absorb_error(st);
            return st.stop ? 0 : -1;
        }
        return sets.ints.contains(n) ? 1 : 0;
    }
    if (Py_IS_TYPE(value, &PyUnicode_Type)) {
#ifndef PYPY_VERSION
        // By the str's cached hash, without encoding it (literal_sets.h).
        return sets.str_objects.contains(value) ? 1 : 0;
#endif
        Py_ssize_t len = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(value, &len);
        if (!utf8) {
            absorb_error(st);
            return st.stop ? 0 : -1;
        }
        return sets.strs.contains(std::string_view(utf8, static_cast<std::size_t>(len))) ? 1 : 0;
    }
    return -1;
}

// The same for a JSON scalar, without making a Python object: a JSON int
// converts to an exact int of the same value and a JSON string (always
// valid UTF-8) to an exact str of the same text, so the sets answer them as
// they answer those objects.  Big ints, floats, true, false and null walk
// the members (the sets hold no such constants).
int literal_set_answer(const LiteralSets& sets, const JsonSource& src, WalkState& /*st*/) {
    switch (src.value->kind) {
        case json::Kind::Int: return sets.ints.contains(src.value->as_int()) ? 1 : 0;
        case json::Kind::String: return sets.strs.contains(src.doc->text(*src.value)) ? 1 : 0;
        default: return -1;
    }
}

// The literal-set answer of a union node, when it has one: 1, 0, or -1 (no
// table entry, a value the sets cannot answer, or a union at the nesting
// limit, whose members the walk would refuse).
template <ValueSource Source>
int literal_union_answer(const ir::Node& node, const Source& src, WalkState& st) {
    const auto& table = st.tables->literal_sets;
    if (table.empty() || st.depth >= kMaxWalkDepth) return -1;
    auto it = table.find(Precompute::key_of(node.members()));
    if (it == table.end()) return -1;
    return literal_set_answer(it->second, src, st);
}

}  // namespace

template <ValueSource Source>
bool check_union(const ir::Node& node, const Source& src, WalkContext& ctx) {
    // Literal sets first (see the file comment): a member is answered here
    // in every mode; a non-member is answered here only verdict-only.
    const int known = literal_union_answer(node, src, *ctx.state);
    if (known == 1) return true;
    if (ctx.state->stop) return false;
    if (ctx.recording()) return union_recording(node, src, ctx);
    if (known == 0) return false;
    const auto members = ir::as_span(node.members());
    WalkState& st = *ctx.state;
    // Scalar members are type tests, asked in place while a member's walk
    // would pass the nesting test.
    const bool in_place = st.depth < kMaxWalkDepth;
    RevisitScope scope(st, members.size() > 1);
    for (std::size_t i = 0; i < members.size(); ++i) {
        const ir::Node& member = members[i];
        if (in_place && is_scalar_kind(member.kind)) {
            if (scalar_member(member.kind, src)) return true;
            continue;
        }
        // A failing member leaves the value to the next one.
        if (i != 0) scope.again();
        if (walk(member, src, ctx)) return true;
    }
    return false;
}

template <ValueSource Source>
bool check_intersection(const ir::Node& node, const Source& src, WalkContext& ctx) {
    const auto members = ir::as_span(node.members());
    WalkState& st = *ctx.state;
    if (ctx.mode != WalkMode::CollectAll) {
        // Every member is walked on the same value.
        RevisitScope scope(st);
        for (std::size_t i = 0; i < members.size(); ++i) {
            if (i != 0) scope.again();
            if (!walk(members[i], src, ctx)) return false;
        }
        return true;
    }
    const std::size_t base = ctx.path->size();
    bool verdict = true;
    RevisitScope scope(st);
    for (std::size_t m = 0; m < members.size(); ++m) {
        if (m != 0) scope.again();
        bool own_level = false;
        if (ctx.profile) {
            FailureProfile outer = *ctx.profile;
            *ctx.profile = FailureProfile{};
            if (!walk(members[m], src, ctx)) verdict = false;
            own_level = ctx.profile->count != 0 && ctx.profile->shortest == base;
            outer.merge(*ctx.profile);
            *ctx.profile = outer;
        } else {
            // The failures left out as repeats count as recorded.
            const std::size_t before = ctx.violations->size();
            const RepeatScope repeats(st);
            if (!walk(members[m], src, ctx)) verdict = false;
            own_level = repeats.gathered().count != 0 && repeats.gathered().shortest == base;
            for (std::size_t i = before; i < ctx.violations->size() && !own_level; ++i)
                own_level = path_length((*ctx.violations)[i].path) == base;
        }
        if (verdict) continue;
        if (st.stop) return false;
        // A failure of the intersection's own value ends it: later members
        // would only repeat it in other words.
        if (own_level) return false;
    }
    return verdict;
}

namespace {

// The limit counters of a walk state, to tell whether a walk met a limit.
struct LimitCounts {
    std::uint64_t depth, stack, guard, mutations;

    explicit LimitCounts(const WalkState& st)
        : depth(st.depth_hits), stack(st.stack_hits), guard(st.guard_limit_hits), mutations(st.mutations) {}
};

// Whether a Python value can change while it is walked: anything but the
// exact immutable scalars.
bool may_change(PyObject* value) {
    PyTypeObject* t = Py_TYPE(value);
    return !(value == Py_None || t == &PyBool_Type || t == &PyLong_Type || t == &PyFloat_Type ||
             t == &PyUnicode_Type || t == &PyBytes_Type);
}

// Clears the re-walk flag when the re-walk ends.
struct RewalkFlag {
    WalkState& st;
    explicit RewalkFlag(WalkState& s) : st(s) { st.complement_rewalk = true; }
    ~RewalkFlag() { st.complement_rewalk = false; }
    RewalkFlag(const RewalkFlag&) = delete;
    RewalkFlag& operator=(const RewalkFlag&) = delete;
};

// After the inner walk of a complement refused the value: whether it met a
// limit, which makes the refusal no verdict.  The failure the complement
// then reports is pushed; false when the refusal stands.
template <ValueSource Source>
bool limit_met(const LimitCounts& before, const Source& src, WalkContext& ctx) {
    const WalkState& st = *ctx.state;
    if (st.mutations != before.mutations) {
        report_mutated(src, ctx);
    } else if (st.guard_limit_hits != before.guard) {
        push_violation("recursion_limit", "at most " + std::to_string(kMaxRecursionEntries) + " levels of recursion",
                       src, ctx);
    } else if (st.stack_hits != before.stack) {
        push_violation("recursion_limit", kNativeStackText, src, ctx);
    } else if (st.depth_hits != before.depth) {
        push_violation("recursion_limit", "at most " + std::to_string(kMaxWalkDepth) + " levels of nesting", src,
                       ctx);
    } else {
        return false;
    }
    return true;
}

}  // namespace

// A complement admits what its inner node refuses -- but only a refusal on
// the merits.  A limit is not a verdict: when the inner walk met the
// nesting limit, the recursion limit or the native stack reserve anywhere
// (even in a member that did not decide), or found the value changing
// under it, the complement fails with "recursion_limit" or
// "mutated_during_validation" at its own path instead of admitting, in
// every mode.  A cycle ("recursion_loop") and a raising predicate are
// refusals on the merits and admit.  A match of a value that some check
// found changing earlier in the call (the verdict pass of a mapping
// around it, a union's profiling walk) is no verdict either: the
// complement reports the change where it would report the match.
//
// The inner walk is verdict-only, and a verdict-only walk reports no
// change.  A change comes from code we do not control (a predicate, a
// user `__eq__`, ...), which the walk counts as it runs it; so when such
// code ran and the value is not an immutable scalar, the inner node is
// walked once more, profiling (no texts), which reports every change it
// sees; a member verdict now means the value changed between the walks.
// The complements met during that second walk do not walk again, so
// complements nested k deep cost O(k^2) walks, not 2^k.  Budget: one
// verdict-only walk of the inner node, plus one profiling walk only after
// a refusal in which code we do not control ran.
template <ValueSource Source>
bool check_complement(const ir::Node& node, const Source& src, WalkContext& ctx) {
    if (!node.inner()) return true;
    WalkState& st = *ctx.state;
    const LimitCounts before(st);
    const std::uint64_t user_code = st.user_code;
    std::vector<Violation> none;
    WalkContext sub = ctx.scratch(none, WalkMode::VerdictOnly);
    if (walk(*node.inner(), src, sub)) {
        // A value an earlier walk saw changing (a mapping's verdict pass, a
        // union's profiling walk): what it matches now is what the change
        // left, and the change is the failure.
        if constexpr (!Source::is_json) {
            if (!st.changed.empty() && st.was_changed(src.obj)) {
                report_mutated(src, ctx);
                return false;
            }
        }
        push_violation("unexpected_match", "not " + std::string(ir::expected_kind_text(*node.inner())), src, ctx);
        return false;
    }
    // A stored fatal exception: the entry point raises it, whatever this
    // answers.
    if (st.stop) return true;
    if constexpr (!Source::is_json) {
        if (st.user_code != user_code && !st.complement_rewalk && st.mutations == before.mutations &&
            may_change(src.obj)) {
            RewalkFlag flag(st);
            FailureProfile profile;
            WalkContext again = ctx.profiling(profile);
            if (walk(*node.inner(), src, again)) {
                if (st.stop) return true;
                report_mutated(src, ctx);
                return false;
            }
            if (st.stop) return true;
        }
    }
    return !limit_met(before, src, ctx);
}

#define TS_INSTANTIATE_COMPOSITE(S)                                                       \
    template bool check_union<S>(const ir::Node&, const S&, WalkContext&);              \
    template bool check_intersection<S>(const ir::Node&, const S&, WalkContext&);       \
    template bool check_complement<S>(const ir::Node&, const S&, WalkContext&);
TS_FOR_EACH_SOURCE(TS_INSTANTIATE_COMPOSITE)
#undef TS_INSTANTIATE_COMPOSITE

}  // namespace tessaron::python::check
