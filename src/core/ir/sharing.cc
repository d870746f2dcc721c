// Hash-consing of children through per-thread direct-mapped weak caches.
//
// Each look-up hashes the node words of at most four elements with the Fx
// hash, picks one of 1024 slots, upgrades the slot's weak reference (an
// atomic compare-and-swap on the strong count inside weak_ptr::lock, so a
// target that already died is never revived) and compares the candidate
// shallowly.  A hit allocates nothing and releases the caller's argument; a
// miss builds the shared object and overwrites the slot, evicting whatever
// lived there.  Nothing else ever removes an entry; the tables never grow.
//
// A slot's weak reference keeps the dead target's memory block (the
// make_shared block of object and counts) until the slot is overwritten or
// the table is destroyed, but not the target's children: those were released
// with the target.
//
// Special cases that never touch a table: empty lists are the process-wide
// empty lists, and a single (anything, anything) clause is the catch-all
// list, with Any flag 0 on both sides whatever the caller wrote.
//
// Use during thread teardown (table destroyed) or re-entrant use (guard
// held) falls back to building an unshared object: sharing is only ever an
// optimisation of identity, never needed for a correct result.
#include "core/ir/sharing.h"

#include <algorithm>

#include "core/ir/per_thread.h"

namespace tessaron::ir {
namespace {

using util::FxHasher;

std::uint64_t identity(const void* p) { return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(p)); }

void write_node_words(const Node& n, FxHasher& h) {
    switch (n.kind) {
        case NodeKind::Anything:
            h.write(n.flag);
            break;
        case NodeKind::Literal:
        case NodeKind::Instance:
        case NodeKind::BackEdge:
        case NodeKind::Placeholder:
            h.write(n.index);
            break;
        case NodeKind::Sequence:
            h.write(n.flag);
            h.write(identity(n.nodes.get()));
            h.write(identity(n.child.get()));
            break;
        case NodeKind::Set:
            h.write(n.flag);
            h.write(identity(n.child.get()));
            break;
        case NodeKind::Mapping:
            h.write(identity(n.entries.get()));
            h.write(identity(n.clauses.get()));
            break;
        case NodeKind::Union:
        case NodeKind::Intersection:
            h.write(identity(n.nodes.get()));
            break;
        case NodeKind::Object:
            h.write(identity(n.entries.get()));
            break;
        case NodeKind::Complement:
            h.write(identity(n.child.get()));
            break;
        case NodeKind::Refined:
            h.write(identity(n.child.get()));
            h.write(identity(n.constraints.get()));
            break;
        default:
            break;
    }
}

bool same_text(const SharedText& a, const SharedText& b) {
    if (a == b) return true;
    std::string_view x = a ? std::string_view(*a) : std::string_view();
    std::string_view y = b ? std::string_view(*b) : std::string_view();
    return x == y;
}

// The common look-up of every table.  `hit` tests a live candidate; `make`
// builds the new shared object on a miss.
template <class T, class Hit, class Make>
std::shared_ptr<const T> look_up(std::uint64_t finished_hash, Hit&& hit, Make&& make) {
    InternTable<T>* table = PerThread<InternTable<T>>::get();
    if (table == nullptr) return make();
    BorrowGuard guard(table->borrow);
    if (!guard) return make();
    std::weak_ptr<const T>& slot = table->slots[intern_slot(finished_hash)];
    if (std::shared_ptr<const T> live = slot.lock()) {
        if (hit(*live)) return live;
    }
    std::shared_ptr<const T> fresh = make();
    slot = fresh;
    return fresh;
}

template <class T>
std::vector<T> take_scratch() {
    ScratchPool<T>* pool = PerThread<ScratchPool<T>>::get();
    if (pool == nullptr) return {};
    BorrowGuard guard(pool->borrow);
    if (!guard || pool->stack.empty()) return {};
    std::vector<T> v = std::move(pool->stack.back());
    pool->stack.pop_back();
    v.clear();
    return v;
}

template <class T>
void give_scratch(std::vector<T>&& v) {
    v.clear();
    ScratchPool<T>* pool = PerThread<ScratchPool<T>>::get();
    if (pool == nullptr) return;
    BorrowGuard guard(pool->borrow);
    if (!guard) return;
    pool->stack.push_back(std::move(v));
}

}  // namespace

bool node_identical(const Node& a, const Node& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
        case NodeKind::Anything:
            return a.flag == b.flag;
        case NodeKind::Literal:
        case NodeKind::Instance:
        case NodeKind::BackEdge:
        case NodeKind::Placeholder:
            return a.index == b.index;
        case NodeKind::Sequence:
            return a.flag == b.flag && a.nodes == b.nodes && a.child == b.child;
        case NodeKind::Set:
            return a.flag == b.flag && a.child == b.child;
        case NodeKind::Mapping:
            return a.entries == b.entries && a.clauses == b.clauses;
        case NodeKind::Union:
        case NodeKind::Intersection:
            return a.nodes == b.nodes;
        case NodeKind::Object:
            return a.entries == b.entries;
        case NodeKind::Complement:
            return a.child == b.child;
        case NodeKind::Refined:
            return a.child == b.child && a.constraints == b.constraints;
        default:
            return true;
    }
}

void hash_node_shallow(const Node& node, FxHasher& h) {
    h.write(static_cast<std::uint64_t>(node.kind));
    write_node_words(node, h);
}

SharedNode intern_node(Node node) {
    FxHasher h;
    hash_node_shallow(node, h);
    return look_up<Node>(
        h.finish(), [&](const Node& stored) { return node_identical(stored, node); },
        [&] { return std::make_shared<const Node>(std::move(node)); });
}

NodeList intern_node_slice(std::span<const Node> nodes) {
    if (nodes.empty()) return empty_node_slice();
    FxHasher h;
    h.write(nodes.size());
    for (std::size_t i = 0; i < std::min<std::size_t>(nodes.size(), 4); ++i) hash_node_shallow(nodes[i], h);
    return look_up<std::vector<Node>>(
        h.finish(),
        [&](const std::vector<Node>& stored) {
            if (stored.size() != nodes.size()) return false;
            for (std::size_t i = 0; i < nodes.size(); ++i)
                if (!node_identical(stored[i], nodes[i])) return false;
            return true;
        },
        [&] { return std::make_shared<const std::vector<Node>>(nodes.begin(), nodes.end()); });
}

ClauseList intern_clause_slice(std::vector<Clause>& clauses) {
    if (clauses.empty()) return empty_clause_slice();
    if (clauses.size() == 1 && clauses[0].key.kind == NodeKind::Anything &&
        clauses[0].value.kind == NodeKind::Anything)
        return open_clause_list();
    FxHasher h;
    h.write(clauses.size());
    for (std::size_t i = 0; i < std::min<std::size_t>(clauses.size(), 4); ++i) {
        hash_node_shallow(clauses[i].key, h);
        hash_node_shallow(clauses[i].value, h);
    }
    return look_up<std::vector<Clause>>(
        h.finish(),
        [&](const std::vector<Clause>& stored) {
            if (stored.size() != clauses.size()) return false;
            for (std::size_t i = 0; i < clauses.size(); ++i)
                if (!node_identical(stored[i].key, clauses[i].key) ||
                    !node_identical(stored[i].value, clauses[i].value))
                    return false;
            return true;
        },
        [&] {
            auto list = std::make_shared<const std::vector<Clause>>(std::move(clauses));
            clauses.clear();
            return list;
        });
}

EntryList intern_entry_slice(std::vector<RecordEntry>& entries) {
    if (entries.empty()) return empty_entry_slice();
    FxHasher h;
    h.write(entries.size());
    for (std::size_t i = 0; i < std::min<std::size_t>(entries.size(), 4); ++i) {
        h.write_bytes(entries[i].key_view());
        h.write(entries[i].required ? 1 : 0);
        hash_node_shallow(entries[i].value, h);
    }
    return look_up<std::vector<RecordEntry>>(
        h.finish(),
        [&](const std::vector<RecordEntry>& stored) {
            if (stored.size() != entries.size()) return false;
            for (std::size_t i = 0; i < entries.size(); ++i) {
                const RecordEntry& s = stored[i];
                const RecordEntry& e = entries[i];
                if (s.required != e.required || !same_text(s.key, e.key) || !node_identical(s.value, e.value))
                    return false;
            }
            return true;
        },
        [&] {
            auto list = std::make_shared<const std::vector<RecordEntry>>(std::move(entries));
            entries.clear();
            return list;
        });
}

std::vector<Node> take_scratch_nodes() { return take_scratch<Node>(); }
void give_scratch_nodes(std::vector<Node>&& v) { give_scratch<Node>(std::move(v)); }
std::vector<RecordEntry> take_scratch_entries() { return take_scratch<RecordEntry>(); }
void give_scratch_entries(std::vector<RecordEntry>&& v) { give_scratch<RecordEntry>(std::move(v)); }

}  // namespace tessaron::ir
