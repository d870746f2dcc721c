// Sequence and mapping checks of a parsed JSON value.
//
// What it computes: a JSON array is a member of a list node (never of a
// tuple node) when its item count fits the prefix and each item matches its
// prefix node or the tail; a JSON object is a member of a mapping node when
// every required declared key is present, each declared key's value matches
// its entry, and every other member is admitted by the clauses.  The tree
// has already merged repeated keys (the last value counts), so each member
// is a distinct key.
//
// An object is checked in the order the check of the same Python dict (the
// document's `json.loads`) would take, so the code of the user's that the
// walk runs (predicates, instance checks) runs in the same sequence, and
// stops at the same place, for the document as for the dict.  For a record
// whose other keys are refused or admitted whatever they hold (no clause,
// or one clause of str or anything to anything), the dict check looks the
// declared keys up in declared order and stops at the first missing
// required one or failing value: here the members are first placed by
// their entries, then the entries are walked in that order, then the
// other members are counted.  Otherwise the dict check goes through the
// items in the dict's order, which is the document's (a repeated key keeps
// its first position): here the members are visited once in that order, a
// declared member walked against its entry and an undeclared one against
// the clauses: none refuses it; a single clause whose key node is str or
// anything walks just the value (every JSON key is a string); otherwise
// some clause must admit the key (as a JSON string) and the value.
//
// JSON documents are walked verdict-only (`is_valid_json`), but the checks
// also record failures in the recording modes, with the same codes and
// paths as for Python values, so the walk never depends on that.
//
// Budget: one walk per item or member, one key lookup per member, and for
// a record in declared order a pass over its entries; the array fast path
// tests a homogeneous array of a scalar kind without recursion.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/container/small_vector.hpp>

#include "python/check/builtins.h"
#include "python/check/declared_keys.h"
#include "python/check/report.h"
#include "python/check/sources.h"
#include "python/check/walk.h"

namespace tessaron::python::check {

namespace {

bool json_scalar_matches(ir::NodeKind kind, const json::Value& v) {
    switch (kind) {
        case ir::NodeKind::Anything: return true;
        case ir::NodeKind::Nothing: return false;
        case ir::NodeKind::None: return v.kind == json::Kind::Null;
        case ir::NodeKind::Bool: return v.kind == json::Kind::False || v.kind == json::Kind::True;
        case ir::NodeKind::Int:
            return v.kind == json::Kind::False || v.kind == json::Kind::True || v.kind == json::Kind::Int ||
                   v.kind == json::Kind::BigInt;
        case ir::NodeKind::Float: return v.kind == json::Kind::Float;
        case ir::NodeKind::Str: return v.kind == json::Kind::String;
        default: return false;
    }
}

// Walks `node` against `child`, under `segment` in the recording modes.
bool walk_at(const ir::Node& node, const JsonSource& child, PathSegment segment, WalkContext& ctx) {
    if (!ctx.recording()) return walk(node, child, ctx);
    ctx.path->push(std::move(segment));
    const bool member = walk(node, child, ctx);
    ctx.path->pop();
    return member;
}

// Whether the clauses admit an undeclared member.
bool extra_member_admitted(std::span<const ir::Clause> clauses, const JsonSource& key, const JsonSource& value,
                           WalkContext& ctx) {
    if (clauses.empty()) return false;
    std::vector<Violation> none;
    WalkContext sub = ctx.scratch(none, WalkMode::VerdictOnly);
    if (clauses.size() == 1 &&
        (clauses[0].key.kind == ir::NodeKind::Str || clauses[0].key.kind == ir::NodeKind::Anything)) {
        return walk(clauses[0].value, value, sub);
    }
    // The next clause walks the member again.
    RevisitScope scope(*ctx.state, clauses.size() > 1);
    for (std::size_t i = 0; i < clauses.size(); ++i) {
        if (i != 0) scope.again();
        if (walk(clauses[i].key, key, sub) && walk(clauses[i].value, value, sub)) return true;
        if (ctx.state->stop) return false;
    }
    return false;
}

// Records why an undeclared member was refused: no clause at all, or the
// failures of the first clause.
void explain_extra_member(std::span<const ir::Clause> clauses, std::string_view key_text, const JsonSource& key,
                          const JsonSource& value, WalkContext& ctx) {
    if (clauses.empty() && profiled_failure("extra_forbidden", ctx, 1)) return;
    PathKey segment{ir::make_text(key_text)};
    if (clauses.empty()) {
        std::string shown = violation_value_text(key, *ctx.state);
        if (ctx.state->stop) return;
        ctx.violations->push_back(make_keyed_violation(*ctx.path, std::move(segment), "extra_forbidden",
                                                       "no unexpected key", std::move(shown)));
        return;
    }
    const std::size_t before = ctx.recorded();
    ctx.path->push(std::move(segment));
    walk(clauses.front().key, key, ctx);
    if (ctx.mode == WalkMode::CollectAll || ctx.recorded() == before)
        walk(clauses.front().value, value, ctx);
    ctx.path->pop();
}

// Whether the clauses refuse, or admit, every other key whatever it holds:
// then the check of a Python dict looks the declared keys up in declared
// order (mapping.cc), and so does the check of an object here.
bool clauses_ignore_values(std::span<const ir::Clause> clauses) {
    if (clauses.empty()) return true;
    if (clauses.size() != 1 || clauses[0].value.kind != ir::NodeKind::Anything) return false;
    return clauses[0].key.kind == ir::NodeKind::Anything || clauses[0].key.kind == ir::NodeKind::Str;
}

// The position of the member whose key is `name` among an object's
// members, or kAbsent.  Lengths are compared first: a key's text is read
// only where its length matches.
constexpr std::uint32_t kAbsent = ~std::uint32_t{0};

std::uint32_t member_named(const json::Document& doc, std::span<const json::Value> members, std::string_view name) {
    for (std::size_t m = 0; m < members.size(); m += 2)
        if (members[m].count == name.size() && doc.text(members[m]) == name) return static_cast<std::uint32_t>(m / 2);
    return kAbsent;
}

// A record checked in declared order: each entry's member (by key) walked
// in turn, the first missing required entry or failing value settling the
// verdict, then the members no entry declares, which the clauses refuse
// (none) or admit (str or anything to anything, and every JSON key is a
// str).  The recording modes report in the same order: the entries'
// failures and missing keys, then the undeclared members.  A record of a
// few entries finds each entry's member by a scan of the members when it
// comes to the entry, so one that fails early looks no further; a larger
// one places every member by its key first (one lookup each).
bool check_record_in_declared_order(const ir::Node& node, const JsonSource& src, const DeclaredKeys& keys,
                                    WalkContext& ctx) {
    WalkState& st = *ctx.state;
    const auto entries = ir::as_span(node.entries);
    const auto clauses = ir::as_span(node.clauses);
    const json::Document& doc = *src.doc;
    const auto members = doc.members(*src.value);
    const std::size_t count = members.size() / 2;
    const bool scan = entries.size() <= DeclaredKeys::kScannedEntries;
    boost::container::small_vector<std::uint32_t, DeclaredKeys::kScannedEntries> member_of;
    if (!scan) {
        member_of.assign(entries.size(), kAbsent);
        for (std::size_t m = 0; m < count; ++m)
            if (auto index = keys.find(doc.text(members[2 * m]))) member_of[*index] = static_cast<std::uint32_t>(m);
    }
    const bool recording = ctx.recording();
    bool verdict = true;
    std::size_t present = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ir::RecordEntry& entry = entries[i];
        const std::uint32_t m = scan ? member_named(doc, members, entry.key_view()) : member_of[i];
        if (m == kAbsent) {
            if (!entry.required) continue;
            if (!recording) return false;
            verdict = false;
            // A repeated declared name counts once, at its last entry.
            if (keys.find(entry.key_view()) != i) continue;
            if (!profiled_failure("missing_key", ctx, 1))
                ctx.violations->push_back(make_keyed_violation(*ctx.path, PathKey{entry.key}, "missing_key",
                                                               "required key " + std::string(entry.key_view()),
                                                               "missing"));
            if (ctx.mode == WalkMode::FailFast) return false;
            continue;
        }
        ++present;
        const JsonSource value = src.child(members[2 * std::size_t{m} + 1]);
        // Verdict-only, no path segment is made: copying the key's shared
        // text would write its reference count, a cache line that every
        // thread checking with this schema reads.
        if (recording ? walk_at(entry.value, value, PathKey{entry.key}, ctx) : walk(entry.value, value, ctx))
            continue;
        if (ctx.mode != WalkMode::CollectAll || st.stop) return false;
        verdict = false;
    }
    if (present == count || !clauses.empty()) return verdict;
    // No clause: every undeclared member is refused.
    if (!recording) return false;
    for (std::size_t m = 0; m < count && !st.stop; ++m) {
        const std::string_view key_text = doc.text(members[2 * m]);
        if (keys.find(key_text)) continue;
        explain_extra_member(clauses, key_text, src.child(members[2 * m]), src.child(members[2 * m + 1]), ctx);
        if (ctx.mode == WalkMode::FailFast) break;
    }
    return false;
}

}  // namespace

bool check_sequence(const ir::Node& node, const JsonSource& src, WalkContext& ctx) {
    const bool is_tuple = node.flavour() == ir::kFlavourTuple;
    const char* kind_name = is_tuple ? "tuple" : "list";
    if (is_tuple || src.value->kind != json::Kind::Array) {
        push_violation(is_tuple ? "tuple_type" : "list_type", kind_name, src, ctx);
        return false;
    }
    const auto prefix = ir::as_span(node.prefix());
    const ir::Node* tail = node.tail().get();
    const auto items = src.doc->items(*src.value);
    if (tail ? items.size() < prefix.size() : items.size() != prefix.size()) {
        report_type_mismatch_formatted("list_length", kind_name, prefix.size(), tail != nullptr, src, ctx);
        return false;
    }
    if (!ctx.recording() && prefix.empty() && tail && is_scalar_kind(tail->kind) &&
        ctx.state->depth <= kMaxWalkDepth - 1) {
        // The tree is ours and immutable: the scan ticks the walk's poll
        // after every stretch of items (a short one is paid for by its
        // walk level) and reads on.
        constexpr std::size_t kStretch = 16384;
        for (std::size_t start = 0; start < items.size(); start += kStretch) {
            if (start > 0 && !ctx.state->tick(kStretch * kScanItemUnits)) return false;
            const std::size_t end = items.size() - start > kStretch ? start + kStretch : items.size();
            for (std::size_t i = start; i < end; ++i)
                if (!json_scalar_matches(tail->kind, items[i])) return false;
        }
        return items.size() < 64 || ctx.state->tick((items.size() % kStretch) * kScanItemUnits);
    }
    bool verdict = true;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const ir::Node* element = i < prefix.size() ? &prefix[i] : tail;
        if (!element || !walk_at(*element, src.child(items[i]), PathIndex{i}, ctx)) {
            if (ctx.mode != WalkMode::CollectAll || ctx.state->stop) return false;
            verdict = false;
        }
    }
    return verdict;
}

bool check_mapping(const ir::Node& node, const JsonSource& src, WalkContext& ctx) {
    if (src.value->kind != json::Kind::Object) {
        push_violation("dict_type", "dict", src, ctx);
        return false;
    }
    WalkState& st = *ctx.state;
    const auto entries = ir::as_span(node.entries);
    const auto clauses = ir::as_span(node.clauses);
    const RecordKeys* table = record_table(node, st);
    const DeclaredKeys keys(entries, table);
    if (table && clauses_ignore_values(clauses)) return check_record_in_declared_order(node, src, keys, ctx);
    const auto members = src.doc->members(*src.value);
    const bool recording = ctx.recording();
    std::vector<bool> present;
    if (recording) present.assign(entries.size(), false);

    std::size_t left = keys.required_count();

    bool verdict = true;
    for (std::size_t m = 0; m < members.size(); m += 2) {
        const JsonSource key = src.child(members[m]);
        const JsonSource value = src.child(members[m + 1]);
        const std::string_view key_text = src.doc->text(members[m]);
        bool ok;
        if (auto index = keys.find(key_text)) {
            const ir::RecordEntry& entry = entries[*index];
            if (entry.required) --left;
            if (recording) present[*index] = true;
            // Verdict-only, no path segment is made: copying the key's
            // shared text would write its reference count, a cache line
            // that every thread checking with this schema reads.
            ok = recording ? walk_at(entry.value, value, PathKey{entry.key}, ctx) : walk(entry.value, value, ctx);
        } else {
            ok = extra_member_admitted(clauses, key, value, ctx);
            if (!ok && recording && !st.stop) explain_extra_member(clauses, key_text, key, value, ctx);
        }
        if (!ok) {
            if (ctx.mode != WalkMode::CollectAll || st.stop) return false;
            verdict = false;
        }
    }
    if (left == 0) return verdict;
    if (recording && !st.stop) {
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (!entries[i].required || present[i]) continue;
            // A repeated declared name counts once, at its last entry.
            if (keys.find(entries[i].key_view()) != i) continue;
            if (!profiled_failure("missing_key", ctx, 1))
                ctx.violations->push_back(make_keyed_violation(*ctx.path, PathKey{entries[i].key}, "missing_key",
                                                           "required key " + std::string(entries[i].key_view()),
                                                           "missing"));
            if (ctx.mode == WalkMode::FailFast) break;
        }
    }
    return false;
}

}  // namespace tessaron::python::check
