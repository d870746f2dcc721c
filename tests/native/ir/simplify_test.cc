// The simplify rewrite: negation-normal form and its folds.
#include <gtest/gtest.h>

#include "core/decide/disjoint.h"
#include "core/ir/normal_form.h"
#include "core/ir/order.h"
#include "core/ir/simplify.h"
#include "ir/ir_builders.h"

namespace tessaron::ir {
namespace {

using namespace testing;

Constraint gt_(std::uint64_t p) { return con(ConstraintKind::Gt, p); }
Constraint lt_(std::uint64_t p) { return con(ConstraintKind::Lt, p); }
Node non_empty(Node n) { return refined(std::move(n), {min_len(1)}); }

// simplify_node with the decisions' structural disjointness test.
Node simplified(const Node& n, std::uint32_t steps = kSimplifyDisjointSteps) {
    return simplify_node(n, decide::structurally_disjoint, steps);
}

// True when no complement sits above a union, intersection, complement,
// anything or nothing.
bool in_negation_normal_form(const Node& node) {
    std::vector<const Node*> stack{&node};
    while (!stack.empty()) {
        const Node* n = stack.back();
        stack.pop_back();
        if (n->kind == NodeKind::Complement) {
            switch (n->inner()->kind) {
                case NodeKind::Union:
                case NodeKind::Intersection:
                case NodeKind::Complement:
                case NodeKind::Anything:
                case NodeKind::Nothing:
                    return false;
                default:
                    break;
            }
        }
        push_children(*n, stack);
    }
    return true;
}

struct Case {
    const char* name;
    Node input;
    Node expected;  // compared by node_eq
};

TEST(Simplify, FoldsAndNormalForm) {
    const Node seven = uni(nodes({none_(), bool_(), int_(), float_(), str_(), bytes_(), list_of(int_())}));
    const Node class_pair = uni(nodes({comp(inst(0)), inst(0)}));
    const Node edge_pair = uni(nodes({comp(list_of(edge(0))), list_of(edge(0))}));
    const Case cases[] = {
        {"int & str: disjoint kinds", inter(nodes({int_(), str_()})), nothing_()},
        {"~int | ~str: complements of disjoint nodes", uni(nodes({comp(int_()), comp(str_())})), anything0()},
        {"~(int | str): De Morgan", comp(uni(nodes({int_(), str_()}))), inter(nodes({comp(int_()), comp(str_())}))},
        {"~(int & str): the inner node is nothing first", comp(inter(nodes({int_(), str_()}))), anything0()},
        {"~(int & ~str): pushed through both levels", comp(inter(nodes({int_(), comp(str_())}))),
         uni(nodes({comp(int_()), str_()}))},
        {"a list member leaves the kinds undecided", seven, seven},
        {"kinds covering every value kind", uni(nodes({comp(uni(nodes({int_(), str_()}))), int_(), str_()})),
         anything0()},
        {"the scalar kinds and their joint complement",
         uni(nodes({none_(), bool_(), int_(), float_(), str_(), bytes_(),
                    comp(uni(nodes({none_(), bool_(), int_(), float_(), str_(), bytes_()})))})),
         anything0()},
        {"an instance blocks the complementary pair", class_pair, class_pair},
        {"a back edge stays, and blocks the pair", edge_pair, edge_pair},
        {"nested refinements merge", raw_refined(refined(int_(), {gt_(0)}), {lt_(1)}),
         refined(int_(), {gt_(0), lt_(1)})},
        {"repeated constraints merge once", raw_refined(refined(int_(), {ge(0)}), {ge(0)}), refined(int_(), {ge(0)})},
        {"list and tuple are disjoint", inter(nodes({list_of(int_()), tuple_of(nodes({int_()}))})), nothing_()},
        {"non-empty lists of disjoint elements", inter(nodes({non_empty(list_of(int_())), list_of(str_())})),
         nothing_()},
        {"a complementary pair the constructor left", raw(NodeKind::Intersection, {list_of(int_()), comp(list_of(int_()))}),
         nothing_()},
        {"a double complement", raw_single(NodeKind::Complement, raw_single(NodeKind::Complement, int_())), int_()},
        {"~anything", raw_single(NodeKind::Complement, anything0()), nothing_()},
        {"~nothing", raw_single(NodeKind::Complement, nothing_()), anything0()},
        {"nested unions flatten", raw(NodeKind::Union, {int_(), raw(NodeKind::Union, {str_(), bytes_()})}),
         uni(nodes({int_(), str_(), bytes_()}))},
        {"nothing members drop", raw(NodeKind::Union, {nothing_(), int_()}), int_()},
        {"anything members of an intersection drop", raw(NodeKind::Intersection, {anything0(), list_of(int_())}),
         list_of(int_())},
        {"an empty intersection of rewritten members", raw(NodeKind::Intersection, {anything0(), anything0()}),
         anything0()},
        {"inside a list", list_of(comp(uni(nodes({int_(), str_()})))), list_of(inter(nodes({comp(int_()), comp(str_())})))},
        {"inside a tuple prefix and tail",
         tuple_of(nodes({inter(nodes({int_(), str_()}))}), comp(comp(int_()))),
         tuple_of(nodes({nothing_()}), int_())},
        {"inside a set", set_of(inter(nodes({int_(), bytes_()}))), set_of(nothing_())},
        {"inside record entries and clauses",
         record({entry("a", inter(nodes({int_(), str_()})), false)},
                {Clause{str_(), uni(nodes({comp(int_()), comp(str_())}))}}),
         raw_mapping({entry("a", nothing_(), false)}, {Clause{str_(), anything0()}})},
        {"inside object attributes", make_object({entry("x", comp(uni(nodes({int_(), str_()}))))}),
         make_object({entry("x", inter(nodes({comp(int_()), comp(str_())})))})},
        {"leaves stay", lit(3), lit(3)},
    };
    for (const Case& c : cases) {
        const Node once = simplified(c.input);
        EXPECT_TRUE(node_eq(once, c.expected)) << c.name;
        EXPECT_TRUE(in_negation_normal_form(once)) << c.name;
        EXPECT_EQ(tree_violation(once), std::nullopt) << c.name;
        EXPECT_TRUE(node_eq(simplified(once), once)) << c.name << ": simplifying again changes nothing";
    }
}

TEST(Simplify, AnyFlagSurvivesOnlyWhereItWasWritten) {
    // An Any member ends a union and is its result as written.
    Node written = simplified(raw(NodeKind::Union, {int_(), Any1()}));
    EXPECT_EQ(written.kind, NodeKind::Anything);
    EXPECT_TRUE(written.any_flag());
    // A fold produces the plain anything.
    Node folded = simplified(uni(nodes({comp(int_()), comp(str_())})));
    EXPECT_EQ(folded.kind, NodeKind::Anything);
    EXPECT_FALSE(folded.any_flag());
    EXPECT_TRUE(simplified(Any1()).any_flag());
}

TEST(Simplify, TheInputIsOnlyRead) {
    const Node input = comp(uni(nodes({int_(), list_of(inter(nodes({int_(), str_()})))})));
    const Node copy = input;
    const SharedNode inner_before = input.child;
    (void)simplified(input);
    EXPECT_EQ(input.child, inner_before);
    EXPECT_TRUE(node_identical(input, copy));
    EXPECT_EQ(input.child->members()->size(), 2u);
}

TEST(Simplify, ABudgetOfZeroOnlyDisablesThePairTests) {
    // Without steps no pair is tested: list and tuple stay met, but the
    // kind masks of int and str still fold.
    const Node shapes = inter(nodes({list_of(int_()), tuple_of(nodes({int_()}))}));
    EXPECT_TRUE(node_eq(simplified(shapes, 0), shapes));
    EXPECT_TRUE(node_eq(simplified(inter(nodes({int_(), str_()})), 0), nothing_()));
    EXPECT_TRUE(node_eq(simplified(uni(nodes({comp(list_of(int_())), comp(set_of(int_()))})), 0),
                        uni(nodes({comp(list_of(int_())), comp(set_of(int_()))}))));
    EXPECT_TRUE(node_eq(simplified(uni(nodes({comp(list_of(int_())), comp(set_of(int_()))}))), anything0()));
}

TEST(Simplify, SharedSubtreesStayShared) {
    // One shared list node under two parents comes back as one node.
    const Node shared = list_of(comp(uni(nodes({int_(), str_()}))));
    const Node parent = tuple_of(nodes({shared, shared}));
    const Node out = simplified(parent);
    ASSERT_EQ(out.prefix()->size(), 2u);
    EXPECT_TRUE(node_identical((*out.prefix())[0], (*out.prefix())[1]));
}

}  // namespace
}  // namespace tessaron::ir
