// The lazy DFA's full table: reset and go on, simulate where resets come
// too often, and agree with plain NFA simulation whatever the table size,
// on one thread or many.
#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/pattern/lazy_dfa.h"
#include "core/pattern/nfa.h"
#include "core/pattern/nfa_sim.h"
#include "core/pattern/parse.h"
#include "core/pattern/pattern.h"

namespace tessaron::pattern {
namespace {

Nfa nfa_of(const std::string& pattern) {
    ParseOptions options;
    options.utf8 = true;
    auto hir = parse(pattern, options);
    EXPECT_TRUE(std::holds_alternative<Hir>(hir)) << pattern;
    auto nfa = compile_nfa(std::get<Hir>(hir), NfaLimits{});
    EXPECT_TRUE(std::holds_alternative<Nfa>(nfa)) << pattern;
    return std::move(std::get<Nfa>(nfa));
}

bool simulated(const Nfa& nfa, const std::string& text) {
    std::uint64_t work = 0;
    return simulate(nfa, text, 0, start_set(nfa), work);
}

std::string random_text(std::mt19937& rng, std::size_t n, const std::string& alphabet) {
    std::string t(n, ' ');
    for (char& c : t) c = alphabet[rng() % alphabet.size()];
    return t;
}

TEST(LazyDfaReset, AFullTableIsEmptiedAndTheDfaReadsTheRest) {
    // Random a/b text creates a new state at almost every byte (the last 201
    // bytes decide), so the table fills and resetting at once would not pay:
    // the DFA gives up, a stretch is simulated, and the DFA tries again in
    // the periodic tail, where a handful of states repeat forever.  Before
    // resets, everything after the first fill was simulated.
    auto compiled = compile_full_match("[ab]*a[ab]{200}", TextKind::Str);
    const auto& m = std::get<std::shared_ptr<const FullMatcher>>(compiled);
    std::mt19937 rng(5);
    std::string text = random_text(rng, 200000, "ab");
    for (int i = 0; i < 1000000; ++i) text += "abb";
    EXPECT_EQ(m->matches(text), text[text.size() - 201] == 'a');
    text.back() = 'a';  // moves the deciding byte
    EXPECT_EQ(m->matches(text), text[text.size() - 201] == 'a');
    const MatchStats stats = m->stats();
    EXPECT_GE(stats.dfa_resets, 1u);
    EXPECT_LT(stats.simulated_bytes, text.size() / 2);
}

TEST(LazyDfaReset, TextsThatSettleAfterABurstKeepTheTable) {
    // Many texts, each a random burst then a repeating tail: the table fills
    // over the texts, and since most bytes fall on known states resets are
    // allowed and the tails are read by the DFA.
    auto compiled = compile_full_match("[ab]*a[ab]{24}", TextKind::Str);
    const auto& m = std::get<std::shared_ptr<const FullMatcher>>(compiled);
    std::mt19937 rng(9);
    std::uint64_t total = 0;
    for (int i = 0; i < 6000; ++i) {
        std::string t = random_text(rng, 40, "ab");
        const std::string period = random_text(rng, 2 + rng() % 5, "ab");
        while (t.size() < 500) t += period;
        total += t.size();
        ASSERT_EQ(m->matches(t), t[t.size() - 25] == 'a') << i;
    }
    const MatchStats stats = m->stats();
    EXPECT_GE(stats.dfa_resets, 1u);
    EXPECT_LT(stats.simulated_bytes, total / 4);
}

// Patterns whose states depend on the byte before a position (anchors, word
// boundaries) as well as plain ones; a table of a few states resets all the
// time, so every path (reset, give up, simulate, try again from the middle
// of a text) runs.
const char* const kPatterns[] = {
    "[ab]*a[ab]{6}",
    "(?m)^a[ab]*b$",
    "(?:\\bab\\b|ba)*[ab]{3}",
    "(?:a|b\\B|\\bb)*a?",
    "(?:[a-c]{2,5}\\s?)+$",
    "(?s).*ab.{4}",
};

TEST(LazyDfaReset, AgreesWithSimulationWhateverTheTableSize) {
    std::mt19937 rng(21);
    std::uint64_t resets_of_the_smallest_tables = 0;
    for (const char* pattern : kPatterns) {
        const Nfa nfa = nfa_of(pattern);
        // Bytes of everything the cache holds: a few states, a few dozen.
        for (std::size_t budget : {std::size_t{0}, std::size_t{2048}, std::size_t{8192}}) {
            LazyDfa dfa(nfa, budget);
            for (int i = 0; i < 400; ++i) {
                const std::size_t n = (i % 40 == 0) ? 20000 + rng() % 1000 : rng() % 300;
                const std::string text = random_text(rng, n, i % 3 ? "ab" : "abc \n");
                ASSERT_EQ(dfa.matches(text), simulated(nfa, text)) << pattern << " budget " << budget << " #" << i;
            }
            if (budget == 0) resets_of_the_smallest_tables += dfa.resets();
        }
    }
    // Most of these patterns need more states than eight.
    EXPECT_GE(resets_of_the_smallest_tables, 10u);
}

TEST(LazyDfaReset, ThreadsSharingASmallTableAgree) {
    // Runs on other threads see the table emptied under them: they notice
    // (the generation changed) and simulate instead of trusting what they
    // read.
    const Nfa nfa = nfa_of("(?:\\bab\\b|ba)*[ab]{3}(?:a|b\\B)*");
    LazyDfa dfa(nfa, 2048);  // a few states
    std::mt19937 rng(33);
    std::vector<std::string> texts;
    std::vector<bool> expected;
    for (int i = 0; i < 600; ++i) {
        texts.push_back(random_text(rng, rng() % 2000, "ab "));
        expected.push_back(simulated(nfa, texts.back()));
    }
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int th = 0; th < 8; ++th) {
        threads.emplace_back([&, th] {
            for (std::size_t i = 0; i < texts.size(); ++i) {
                const std::size_t j = (i * 7 + th * 131) % texts.size();
                if (dfa.matches(texts[j]) != expected[j]) ++mismatches;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_GE(dfa.resets(), 1u);
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// Bytes in use in the C heap (the sanitizers keep a heap of their own).
std::size_t heap_in_use() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

TEST(LazyDfaMemory, EverythingTheCacheHoldsStaysWithinItsBudget) {
    // The last 16 bytes before the c's decide, so random a/b text makes a
    // new state at almost every byte, each holding a set of a few dozen
    // NFA states and its key.  Once only the table was counted against the
    // budget: each pattern kept about 13 MiB of sets and keys beside its
    // 2 MiB of table.
    constexpr std::size_t kBudget = std::size_t{2} << 20;  // the matcher's, per pattern
    std::mt19937 rng(17);
    const std::string text = random_text(rng, 300000, "ab") + "z";
    std::vector<std::shared_ptr<const FullMatcher>> matchers;
    for (const char* pattern : {"[ab]*a[ab]{15}", "[ab]*a[ab]{15}c", "[ab]*a[ab]{15}cc"}) {
        auto compiled = compile_full_match(pattern, TextKind::Str);
        matchers.push_back(std::get<std::shared_ptr<const FullMatcher>>(compiled));
    }
    const std::size_t before = heap_in_use();
    std::size_t most = 0;
    for (const auto& m : matchers) {
        for (int round = 0; round < 2; ++round) {
            EXPECT_FALSE(m->matches(text));
            const MatchStats stats = m->stats();
            EXPECT_LE(stats.dfa_bytes, kBudget);
            most = std::max(most, stats.dfa_bytes);
        }
        EXPECT_GE(m->stats().dfa_resets, 1u);
    }
    EXPECT_GE(most, kBudget / 2) << "the texts should fill the cache";
    if (!kSanitized) EXPECT_LE(heap_in_use() - before, matchers.size() * kBudget);
}

}  // namespace
}  // namespace tessaron::pattern
