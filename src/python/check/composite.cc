// Union, intersection and complement checks.
//
// What it computes: the plain set operations -- some member admits the
// value, every member does, the inner node does not -- and, for a failing
// union, a report that does not bury the failure that matters.  Members
// 0 to 63 of a union are walked under private failure lists; the report is
// the list of the member that got deepest into the value (the greatest path
// length of its failures below the union's own), else the failures of the
// first member that hit a hard limit, else one "union_error" whose expected
// text lists what the members expect.  Members from 64 on are tried
// verdict-only, so a huge union pays for at most 64 private lists.
//
// Fast path: a union made only of literals answers an exact int or str (a
// JSON int or string) by one lookup in its precomputed sets, in every mode.
// The lookup runs no user code, so a member is admitted with nothing
// recorded and without walking a member; only a non-member goes on to the
// per-member walk that builds its report.  The sets hold every exact-int
// constant that fits in 64 bits and every exact-str constant, so for such a
// value their answer is the members' answer; a value they cannot answer
// (another type, a bigger int, a str without UTF-8 form) walks the members.
// The lookup is skipped where the members themselves would be past the
// nesting limit, so it never admits what the walk would refuse.
//
// Invariants: every private list is dropped unless chosen; the path is
// shared with the members and restored by them; in `FailFast` a failing
// union appends exactly one failure.  Budget: one walk per member; the
// member descriptions hold at most 64 texts and follow back edges at most
// four hops deep.
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "core/ir/construct.h"
#include "python/check/report.h"
#include "python/check/sources.h"
#include "python/check/walk.h"

namespace tessaron::python::check {

namespace {

constexpr std::size_t kReportedMembers = 64;
constexpr std::size_t kMaxDescriptions = 64;
constexpr unsigned kMaxDescriptionHops = 4;

bool is_hard_code(std::string_view code) {
    return code == "recursion_limit" || code == "recursion_loop" || code == "predicate_error" ||
           code == "mutated_during_validation";
}

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

template <ValueSource Source>
bool union_recording(const ir::Node& node, const Source& src, WalkContext& ctx) {
    WalkState& st = *ctx.state;
    const auto members = ir::as_span(node.members());
    const std::size_t base = ctx.path->size();
    std::vector<Violation> best, hard;
    bool have_best = false, have_hard = false;
    std::size_t best_depth = 0;
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (st.stop) return false;
        if (i >= kReportedMembers) {
            std::vector<Violation> none;
            PathStack fresh;
            WalkContext sub = ctx.scratch(none, WalkMode::VerdictOnly, &fresh);
            if (walk(members[i], src, sub)) return true;
            continue;
        }
        std::vector<Violation> mine;
        WalkContext sub = ctx.scratch(mine, WalkMode::CollectAll);
        if (walk(members[i], src, sub)) return true;
        std::size_t depth = 0;
        for (const Violation& v : mine) depth = std::max(depth, path_length(v.path) > base ? path_length(v.path) - base : 0);
        if (!have_hard && std::any_of(mine.begin(), mine.end(), [](const Violation& v) { return is_hard_code(v.code); })) {
            hard = mine;
            have_hard = true;
        }
        if (!have_best || best_depth < depth) {
            best = std::move(mine);
            best_depth = depth;
            have_best = true;
        }
    }
    if (st.stop) return false;
    if (have_hard && (!have_best || best_depth == 0)) {
        append_report(hard, ctx);
        return false;
    }
    if (have_best && best_depth > 0) {
        append_report(best, ctx);
        return false;
    }
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
    for (const ir::Node& member : ir::as_span(node.members()))
        if (walk(member, src, ctx)) return true;
    return false;
}

template <ValueSource Source>
bool check_intersection(const ir::Node& node, const Source& src, WalkContext& ctx) {
    const auto members = ir::as_span(node.members());
    if (ctx.mode != WalkMode::CollectAll) {
        for (const ir::Node& member : members)
            if (!walk(member, src, ctx)) return false;
        return true;
    }
    const std::size_t base = ctx.path->size();
    bool verdict = true;
    for (const ir::Node& member : members) {
        const std::size_t before = ctx.violations->size();
        if (!walk(member, src, ctx)) verdict = false;
        if (verdict) continue;
        if (ctx.state->stop) return false;
        // A failure of the intersection's own value ends it: later members
        // would only repeat it in other words.
        for (std::size_t i = before; i < ctx.violations->size(); ++i)
            if (path_length((*ctx.violations)[i].path) == base) return false;
    }
    return verdict;
}

template <ValueSource Source>
bool check_complement(const ir::Node& node, const Source& src, WalkContext& ctx) {
    if (!node.inner()) return true;
    std::vector<Violation> none;
    PathStack fresh;
    WalkContext sub = ctx.scratch(none, WalkMode::VerdictOnly, &fresh);
    if (!walk(*node.inner(), src, sub)) return true;
    if (ctx.recording()) push_violation("unexpected_match", "not " + std::string(ir::expected_kind_text(*node.inner())), src, ctx);
    return false;
}

#define TS_INSTANTIATE_COMPOSITE(S)                                                       \
    template bool check_union<S>(const ir::Node&, const S&, WalkContext&);              \
    template bool check_intersection<S>(const ir::Node&, const S&, WalkContext&);       \
    template bool check_complement<S>(const ir::Node&, const S&, WalkContext&);
TS_FOR_EACH_SOURCE(TS_INSTANTIATE_COMPOSITE)
#undef TS_INSTANTIATE_COMPOSITE

}  // namespace tessaron::python::check
