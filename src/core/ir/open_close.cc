// Open and close: the record rewrite.
//
// What it computes.  Every mapping node of the tree (in sequences, sets,
// unions, intersections, complements, refinements and entry values; not in
// the key or value schemas of clauses, and not through back edges) gets new
// clauses:
//   * open: the clauses without their rest clauses, followed by the rest
//     clause (complement of the union of the other keys, anything) unless
//     the other keys already cover every key; then clauses with equal values
//     are merged, their keys united.  A record without clauses gets the
//     single clause (anything, anything).
//   * close: the clauses without their rest clauses.
// A rest clause is a clause whose value is anything and whose key is the
// complement of the union of all the other keys of its list: exactly the
// clause that opening adds.
//
// Declared entries.  Opening drops no entry: an optional entry constrains
// its key even when its value is nothing (the key must then be absent), and
// the clause that opening adds must not start admitting it.  Closing drops
// an optional entry whose value is nothing when the new clause list is
// empty: such a record refuses the key anyway, so the entry adds nothing.
// The test is made against the new clauses, never the input ones: a value
// of anything under an input (anything, anything) clause is not redundant
// once closing has taken that clause away.
//
// Union, intersection and complement nodes whose members change are rebuilt
// through the lattice constructors, so members that become equal or
// complementary collapse; a rewrite of records inside a union can therefore
// change the set more than record by record.
//
// Cost: copy-on-write.  A subtree without a record comes back unchanged
// without allocating; a record whose clauses and entries come out equal is
// reported unchanged after one comparison.  The rest-clause filter forms one
// key union per clause with value anything (quadratic in the clauses of one
// record, which are few).  The walk visits each occurrence once; finalised
// schemas bound the occurrences.
#include "core/ir/open_close.h"

#include <utility>

#include "core/ir/construct.h"
#include "core/ir/order.h"
#include "core/ir/rewrite.h"
#include "core/ir/sharing.h"

namespace tessaron::ir {
namespace {

// The union of the keys of `clauses`, skipping position `skip`.
Node union_of_keys(std::span<const Clause> clauses, std::size_t skip) {
    std::vector<Node> keys;
    keys.reserve(clauses.size());
    for (std::size_t i = 0; i < clauses.size(); ++i)
        if (i != skip) keys.push_back(clauses[i].key);
    return unite_nodes(std::move(keys), {});
}

bool same_clauses(const ClauseList& a, const ClauseList& b) {
    if (a == b) return true;
    std::span<const Clause> x = as_span(a), y = as_span(b);
    if (x.size() != y.size()) return false;
    for (std::size_t i = 0; i < x.size(); ++i)
        if (!node_eq(x[i].key, y[i].key) || !node_eq(x[i].value, y[i].value)) return false;
    return true;
}

bool droppable_entry(const RecordEntry& entry, RecordMode mode, std::span<const Clause> new_clauses) {
    return mode == RecordMode::Close && !entry.required && new_clauses.empty() &&
           entry.value.kind == NodeKind::Nothing;
}

class OpenClose;

// The node function handed to the copy-on-write helpers.
struct Recurse {
    OpenClose* self;
    std::optional<Node> operator()(const Node& n) const;
};

class OpenClose {
public:
    explicit OpenClose(RecordMode mode) : mode_(mode) {}

    std::optional<Node> rewrite(const Node& node) {
        switch (node.kind) {
            case NodeKind::Sequence:
            case NodeKind::Set:
            case NodeKind::Refined:
                return rewrite_children(node, fn(), keep_constraints);
            case NodeKind::Object: {
                std::optional<EntryList> entries = rewrite_entries(node.entries, fn());
                if (!entries) return std::nullopt;
                Node n;
                n.kind = NodeKind::Object;
                n.entries = std::move(*entries);
                return n;
            }
            case NodeKind::Complement: {
                if (!node.child) return std::nullopt;
                std::optional<Node> inner = rewrite(*node.child);
                if (!inner) return std::nullopt;
                return complement_node(std::move(*inner));
            }
            case NodeKind::Union:
            case NodeKind::Intersection: {
                std::vector<Node> members;
                if (!rewrite_list(members, as_span(node.members()), fn())) return std::nullopt;
                return node.kind == NodeKind::Union ? unite_nodes(std::move(members), {})
                                                    : intersect_nodes(std::move(members), {});
            }
            case NodeKind::Mapping:
                return rewrite_mapping(node);
            default:
                return std::nullopt;
        }
    }

private:
    Recurse fn() { return Recurse{this}; }

    ClauseList new_clauses(const ClauseList& list) const {
        std::span<const Clause> clauses = as_span(list);
        if (clauses.empty()) return mode_ == RecordMode::Open ? open_clause_list() : empty_clause_slice();
        std::vector<Clause> kept = open_close_clauses(clauses);
        if (mode_ == RecordMode::Open) {
            std::vector<Node> keys;
            keys.reserve(kept.size());
            for (const Clause& c : kept) keys.push_back(c.key);
            Node rest = complement_node(unite_nodes(std::move(keys), {}));
            if (rest.kind != NodeKind::Nothing) kept.push_back(Clause{std::move(rest), Node::anything(false)});
            merge_clauses_by_value(kept);
        }
        return intern_clause_slice(kept);
    }

    std::optional<Node> rewrite_mapping(const Node& node) {
        ClauseList clauses = new_clauses(node.clauses);
        std::optional<EntryList> rewritten = rewrite_entries(node.entries, fn());
        const EntryList& entries = rewritten ? *rewritten : node.entries;
        bool drops = false;
        for (const RecordEntry& e : as_span(entries))
            if (droppable_entry(e, mode_, as_span(clauses))) {
                drops = true;
                break;
            }
        if (!drops && !rewritten && same_clauses(clauses, node.clauses)) return std::nullopt;

        Node n;
        n.kind = NodeKind::Mapping;
        n.clauses = std::move(clauses);
        if (!drops) {
            n.entries = entries;
            return n;
        }
        ScratchEntries kept;
        for (const RecordEntry& e : as_span(entries))
            if (!droppable_entry(e, mode_, as_span(n.clauses))) kept->push_back(e);
        sort_entries_by_key(*kept);
        n.entries = intern_entry_slice(*kept);
        return n;
    }

    RecordMode mode_;
};

std::optional<Node> Recurse::operator()(const Node& n) const { return self->rewrite(n); }

}  // namespace

std::vector<Clause> open_close_clauses(std::span<const Clause> clauses) {
    std::vector<Clause> out;
    out.reserve(clauses.size());
    for (std::size_t i = 0; i < clauses.size(); ++i) {
        const Clause& c = clauses[i];
        if (c.value.kind == NodeKind::Anything &&
            node_eq(c.key, complement_node(union_of_keys(clauses, i))))
            continue;
        out.push_back(c);
    }
    return out;
}

void merge_clauses_by_value(std::vector<Clause>& clauses) {
    std::vector<Clause> merged;
    merged.reserve(clauses.size());
    for (Clause& c : clauses) {
        Clause* same = nullptr;
        for (Clause& m : merged)
            if (node_eq(m.value, c.value)) {
                same = &m;
                break;
            }
        if (!same) {
            merged.push_back(std::move(c));
            continue;
        }
        std::vector<Node> keys;
        keys.reserve(2);
        keys.push_back(std::move(same->key));
        keys.push_back(std::move(c.key));
        same->key = unite_nodes(std::move(keys), {});
    }
    clauses = std::move(merged);
}

std::optional<Node> open_close_node(const Node& node, RecordMode mode) {
    OpenClose rewrite(mode);
    return rewrite.rewrite(node);
}

Node open_close(const Node& node, RecordMode mode) {
    std::optional<Node> r = open_close_node(node, mode);
    return r ? std::move(*r) : node;
}

}  // namespace tessaron::ir
