// Per-thread sharing tables and scratch pools.
//
// This file replaces the global operator new with a counting one (a
// per-thread counter around malloc) to prove that an intern hit allocates
// nothing; the replacement is otherwise transparent to the rest of the
// test binary.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

#include "core/ir/order.h"
#include "core/ir/per_thread.h"
#include "core/ir/sharing.h"
#include "ir/ir_builders.h"

namespace {
constinit thread_local std::size_t allocations_on_this_thread = 0;
}

// GCC cannot see that this pair replaces the global operator new/delete and
// warns about free() on memory from "operator new".
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

// Every unaligned form is replaced, so that whatever allocates through one
// of them frees through a matching one (the aligned forms keep their
// defaults, which pair among themselves).
namespace {
void* counted_malloc(std::size_t n) noexcept {
    ++allocations_on_this_thread;
    return std::malloc(n ? n : 1);
}
void* counted_or_throw(std::size_t n) {
    if (void* p = counted_malloc(n)) return p;
    throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t n) { return counted_or_throw(n); }
void* operator new[](std::size_t n) { return counted_or_throw(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return counted_malloc(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return counted_malloc(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace tessaron::ir {
namespace {

using namespace testing;

std::vector<Node> six_literals(std::uint64_t last) { return nodes({lit(0), lit(1), lit(2), lit(3), lit(4), lit(last)}); }

TEST(Sharing, StructurallyIdenticalChildrenAreOneAllocation) {
    SharedNode a = intern_node(list_of(int_()));
    SharedNode b = intern_node(list_of(int_()));
    EXPECT_EQ(a, b);
    std::vector<Node> members = nodes({int_(), str_()});
    EXPECT_EQ(intern_node_slice(members), intern_node_slice(nodes({int_(), str_()})));
}

TEST(Sharing, HitAllocatesNothing) {
    SharedNode stored = intern_node(tuple_of({int_(), str_()}));
    std::vector<Node> members = six_literals(5);
    NodeList stored_list = intern_node_slice(members);
    std::vector<Clause> clauses{Clause{str_(), int_()}, Clause{bytes_(), int_()}};
    ClauseList stored_clauses = intern_clause_slice(clauses);  // moved out: clauses now empty
    std::vector<Clause> same_clauses{Clause{str_(), int_()}, Clause{bytes_(), int_()}};
    std::vector<RecordEntry> entries{entry("a", int_())};
    EntryList stored_entries = intern_entry_slice(entries);
    std::vector<RecordEntry> same_entries{RecordEntry{(*stored_entries)[0].key, true, int_()}};

    Node again = *stored;  // a copy takes references only
    const std::size_t before = allocations_on_this_thread;
    SharedNode hit = intern_node(std::move(again));
    NodeList hit_list = intern_node_slice(members);
    ClauseList hit_clauses = intern_clause_slice(same_clauses);
    EntryList hit_entries = intern_entry_slice(same_entries);
    const std::size_t after = allocations_on_this_thread;

    EXPECT_EQ(after - before, 0u);
    EXPECT_EQ(hit, stored);
    EXPECT_EQ(hit_list, stored_list);
    EXPECT_EQ(hit_clauses, stored_clauses);
    EXPECT_EQ(hit_entries, stored_entries);
    // On a hit the caller's vectors keep their contents.
    EXPECT_EQ(same_clauses.size(), 2u);
    EXPECT_EQ(same_entries.size(), 1u);
    EXPECT_TRUE(clauses.empty());
}

TEST(Sharing, CollidingListsEvictEachOtherAndStayCorrect) {
    // Equal length and equal first four members: the same hash and slot.
    std::vector<Node> a = six_literals(5), b = six_literals(6);
    NodeList a1 = intern_node_slice(a);
    NodeList b1 = intern_node_slice(b);
    NodeList a2 = intern_node_slice(a);
    NodeList b2 = intern_node_slice(b);
    EXPECT_EQ((*a1)[5].index, 5u);
    EXPECT_EQ((*b1)[5].index, 6u);
    EXPECT_EQ((*a2)[5].index, 5u);
    EXPECT_EQ((*b2)[5].index, 6u);
    EXPECT_NE(a1, a2) << "a1 should have been evicted by b1";
    EXPECT_NE(b1, b2) << "b1 should have been evicted by a2";
}

TEST(Sharing, TablesKeepNothingAlive) {
    std::weak_ptr<const Node> watch_node, watch_element;
    const void* old_address = nullptr;
    {
        SharedNode element = intern_node(tuple_of({str_(), bytes_(), lit(42)}));
        SharedNode s = intern_node(set_of(*element));
        watch_node = s;
        watch_element = element;
        old_address = s.get();
    }
    EXPECT_TRUE(watch_node.expired());
    EXPECT_TRUE(watch_element.expired()) << "a slot must not keep a dead target's children";
    SharedNode again = intern_node(set_of(tuple_of({str_(), bytes_(), lit(42)})));
    EXPECT_NE(again.get(), old_address);
    EXPECT_EQ(again->kind, NodeKind::Set);
}

TEST(Sharing, ThreadsBuildTheirOwnCopies) {
    SharedNode here = intern_node(list_of(float_()));
    SharedNode there;
    std::thread t([&] { there = intern_node(list_of(float_())); });
    t.join();
    EXPECT_NE(here, there);
    EXPECT_TRUE(node_eq(*here, *there));
}

TEST(Sharing, AnyFlagsAreDifferentSharedNodes) {
    SharedNode plain = intern_node(anything0());
    SharedNode written = intern_node(Any1());
    EXPECT_NE(plain, written);
    EXPECT_EQ(plain->flag, 0);
    EXPECT_EQ(written->flag, 1);
    EXPECT_TRUE(node_eq(*plain, *written));
}

TEST(Sharing, SpecialListsNeverTouchTheTables) {
    std::vector<Clause> any_any{Clause{Any1(), Any1()}};
    ClauseList open = intern_clause_slice(any_any);
    EXPECT_EQ(open, open_clause_list());
    EXPECT_EQ((*open)[0].key.flag, 0);
    EXPECT_EQ((*open)[0].value.flag, 0);
    EXPECT_EQ(any_any.size(), 1u) << "the special case leaves the caller's clause in place";

    std::vector<Clause> no_clauses;
    std::vector<RecordEntry> no_entries;
    EXPECT_EQ(intern_clause_slice(no_clauses), empty_clause_slice());
    EXPECT_EQ(intern_entry_slice(no_entries), empty_entry_slice());
    EXPECT_EQ(intern_node_slice({}), empty_node_slice());
}

TEST(Sharing, EntryKeysCompareByTextNotAllocation) {
    std::vector<RecordEntry> first{entry("name", str_()), entry("age", int_(), false)};
    std::vector<RecordEntry> second{entry("name", str_()), entry("age", int_(), false)};
    ASSERT_NE(first[0].key, second[0].key);
    EntryList a = intern_entry_slice(first);
    EntryList b = intern_entry_slice(second);
    EXPECT_EQ(a, b);
    EXPECT_TRUE(first.empty()) << "a miss moves the entries into the list";
    EXPECT_EQ(second.size(), 2u);

    std::vector<RecordEntry> flag_differs{entry("name", str_()), entry("age", int_(), true)};
    EXPECT_NE(intern_entry_slice(flag_differs), a);
}

TEST(ScratchPool, ReturnedVectorsAreReusedEmptyAndNestedTakesDiffer) {
    std::vector<Node> v = take_scratch_nodes();
    v.reserve(64);
    v.push_back(int_());
    const Node* buffer = v.data();
    give_scratch_nodes(std::move(v));
    {
        ScratchNodes outer;
        EXPECT_TRUE(outer->empty());
        EXPECT_EQ(outer->data(), buffer);
        EXPECT_GE(outer->capacity(), 64u);
        ScratchNodes inner;
        inner->reserve(1);
        EXPECT_NE(inner->data(), outer->data());
    }
    ScratchEntries entries;
    EXPECT_TRUE(entries->empty());
}

// A thread-local whose destructor runs after this thread's tables were
// destroyed (it was constructed before them, so it is destroyed after).
std::atomic<int> teardown_results{0};
struct LateUser {
    bool armed = false;
    ~LateUser() {
        if (!armed) return;
        if (PerThread<InternTable<Node>>::life() != Life::Destroyed) return;  // the path under test was not reached
        SharedNode n = intern_node(list_of(int_()));
        NodeList l = intern_node_slice(nodes({int_(), str_()}));
        std::vector<Node> v = take_scratch_nodes();
        v.push_back(int_());
        give_scratch_nodes(std::move(v));
        if (n && n->kind == NodeKind::Sequence && l && l->size() == 2) teardown_results.fetch_add(1);
    }
};

TEST(Sharing, UseDuringThreadTeardownFallsBackToUnsharedObjects) {
    std::thread t([] {
        static thread_local LateUser late;
        late.armed = true;
        ScratchNodes warm;  // creates this thread's pools and tables after `late`
        SharedNode n = intern_node(list_of(int_()));
        NodeList l = intern_node_slice(nodes({int_(), str_()}));
    });
    t.join();
    EXPECT_EQ(teardown_results.load(), 1);
}

}  // namespace
}  // namespace tessaron::ir
