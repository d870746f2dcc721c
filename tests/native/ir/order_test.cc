// Canonical order, structural equality and the canonical sorts.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "core/ir/hash.h"
#include "core/ir/order.h"
#include "ir/fake_pool.h"
#include "ir/ir_builders.h"

namespace tessaron::ir {
namespace {

using namespace testing;

// Random trees over small alphabets, so that many pairs are equal or differ
// only deep inside.  Nodes are fresh allocations (no sharing tables), with
// occasional reuse of an earlier subtree so identity short-cuts are hit too.
class TreeGen {
public:
    explicit TreeGen(std::uint64_t seed) : rng_(seed) {}

    Node tree(int depth) {
        if (depth == 0 || pick(3) == 0) return leaf();
        if (!made_.empty() && pick(8) == 0) return made_[pick(made_.size())];
        Node n = composite(depth - 1);
        made_.push_back(n);
        return n;
    }

private:
    std::size_t pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }

    Node leaf() {
        switch (pick(9)) {
            case 0: return Node::anything(pick(2) == 1);
            case 1: return nothing_();
            case 2: return none_();
            case 3: return int_();
            case 4: return str_();
            case 5: return lit(pick(3));
            case 6: return inst(pick(2));
            case 7: return edge(pick(2));
            default: return hole(pick(2));
        }
    }

    std::vector<Node> some(int depth, std::size_t lo, std::size_t hi) {
        std::vector<Node> out;
        for (std::size_t i = 0, n = lo + pick(hi - lo + 1); i < n; ++i) out.push_back(tree(depth));
        return out;
    }

    std::vector<RecordEntry> entries(int depth) {
        static const char* keys[] = {"a", "ab", "\xc3\xa9"};
        std::vector<RecordEntry> out;
        for (std::size_t i = 0, n = pick(3); i < n; ++i)
            out.push_back(entry(keys[pick(3)], pick(2) ? leaf() : tree(depth), pick(2) == 1));
        return out;
    }

    Constraint constraint() {
        static const char* patterns[] = {"a", "\x7f", "\x80"};
        static const ConstraintKind some_kinds[] = {ConstraintKind::Ge, ConstraintKind::MinLen, ConstraintKind::Regex};
        auto kind = pick(2) ? some_kinds[pick(3)] : static_cast<ConstraintKind>(pick(9));
        if (kind == ConstraintKind::Regex) return regex(patterns[pick(3)]);
        return con(kind, pick(2));
    }

    Node composite(int depth) {
        switch (pick(8)) {
            case 0: {
                std::vector<Node> prefix = some(depth, 0, 2);
                if (pick(2)) return raw_seq(static_cast<std::uint8_t>(pick(2)), std::move(prefix), tree(depth));
                return raw_seq(static_cast<std::uint8_t>(pick(2)), std::move(prefix));
            }
            case 1: return raw_single(NodeKind::Set, tree(depth), static_cast<std::uint8_t>(pick(2)));
            case 2: {
                std::vector<Clause> clauses;
                for (std::size_t i = 0, n = pick(3); i < n; ++i) clauses.push_back(Clause{tree(depth), tree(depth)});
                return raw_mapping(entries(depth), std::move(clauses));
            }
            case 3: return raw(NodeKind::Union, some(depth, 1, 3));
            case 4: return raw(NodeKind::Intersection, some(depth, 1, 3));
            case 5: return raw_single(NodeKind::Complement, tree(depth));
            case 6: return raw_object(entries(depth));
            default: {
                std::vector<Constraint> cs;
                for (std::size_t i = 0, n = 1 + pick(2); i < n; ++i) cs.push_back(constraint());
                return raw_refined(pick(2) ? leaf() : tree(depth), std::move(cs));
            }
        }
    }

    std::mt19937_64 rng_;
    std::vector<Node> made_;
};

TEST(CanonicalOrder, RandomTreesFormATotalOrderConsistentWithEqualityAndHash) {
    TreeGen gen(20240611);
    std::vector<Node> trees;
    for (int i = 0; i < 1500; ++i) trees.push_back(gen.tree(i % 2 ? 2 : 3));
    FakePool pool({obj(1, 0, 10), obj(2, 0, 20), obj(3, 1, 10)});

    std::size_t equal_pairs = 0;
    for (const Node& a : trees) {
        for (const Node& b : trees) {
            const int ab = node_cmp(a, b);
            const int ba = node_cmp(b, a);
            ASSERT_EQ(ab, -ba) << "antisymmetry";
            ASSERT_EQ(ab == 0, node_eq(a, b)) << "cmp == 0 exactly when eq";
            if (ab == 0) {
                ++equal_pairs;
                ASSERT_EQ(validator_hash(a, {}, pool), validator_hash(b, {}, pool)) << "equal nodes hash alike";
                ASSERT_TRUE(equal_across_pools(a, pool, b, pool));
            }
        }
    }
    EXPECT_GT(equal_pairs, trees.size()) << "the generator should produce equal pairs beyond a == a";

    // Transitivity: after sorting by the order, every earlier element
    // compares at most equal to every later one.
    std::vector<Node> sorted = trees;
    std::sort(sorted.begin(), sorted.end(), [](const Node& x, const Node& y) { return node_cmp(x, y) < 0; });
    for (std::size_t i = 0; i < sorted.size(); ++i)
        for (std::size_t j = i + 1; j < sorted.size(); ++j) ASSERT_LE(node_cmp(sorted[i], sorted[j]), 0);
}

TEST(CanonicalOrder, Cases) {
    struct Case {
        const char* name;
        Node less;
        Node greater;
    };
    std::vector<Case> cases = {
        {"tags: int before str", int_(), str_()},
        {"tags: back edge before placeholder", edge(9), hole(0)},
        {"literals by pool index", lit(1), lit(2)},
        {"shorter prefix first", tuple_of({int_()}), tuple_of({int_(), str_()})},
        {"no tail before a tail", tuple_of({int_()}), tuple_of({int_()}, int_())},
        {"list before tuple", list_of(int_()), tuple_of({}, int_())},
        {"set before frozenset", set_of(int_()), make_set(kFlavourFrozenset, int_())},
        {"optional entry before required", record({entry("a", int_(), false)}), record({entry("a", int_(), true)})},
        {"keys bytewise, a beginning first", record({entry("a", int_())}), record({entry("ab", int_())})},
        {"keys as unsigned bytes", record({entry("\x7f", int_())}), record({entry("\x80", int_())})},
        {"regex patterns as unsigned bytes", refined(str_(), {regex("\x7f")}), refined(str_(), {regex("\x80")})},
        {"constraint variant first", refined(int_(), {ge(9)}), refined(int_(), {min_len(0)})},
        {"fewer constraints first", refined(int_(), {ge(1)}), refined(int_(), {ge(1), min_len(1)})},
        {"mapping entries before clauses", record({}, {Clause{str_(), int_()}}), record({entry("a", int_())})},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(node_cmp(c.less, c.greater), -1) << c.name;
        EXPECT_EQ(node_cmp(c.greater, c.less), 1) << c.name;
        EXPECT_FALSE(node_eq(c.less, c.greater)) << c.name;
    }
}

TEST(CanonicalOrder, AnyFlagNeverCountsButFlavourDoes) {
    Node a = raw_seq(kFlavourList, {}, Any1());
    Node b = raw_seq(kFlavourList, {}, anything0());
    EXPECT_EQ(node_cmp(a, b), 0);
    EXPECT_TRUE(node_eq(a, b));
    EXPECT_FALSE(node_eq(raw_seq(kFlavourList, {}, int_()), raw_seq(kFlavourTuple, {}, int_())));
}

TEST(CanonicalSort, FirstOfEqualRunSurvivesOnBothSortPaths) {
    // Around the two equal-but-distinguishable nodes, n - 2 distinct fillers;
    // n = 6 sorts by insertion, n = 40 by merging.
    for (std::size_t n : {6u, 40u}) {
        for (bool any_first : {true, false}) {
            std::vector<Node> xs;
            for (std::size_t i = 0; i + 2 < n; ++i) xs.push_back(lit(1000 - i));
            const std::size_t at = xs.size() / 3;
            xs.insert(xs.begin() + static_cast<std::ptrdiff_t>(at), raw_seq(kFlavourList, {}, Node::anything(any_first)));
            xs.push_back(raw_seq(kFlavourList, {}, Node::anything(!any_first)));
            sort_dedup_nodes(xs);
            ASSERT_EQ(xs.size(), n - 1);
            for (std::size_t i = 1; i < xs.size(); ++i) EXPECT_LT(node_cmp(xs[i - 1], xs[i]), 0);
            // Literals (tag 8) sort before sequences (tag 9): the survivor is last.
            EXPECT_EQ(xs.back().kind, NodeKind::Sequence);
            EXPECT_EQ(xs.back().child->flag, any_first ? 1 : 0) << "n=" << n;
        }
    }
}

TEST(CanonicalSort, StableSortMatchesStdStableSortAtEverySize) {
    std::mt19937_64 rng(7);
    for (std::size_t n = 0; n <= 130; ++n) {
        std::vector<std::pair<int, std::size_t>> xs;
        for (std::size_t i = 0; i < n; ++i) xs.emplace_back(static_cast<int>(rng() % 6), i);
        auto expected = xs;
        auto by_key = [](const auto& a, const auto& b) { return a.first < b.first; };
        std::stable_sort(expected.begin(), expected.end(), by_key);
        stable_canonical_sort(xs, by_key);
        ASSERT_EQ(xs, expected) << "n=" << n;
    }
}

TEST(CanonicalSort, ConstraintsClausesAndEntries) {
    std::vector<Constraint> cs{min_len(3), ge(7), min_len(3), regex("b"), regex("a"), ge(2)};
    sort_dedup_constraints(cs);
    ASSERT_EQ(cs.size(), 5u);
    EXPECT_TRUE(constraint_eq(cs[0], ge(2)));
    EXPECT_TRUE(constraint_eq(cs[1], ge(7)));
    EXPECT_TRUE(constraint_eq(cs[2], min_len(3)));
    EXPECT_EQ(cs[3].pattern, "a");
    EXPECT_EQ(cs[4].pattern, "b");
    EXPECT_EQ(constraints_cmp(std::span(cs).first(2), cs), -1);

    std::vector<Clause> clauses{Clause{str_(), int_()}, Clause{int_(), str_()}, Clause{str_(), int_()},
                                Clause{int_(), int_()}};
    sort_dedup_clauses(clauses);
    ASSERT_EQ(clauses.size(), 3u);
    EXPECT_EQ(clauses[0].value.kind, NodeKind::Int);
    EXPECT_EQ(clauses[1].value.kind, NodeKind::Str);
    EXPECT_EQ(clauses[2].key.kind, NodeKind::Str);

    std::vector<RecordEntry> es{entry("b", int_()), entry("a", str_()), entry("a", int_()), entry("", none_())};
    sort_entries_by_key(es);
    ASSERT_EQ(es.size(), 4u);
    EXPECT_EQ(es[0].key_view(), "");
    EXPECT_EQ(es[1].value.kind, NodeKind::Str) << "equal keys keep their given order";
    EXPECT_EQ(es[2].value.kind, NodeKind::Int);
    EXPECT_EQ(es[3].key_view(), "b");
}

}  // namespace
}  // namespace tessaron::ir
