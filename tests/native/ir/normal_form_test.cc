// The node invariant checkers.
#include <gtest/gtest.h>

#include <string>

#include "core/ir/normal_form.h"
#include "ir/ir_builders.h"

namespace tessaron::ir {
namespace {

using namespace testing;

TEST(NormalForm, EachBrokenInvariantIsNamed) {
    Node flagged = int_();
    flagged.flag = 1;
    Node indexed = str_();
    indexed.index = 3;
    Node seq_without_prefix;
    seq_without_prefix.kind = NodeKind::Sequence;
    Node bare_set;
    bare_set.kind = NodeKind::Set;
    struct Case {
        const char* name;
        Node node;
        std::string expected;
    };
    const Case cases[] = {
        {"flag on int", flagged, "a flag on a kind without one"},
        {"index on str", indexed, "an index on a kind without one"},
        {"child on a union", [] { Node n = raw(NodeKind::Union, {int_(), str_()}); n.child = fresh(int_()); return n; }(),
         "a child on a kind without one"},
        {"one member", raw(NodeKind::Union, {int_()}), "fewer than two members"},
        {"anything as a member", raw(NodeKind::Intersection, {anything0(), int_()}), "anything or nothing"},
        {"nested union", raw(NodeKind::Union, {int_(), raw(NodeKind::Union, {str_(), bytes_()})}),
         "a member of the node's own kind"},
        {"unsorted members", raw(NodeKind::Union, {str_(), int_()}), "out of canonical order or repeated"},
        {"repeated member", raw(NodeKind::Union, {int_(), int_()}), "out of canonical order or repeated"},
        {"refinement without constraints", raw_refined(int_(), {}), "without constraints"},
        {"unsorted constraints", raw_refined(int_(), {ge(2), ge(1)}), "constraints out of order or repeated"},
        {"repeated constraint", raw_refined(int_(), {ge(1), ge(1)}), "constraints out of order or repeated"},
        {"entries out of key order", raw_mapping({entry("b", int_()), entry("a", int_())}, {}),
         "entries out of key order"},
        {"object entries out of key order", raw_object({entry("b", int_()), entry("a", int_())}),
         "entries out of key order"},
        {"repeated entry key", raw_mapping({entry("a", int_()), entry("a", str_(), false)}, {}),
         "entries out of key order or repeated"},
        {"repeated object attribute", raw_object({entry("a", int_()), entry("a", int_())}),
         "entries out of key order or repeated"},
        {"repeated clause", raw_mapping({}, {Clause{str_(), int_()}, Clause{str_(), int_()}}),
         "clauses out of order or repeated"},
        {"sequence without a prefix list", seq_without_prefix, "a sequence without a prefix list"},
        {"set without an element", bare_set, "a set or complement without its child"},
    };
    for (const Case& c : cases) {
        const std::optional<std::string_view> v = normal_form_violation(c.node);
        ASSERT_TRUE(v.has_value()) << c.name;
        EXPECT_NE(std::string(*v).find(c.expected), std::string::npos) << c.name << ": " << *v;
    }
}

TEST(NormalForm, ConstructorResultsAreNormalAndViolationsAreFoundDeep) {
    const Node built[] = {
        uni(nodes({str_(), int_(), lit(2), int_(), uni(nodes({bytes_(), lit(1)}))})),
        inter(nodes({list_of(int_()), comp(tuple_of(nodes({int_()}))), anything0()})),
        refined(int_(), {ge(3), ge(1), ge(3)}),
        record({entry("b", int_()), entry("a", str_(), false), entry("", int_())},
               {Clause{str_(), int_()}, Clause{int_(), str_()}, Clause{str_(), int_()}}),
        make_object({entry("y", int_()), entry("x", int_())}),
        tuple_of(nodes({int_(), str_()}), bytes_()),
        set_of(uni(nodes({int_(), none_()}))),
    };
    for (const Node& n : built) EXPECT_EQ(tree_violation(n), std::nullopt) << static_cast<int>(n.kind);
    // A broken node deep inside a normal tree.
    const Node deep = list_of(tuple_of(nodes({raw(NodeKind::Union, {str_(), int_()})})));
    EXPECT_EQ(normal_form_violation(deep), std::nullopt);
    EXPECT_NE(tree_violation(deep), std::nullopt);
}

}  // namespace
}  // namespace tessaron::ir
