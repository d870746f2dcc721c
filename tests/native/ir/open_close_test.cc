// Opening and closing records.
#include <gtest/gtest.h>

#include "core/ir/open_close.h"
#include "core/ir/order.h"
#include "ir/ir_builders.h"

namespace tessaron::ir {
namespace {

using namespace testing;

constexpr RecordMode kOpen = RecordMode::Open;
constexpr RecordMode kClose = RecordMode::Close;

Clause clause(Node key, Node value) { return Clause{std::move(key), std::move(value)}; }
Node rest_of(Node covered) { return comp(std::move(covered)); }

// A mapping with its clauses in exactly the given order (the rewrite does
// not sort clauses).
Node mapping(std::vector<RecordEntry> entries, std::vector<Clause> clauses) {
    return raw_mapping(std::move(entries), std::move(clauses));
}

::testing::AssertionResult same_node(const Node& got, const Node& want) {
    if (node_eq(got, want)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "kind " << int(got.kind) << " vs " << int(want.kind);
}

struct Case {
    const char* name;
    Node input;
    RecordMode mode;
    std::optional<Node> expected;  // nothing: reported unchanged
};

TEST(OpenClose, RecordRewrites) {
    const Node a_int = record({entry("a", int_())});
    const Node a_int_open = mapping({entry("a", int_())}, {clause(anything0(), anything0())});
    const Node int_or_bytes = uni(nodes({int_(), bytes_()}));
    const Case cases[] = {
        {"a record opens", a_int, kOpen, a_int_open},
        {"the opened record closes back", a_int_open, kClose, a_int},
        {"a closed record is already closed", a_int, kClose, std::nullopt},
        {"an open record is already open", a_int_open, kOpen, std::nullopt},
        {"dict[str, int] closes to itself", record({}, {clause(str_(), int_())}), kClose, std::nullopt},
        {"dict[str, int] opens with a rest clause", record({}, {clause(str_(), int_())}), kOpen,
         mapping({}, {clause(str_(), int_()), clause(rest_of(str_()), anything0())})},
        {"dict opens to itself", record({}, {clause(anything0(), anything0())}), kOpen, std::nullopt},
        {"dict closes to the empty record", record({}, {clause(anything0(), anything0())}), kClose, record({})},
        {"dict[Any, int] opens to itself", record({}, {clause(Any1(), int_())}), kOpen, std::nullopt},
        {"a (str, anything) clause merges with its rest into (anything, anything)",
         record({entry("a", int_())}, {clause(str_(), anything0())}), kOpen, a_int_open},
        {"a (str, anything) clause is no rest clause", record({entry("a", int_())}, {clause(str_(), anything0())}),
         kClose, std::nullopt},
        {"clauses with equal values merge",
         mapping({}, {clause(int_(), str_()), clause(bytes_(), str_())}), kOpen,
         mapping({}, {clause(int_or_bytes, str_()), clause(rest_of(int_or_bytes), anything0())})},
        {"a rest clause after other clauses is taken away",
         mapping({}, {clause(int_(), str_()), clause(rest_of(int_()), anything0())}), kClose,
         mapping({}, {clause(int_(), str_())})},
        {"an optional key keeps its value when opened", record({entry("a", int_(), false)}), kOpen,
         mapping({entry("a", int_(), false)}, {clause(anything0(), anything0())})},
        {"open keeps an optional entry of nothing", record({entry("a", nothing_(), false)}), kOpen,
         mapping({entry("a", nothing_(), false)}, {clause(anything0(), anything0())})},
        {"close drops an optional entry of nothing", record({entry("a", nothing_(), false)}), kClose, record({})},
        {"close keeps a required entry of nothing", record({entry("a", nothing_())}), kClose, std::nullopt},
        {"close keeps an optional entry of nothing beside a clause",
         record({entry("a", nothing_(), false)}, {clause(int_(), int_())}), kClose, std::nullopt},
        {"close keeps an optional entry of anything of an open record",
         mapping({entry("a", anything0(), false)}, {clause(anything0(), anything0())}), kClose,
         record({entry("a", anything0(), false)})},
        {"a union of a record and its opened form", uni(nodes({a_int, a_int_open})), kOpen, a_int_open},
        {"a union of {} and a record opens member by member", uni(nodes({record({}), a_int})), kOpen,
         uni(nodes({mapping({}, {clause(anything0(), anything0())}), a_int_open}))},
        {"inside a list", list_of(a_int), kOpen, list_of(a_int_open)},
        {"inside a tuple prefix and tail", tuple_of(nodes({a_int}), a_int), kOpen, tuple_of(nodes({a_int_open}), a_int_open)},
        {"inside a set", set_of(a_int), kOpen, set_of(a_int_open)},
        {"inside an intersection", inter(nodes({a_int, inst(0)})), kOpen, inter(nodes({a_int_open, inst(0)}))},
        {"inside a complement", comp(a_int), kOpen, comp(a_int_open)},
        {"inside a refinement", refined(a_int, {min_len(1)}), kOpen, refined(a_int_open, {min_len(1)})},
        {"inside an entry value", record({entry("x", a_int)}), kClose, std::nullopt},
        {"inside an entry value, opened", record({entry("x", a_int)}), kOpen,
         mapping({entry("x", a_int_open)}, {clause(anything0(), anything0())})},
        {"inside object attributes", make_object({entry("x", a_int)}), kOpen, make_object({entry("x", a_int_open)})},
        {"not inside clause schemas", record({}, {clause(str_(), a_int)}), kClose, std::nullopt},
        {"no record below", uni(nodes({list_of(int_()), comp(str_()), edge(0)})), kOpen, std::nullopt},
    };
    for (const Case& c : cases) {
        std::optional<Node> got = open_close_node(c.input, c.mode);
        if (!c.expected) {
            EXPECT_FALSE(got.has_value()) << c.name;
            continue;
        }
        ASSERT_TRUE(got.has_value()) << c.name;
        EXPECT_TRUE(same_node(*got, *c.expected)) << c.name;
        EXPECT_TRUE(same_node(open_close(c.input, c.mode), *c.expected)) << c.name;
    }
}

TEST(OpenClose, UnchangedAnswersACopy) {
    const Node input = list_of(int_());
    const Node out = open_close(input, kOpen);
    EXPECT_TRUE(node_identical(out, input));
}

TEST(OpenClose, OpenThenCloseRestoresClosedRecords) {
    const Node records[] = {
        record({entry("a", int_()), entry("b", str_(), false)}),
        record({entry("a", nothing_(), false)}),
        record({entry("a", anything0(), false)}),
        record({entry("a", list_of(record({entry("b", int_())})))}),
        comp(record({entry("a", int_())})),
    };
    for (const Node& r : records) {
        const Node round = open_close(open_close(r, kOpen), kClose);
        // Only an optional entry of nothing, which admits nothing either
        // way, may disappear.
        const Node expected = open_close(r, kClose);
        EXPECT_TRUE(node_eq(round, expected));
    }
}

TEST(OpenCloseClauses, RestClausesAreFound) {
    const Node ib = uni(nodes({int_(), bytes_()}));
    struct FilterCase {
        const char* name;
        std::vector<Clause> clauses;
        std::size_t kept;
    };
    const FilterCase cases[] = {
        {"(anything, anything) alone", {clause(anything0(), anything0())}, 0},
        {"(Any, Any) alone", {clause(Any1(), Any1())}, 0},
        {"the complement of the other keys", {clause(int_(), str_()), clause(rest_of(int_()), anything0())}, 1},
        {"the complement of two other keys",
         {clause(int_(), str_()), clause(bytes_(), float_()), clause(rest_of(ib), anything0())}, 2},
        {"a value other than anything", {clause(int_(), str_()), clause(rest_of(int_()), str_())}, 2},
        {"a key that is not the complement", {clause(int_(), str_()), clause(str_(), anything0())}, 2},
        {"(str, anything) beside no other clause", {clause(str_(), anything0())}, 1},
    };
    for (const FilterCase& c : cases) EXPECT_EQ(open_close_clauses(c.clauses).size(), c.kept) << c.name;
}

TEST(MergeClausesByValue, KeysOfEqualValuesUnite) {
    std::vector<Clause> clauses = {clause(int_(), str_()), clause(bytes_(), float_()), clause(none_(), str_()),
                                   clause(str_(), float_())};
    merge_clauses_by_value(clauses);
    ASSERT_EQ(clauses.size(), 2u);
    EXPECT_TRUE(node_eq(clauses[0].key, uni(nodes({int_(), none_()}))));
    EXPECT_TRUE(node_eq(clauses[0].value, str_()));
    EXPECT_TRUE(node_eq(clauses[1].key, uni(nodes({bytes_(), str_()}))));
    EXPECT_TRUE(node_eq(clauses[1].value, float_()));

    std::vector<Clause> pair = {clause(str_(), anything0()), clause(rest_of(str_()), anything0())};
    merge_clauses_by_value(pair);
    ASSERT_EQ(pair.size(), 1u);
    EXPECT_EQ(pair[0].key.kind, NodeKind::Anything);
}

}  // namespace
}  // namespace tessaron::ir
