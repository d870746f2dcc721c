// Child enumeration, expected wording and the process-wide shared lists.
#include <gtest/gtest.h>

#include <thread>

#include "core/ir/node.h"
#include "ir/ir_builders.h"

namespace tessaron::ir {
namespace {

using namespace testing;

std::vector<const Node*> children(const Node& n) {
    std::vector<const Node*> out;
    push_children(n, out);
    return out;
}

TEST(PushChildren, MappingYieldsEntryValuesThenClauseKeysAndValues) {
    Node m = raw_mapping({entry("a", int_()), entry("b", str_())},
                         {Clause{lit(1), lit(2)}, Clause{lit(3), lit(4)}});
    std::vector<const Node*> kids = children(m);
    ASSERT_EQ(kids.size(), 6u);
    EXPECT_EQ(kids[0]->kind, NodeKind::Int);
    EXPECT_EQ(kids[1]->kind, NodeKind::Str);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(kids[2 + i]->index, static_cast<std::uint64_t>(i + 1));
    // Pointers into the node's own storage, not copies.
    EXPECT_EQ(kids[0], &(*m.entries)[0].value);
}

TEST(PushChildren, PerKind) {
    struct Case {
        const char* name;
        Node node;
        std::vector<std::uint64_t> literal_children;  // children are literals with these indices
    };
    std::vector<Case> cases = {
        {"sequence: prefix then tail", raw_seq(kFlavourTuple, {lit(1), lit(2)}, lit(3)), {1, 2, 3}},
        {"sequence without tail", raw_seq(kFlavourList, {lit(1)}), {1}},
        {"set", raw_single(NodeKind::Set, lit(5)), {5}},
        {"complement", raw_single(NodeKind::Complement, lit(6)), {6}},
        {"refined: inner only", raw_refined(lit(7), {min_len(1), ge(9)}), {7}},
        {"union", raw(NodeKind::Union, {lit(1), lit(2)}), {1, 2}},
        {"object", raw_object({entry("x", lit(4))}), {4}},
        {"back edge is a leaf", edge(0), {}},
        {"placeholder", hole(3), {}},
        {"literal", lit(1), {}},
    };
    for (const Case& c : cases) {
        std::vector<const Node*> kids = children(c.node);
        ASSERT_EQ(kids.size(), c.literal_children.size()) << c.name;
        for (std::size_t i = 0; i < kids.size(); ++i) EXPECT_EQ(kids[i]->index, c.literal_children[i]) << c.name;
    }
}

TEST(ExpectedKindText, Table) {
    struct Case {
        Node node;
        std::string_view text;
    };
    std::vector<Case> cases = {
        {Any1(), "anything"},
        {nothing_(), "nothing"},
        {none_(), "None"},
        {bool_(), "bool"},
        {bytes_(), "bytes"},
        {lit(0), "literal"},
        {list_of(int_()), "list"},
        {tuple_of({}, int_()), "tuple"},
        {make_set(kFlavourFrozenset, int_()), "frozenset"},
        {set_of(int_()), "set"},
        {record({}), "dict"},
        {raw(NodeKind::Union, {int_(), str_()}), "union"},
        {raw(NodeKind::Intersection, {int_(), str_()}), "intersection"},
        {comp(int_()), "complement"},
        {inst(0), "instance"},
        {make_object({}), "object"},
        {refined(refined(int_(), {ge(0)}), {min_len(1)}), "int"},
        {edge(0), "value"},
        {hole(0), "recursive value"},
    };
    for (const Case& c : cases) EXPECT_EQ(expected_kind_text(c.node), c.text);
}

TEST(SharedLists, OneAllocationPerProcessAndCatchAllHasPlainAnything) {
    const void* here[4] = {empty_node_slice().get(), empty_entry_slice().get(), empty_clause_slice().get(),
                           open_clause_list().get()};
    const void* there[4] = {};
    std::thread t([&] {
        there[0] = empty_node_slice().get();
        there[1] = empty_entry_slice().get();
        there[2] = empty_clause_slice().get();
        there[3] = open_clause_list().get();
    });
    t.join();
    for (int i = 0; i < 4; ++i) EXPECT_EQ(here[i], there[i]);
    EXPECT_TRUE(empty_node_slice()->empty());
    const ClauseList& open = open_clause_list();
    ASSERT_EQ(open->size(), 1u);
    EXPECT_EQ((*open)[0].key.kind, NodeKind::Anything);
    EXPECT_EQ((*open)[0].key.flag, 0);
    EXPECT_EQ((*open)[0].value.flag, 0);
}

}  // namespace
}  // namespace tessaron::ir
