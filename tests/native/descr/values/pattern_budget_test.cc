// The work of pattern automata: a build counts its work and stops when it
// would pass its maximum; the algebra grants a build what the window can
// pay, charges what it did, and inside a text memo builds each pattern and
// computes each product once.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "core/descr/budget.h"
#include "core/descr/values/text_automaton.h"
#include "core/descr/values/text_memo.h"
#include "core/descr/values/text_product.h"
#include "core/pattern/dfa.h"
#include "core/pattern/parse.h"

namespace tessaron::descr {
namespace {

constexpr TextKind S = TextKind::Str;

// A counted repetition over a class: sets of thousands of NFA states while
// it is determinised, two states once minimal.
const std::string kCostly = "[a-z]*[a-z]{0,400}";

std::uint64_t unbounded_work(const std::string& p) {
    pattern::DfaWork work;
    EXPECT_TRUE(pattern::build_dfa(p, S, pattern::DfaLimits{}, work)) << p;
    return work.done;
}

// --- the pattern engine's counted build ---------------------------------------------

TEST(PatternWork, ACountedBuildGivesTheSameAutomatonAndCountsItsWork) {
    for (const std::string p : {"a|b", "\\d{1,3}", "[a-z]+@[a-z]+\\.com", kCostly.c_str()}) {
        pattern::DfaWork work;
        auto counted = pattern::build_dfa(p, S, pattern::DfaLimits{}, work);
        ASSERT_TRUE(counted) << p;
        EXPECT_EQ(*counted, *pattern::build_dfa(p, S)) << p;
        EXPECT_FALSE(work.stopped) << p;
        // At least one unit per cell of the table it minimised.
        EXPECT_GE(work.done, counted->state_count() * counted->class_count) << p;
    }
}

TEST(PatternWork, ABuildStopsNearItsMaximumAndSaysSo) {
    const std::uint64_t needed = unbounded_work(kCostly);
    ASSERT_GT(needed, 100000u);
    for (const std::uint64_t max : {std::uint64_t{0}, std::uint64_t{10}, needed / 100, needed / 2, needed - 1}) {
        pattern::DfaWork work;
        work.max = max;
        EXPECT_FALSE(pattern::build_dfa(kCostly, S, pattern::DfaLimits{}, work)) << max;
        EXPECT_TRUE(work.stopped) << max;
        // It stops within one step of its maximum (a step of the subset
        // construction visits up to the 400-odd NFA states of a set and
        // hashes as many ids).
        EXPECT_LE(work.done, max + needed / 200) << max;
    }
    pattern::DfaWork exact;
    exact.max = needed;
    EXPECT_TRUE(pattern::build_dfa(kCostly, S, pattern::DfaLimits{}, exact));
}

// Counted Unicode classes: the minimisation refines thousands of states
// over a hundred classes, many times the cells of its table.
TEST(PatternWork, AMinimisationIsChargedTheStepsItTakes) {
    const std::string p = "\\w{1,6}";
    const std::uint64_t needed = unbounded_work(p);
    // The work without the minimisation, and the table it minimises.
    pattern::DfaWork before_minimising;
    before_minimising.max = needed;
    pattern::ParseOptions po;
    po.utf8 = true;
    const auto nfa = pattern::compile_nfa(std::get<pattern::Hir>(pattern::parse(p, po)), pattern::NfaLimits{});
    const auto dfa = pattern::determinize(std::get<pattern::Nfa>(nfa), pattern::DfaLimits{}, before_minimising);
    ASSERT_TRUE(dfa);
    const std::uint64_t cells = std::uint64_t{dfa->state_count()} * dfa->class_count;
    ASSERT_GT(cells, 100000u);
    const std::uint64_t before_minimisation =
        p.size() + 1 + std::get<pattern::Nfa>(nfa).memory_units() + before_minimising.done;
    EXPECT_GT(needed, before_minimisation + 2 * cells) << "more than a unit per cell";
    // A build granted a unit per cell for its minimisation stops.
    pattern::DfaWork cell_grant;
    cell_grant.max = before_minimisation + cells;
    EXPECT_FALSE(pattern::build_dfa(p, S, pattern::DfaLimits{}, cell_grant));
    EXPECT_TRUE(cell_grant.stopped);
    EXPECT_LE(cell_grant.done, cell_grant.max + 1);
    // The counted minimisation alone: the same automaton, or none past its
    // maximum, never taking more than it was granted.
    pattern::DfaWork all;
    const auto minimal = pattern::minimize(*dfa, all);
    ASSERT_TRUE(minimal);
    EXPECT_EQ(*minimal, pattern::minimize(*dfa));
    for (const std::uint64_t max : {std::uint64_t{0}, all.done / 10, all.done / 2, all.done - 1}) {
        pattern::DfaWork part;
        part.max = max;
        EXPECT_FALSE(pattern::minimize(*dfa, part)) << max;
        EXPECT_TRUE(part.stopped) << max;
        EXPECT_LE(part.done, max + 1) << max;
    }
}

TEST(PatternWork, AFailureOtherThanWorkIsNotAStop) {
    struct Case {
        std::string pattern;
        std::size_t max_states;
    };
    for (const Case& c : {Case{"(a", 4096}, Case{"\\bx", 4096}, Case{"(a|b)*a(a|b){12}", 4096}, Case{"a{20}", 10}}) {
        pattern::DfaWork work;
        pattern::DfaLimits limits;
        limits.max_states = c.max_states;
        EXPECT_FALSE(pattern::build_dfa(c.pattern, S, limits, work)) << c.pattern;
        EXPECT_FALSE(work.stopped) << c.pattern;
    }
}

// --- the algebra's grant and charge -------------------------------------------------

TEST(PatternBudget, ABuildIsChargedItsWorkAndStoppedWhenTheWindowIsShort) {
    std::thread([] {
        const std::uint64_t needed = unbounded_work(kCostly);
        const std::uint64_t units = (needed + kPatternWorkPerUnit - 1) / kPatternWorkPerUnit;
        {
            WorkWindow window(units + 7);
            EXPECT_TRUE(pattern_automaton(kCostly, S));
            EXPECT_EQ(work_budget(), 7u) << "charged one unit per " << kPatternWorkPerUnit << " of work";
        }
        {
            WorkWindow window(units / 2);
            const PatternBuildCounts before = pattern_build_counts();
            EXPECT_FALSE(pattern_automaton(kCostly, S));
            EXPECT_EQ(work_budget(), 0u) << "what the window had is spent";
            EXPECT_LE(pattern_build_counts().work - before.work, units / 2 * kPatternWorkPerUnit + needed / 100);
        }
    }).join();
}

TEST(PatternBudget, InsideAMemoEachPatternIsBuiltOnce) {
    std::thread([] {
        TextMemoScope scope;
        const PatternBuildCounts before = pattern_build_counts();
        const SharedTextAutomaton first = pattern_automaton("\\d{1,3}", S);
        ASSERT_TRUE(first);
        {
            TextMemoScope inner;  // uses the outer memo
            WorkWindow window(0);
            EXPECT_TRUE(pattern_automaton("\\d{1,3}", S).same(first)) << "remembered, at no charge";
        }
        EXPECT_EQ(pattern_build_counts().builds - before.builds, 1u);
        EXPECT_FALSE(pattern_automaton("(", S));
        EXPECT_FALSE(pattern_automaton("(", S));
        EXPECT_EQ(pattern_build_counts().builds - before.builds, 2u) << "a failure is remembered too";
    }).join();
}

TEST(PatternBudget, AStoppedBuildIsTriedAgainOnlyWithMoreWork) {
    std::thread([] {
        TextMemoScope scope;
        const std::uint64_t needed = unbounded_work("\\w{1,3}");
        const std::uint64_t units = (needed + kPatternWorkPerUnit - 1) / kPatternWorkPerUnit;
        const PatternBuildCounts before = pattern_build_counts();
        {
            WorkWindow window(units / 2);
            EXPECT_FALSE(pattern_automaton("\\w{1,3}", S));
        }
        {
            WorkWindow window(units / 2);
            EXPECT_FALSE(pattern_automaton("\\w{1,3}", S));
            EXPECT_EQ(work_budget(), units / 2) << "not tried again with no more work than before";
        }
        EXPECT_EQ(pattern_build_counts().builds - before.builds, 1u);
        {
            WorkWindow window(units + 1);
            EXPECT_TRUE(pattern_automaton("\\w{1,3}", S));
        }
        EXPECT_EQ(pattern_build_counts().builds - before.builds, 2u);
    }).join();
}

TEST(PatternBudget, AMemoSpendsAtMostItsPatternWorkOverAllWindows) {
    std::thread([] {
        TextMemoScope scope;
        const PatternBuildCounts before = pattern_build_counts();
        for (int i = 0; i < 40; ++i) {
            WorkWindow window(kWindowUnits);
            pattern_automaton("[a-z]*[a-z]{0," + std::to_string(2000 + i) + "}", S);
        }
        const std::uint64_t spent = pattern_build_counts().work - before.work;
        EXPECT_LE(spent, kScopeAutomatonWork + (std::uint64_t{1} << 20));
    }).join();
}

// --- products ----------------------------------------------------------------------

TEST(TextProduct, ItsMinimisationIsCountedAndStoppedWithinTheAllowance) {
    std::thread([] {
        const SharedTextAutomaton w = pattern_automaton("\\w{1,6}", S);
        const SharedTextAutomaton d = pattern_automaton("\\d{1,6}", S);
        ASSERT_TRUE(w && d);
        const SharedTextAutomaton outside = text_automaton_complement(d);
        const TextProduct whole = combine_text_automata(w, outside);
        ASSERT_TRUE(whole.automaton);
        // The product table: at most kMaxTextStates rows of at most 256 cells.
        const std::uint64_t rows_times_classes = std::uint64_t{kMaxTextStates} * 256;
        EXPECT_GT(whole.work, whole.automaton->state_count() * whole.automaton->class_count);
        for (const std::uint64_t max : {whole.work / 2, whole.work - 1}) {
            const TextProduct part = combine_text_automata(w, outside, max);
            EXPECT_FALSE(part.automaton) << max;
            EXPECT_LE(part.work, max + 1) << max;
        }
        EXPECT_LT(whole.work, 64 * rows_times_classes);
    }).join();
}

TEST(TextProduct, AMemoSpendsAtMostItsAutomatonWorkOnProducts) {
    std::thread([] {
        const SharedTextAutomaton w = pattern_automaton("\\w{1,6}", S);
        ASSERT_TRUE(w);
        std::vector<SharedTextAutomaton> outside;
        for (int i = 1; i <= 64; ++i) {
            outside.push_back(text_automaton_complement(pattern_automaton("\\d{" + std::to_string(i) + "}", S)));
            ASSERT_TRUE(outside.back());
        }
        TextMemoScope scope;
        const std::uint64_t before = text_product_work();
        // Distinct products of large automata, until the scope refuses them.
        int refused = 0;
        for (const SharedTextAutomaton& d : outside)
            if (!combine_text_automata(w, d).automaton) ++refused;
        EXPECT_GT(refused, 0);
        EXPECT_LE(text_product_work() - before, kScopeAutomatonWork + 1);
    }).join();
}

// --- products remembered by content --------------------------------------------------

TEST(TextMemo, AProductOfEqualOperandsIsComputedOnce) {
    std::thread([] {
        const SharedTextAutomaton w = pattern_automaton("[a-c]{1,6}", S);
        const SharedTextAutomaton d = pattern_automaton("[b-d]{2,5}", S);
        ASSERT_TRUE(w && d);
        const SharedTextAutomaton w_again = text_automaton_complement(text_automaton_complement(w));
        ASSERT_FALSE(w_again.same(w));
        TextMemoScope scope;
        const TextProduct first = combine_text_automata(w, d);
        ASSERT_TRUE(first.automaton);
        EXPECT_GT(first.work, 0u);
        for (const TextProduct again : {combine_text_automata(w_again, d), combine_text_automata(d, w_again)}) {
            EXPECT_TRUE(again.automaton.same(first.automaton)) << "equal operands, either order";
            EXPECT_EQ(again.work, 0u);
        }
        const TextProduct joined = text_automaton_union(w, d);
        ASSERT_TRUE(joined.automaton);
        EXPECT_FALSE(joined.automaton.same(first.automaton)) << "the operation is part of the key";
        EXPECT_GT(joined.work, 0u);
    }).join();
}

}  // namespace
}  // namespace tessaron::descr
