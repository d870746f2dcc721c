// The poll of long native work: the pattern matcher (DFA, resets,
// simulation) and the JSON parser (tree and sink) ask it as they go, stop
// soon after it says stop, and answer as before when it never does.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "core/json/tree.h"
#include "core/pattern/nfa.h"
#include "core/pattern/nfa_sim.h"
#include "core/pattern/parse.h"
#include "core/pattern/pattern.h"
#include "core/util/poll.h"

namespace tessaron {
namespace {

// A hook that lets the work go on for `allowed` questions, then stops it.
struct Countdown {
    int allowed;
    int asked = 0;
    static bool hook(void* data) {
        auto* self = static_cast<Countdown*>(data);
        ++self->asked;
        return self->asked <= self->allowed;
    }
};

TEST(Poll, CountsUnitsAndStopsForGood) {
    Countdown c{1};
    util::Poll poll(&Countdown::hook, &c);
    EXPECT_TRUE(poll.tick(util::Poll::kInterval - 1));
    EXPECT_EQ(c.asked, 0);
    EXPECT_TRUE(poll.tick(1));  // the first question: go on
    EXPECT_EQ(c.asked, 1);
    EXPECT_TRUE(poll.tick(util::Poll::kInterval - 1));
    EXPECT_FALSE(poll.tick(1));  // the second: stop
    EXPECT_TRUE(poll.stopped());
    EXPECT_FALSE(poll.tick(0));
    EXPECT_FALSE(poll.ask());
    EXPECT_EQ(c.asked, 2);  // not asked again
}

TEST(Poll, WithoutHookNeverStops) {
    util::Poll poll;
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(poll.tick(util::Poll::kInterval));
    EXPECT_FALSE(poll.stopped());
}

std::shared_ptr<const pattern::FullMatcher> compiled(const std::string& pattern) {
    auto m = pattern::compile_full_match(pattern, pattern::TextKind::Str);
    EXPECT_TRUE(std::holds_alternative<std::shared_ptr<const pattern::FullMatcher>>(m)) << pattern;
    return std::get<std::shared_ptr<const pattern::FullMatcher>>(m);
}

// Long texts on each path of the matcher: the DFA, the DFA whose table
// resets too often (simulated stretches), and the simulation of Unicode
// word boundaries.
struct MatchCase {
    const char* pattern;
    std::string text;
    bool member;
};

std::vector<MatchCase> long_cases() {
    std::mt19937 rng(3);
    std::string random_ab(60000, 'a');
    for (char& ch : random_ab) ch = "ab"[rng() % 2];
    std::string words;
    for (int i = 0; i < 100000; ++i) words += "\xC3\xA9t\xC3\xA9 ";
    return {
        {"[ab]*", std::string(8 << 20, 'a'), true},
        {"[ab]*a[ab]{300}", random_ab, random_ab[random_ab.size() - 301] == 'a'},
        {"(?:\\b\\w+\\b\\s)*", words, true},
    };
}

TEST(Poll, PatternMatchingStopsSoonAfterTheHookSaysStop) {
    for (const MatchCase& c : long_cases()) {
        auto m = compiled(c.pattern);
        // Never stopped: the same answer as without a poll.
        util::Poll quiet;
        EXPECT_EQ(m->matches(c.text, &quiet), c.member) << c.pattern;
        EXPECT_EQ(m->matches(c.text), c.member) << c.pattern;
        Countdown counting{1 << 30};
        util::Poll all(&Countdown::hook, &counting);
        EXPECT_EQ(m->matches(c.text, &all), c.member) << c.pattern;
        EXPECT_GE(counting.asked, 2) << c.pattern << ": a long text asks more than once";

        Countdown stop_second{1};
        util::Poll poll(&Countdown::hook, &stop_second);
        EXPECT_FALSE(m->matches(c.text, &poll)) << c.pattern;
        EXPECT_TRUE(poll.stopped()) << c.pattern;
        EXPECT_EQ(stop_second.asked, 2) << c.pattern;
        // The matcher is as good as before.
        EXPECT_EQ(m->matches(c.text), c.member) << c.pattern;
    }
}

// A pattern whose every byte visits about a hundred thousand NFA states
// (the repetitions of repetitions keep most of their positions alive):
// the poll must be asked after about Poll::kInterval states, not after a
// fixed number of bytes, which here would be tens of millions of states.
// The \b sends non-ASCII texts to the simulation; ASCII texts take the
// lazy DFA, whose every byte makes a new state.
constexpr const char* kHeavyPattern = "(?:[a\\xE9]{0,200}){0,200}\\b";

pattern::Nfa heavy_nfa() {
    pattern::ParseOptions options;
    options.utf8 = true;
    auto hir = pattern::parse(kHeavyPattern, options);
    auto nfa = pattern::compile_nfa(std::get<pattern::Hir>(hir), pattern::NfaLimits{});
    EXPECT_TRUE(std::holds_alternative<pattern::Nfa>(nfa));
    return std::move(std::get<pattern::Nfa>(nfa));
}

std::string repeated(const std::string& piece, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += piece;
    return s;
}

struct HeavyCase {
    const char* path;
    std::string text;
};

TEST(Poll, PatternWorkIsAskedAboutByStatesVisitedNotBytes) {
    const pattern::Nfa nfa = heavy_nfa();
    // One byte's step, or one new DFA state, visits each state at most
    // twice, and twice more where assertions (the \b) wait.
    const std::uint64_t one_step = 4 * std::uint64_t{nfa.states.size()} + 1;
    const HeavyCase cases[] = {
        {"simulation", repeated("\xC3\xA9", 400)},
        {"lazy DFA", std::string(400, 'a')},
    };
    for (const HeavyCase& c : cases) {
        // Unstopped, the text costs many intervals of work.
        auto full = compiled(kHeavyPattern);
        EXPECT_TRUE(full->matches(c.text)) << c.path;
        EXPECT_GT(full->stats().nfa_work, 8 * util::Poll::kInterval) << c.path;

        auto m = compiled(kHeavyPattern);
        Countdown stop_first{0};
        util::Poll poll(&Countdown::hook, &stop_first);
        EXPECT_FALSE(m->matches(c.text, &poll)) << c.path;
        EXPECT_EQ(stop_first.asked, 1) << c.path;
        EXPECT_LE(m->stats().nfa_work, util::Poll::kInterval + one_step) << c.path;
    }
    // The simulation on its own, from the start of the text.
    Countdown stop_first{0};
    util::Poll poll(&Countdown::hook, &stop_first);
    std::uint64_t work = 0;
    EXPECT_FALSE(pattern::simulate(nfa, repeated("\xC3\xA9", 400), 0, pattern::start_set(nfa), work, &poll));
    EXPECT_TRUE(poll.stopped());
    EXPECT_LE(work, util::Poll::kInterval + one_step);
}

// Patterns near the size limit, each tens of milliseconds of compilation:
// compiling one asks the poll many times, and stops at once when it says
// stop.
TEST(Poll, PatternCompilationAsksAsItGoesAndStopsWhenTold) {
    for (const char* p : {"(?:(?:a|\\b){0,500}){0,465}", "\\w{1,1385}", "(?:a{0,500}){0,1000}"}) {
        pattern::ParseOptions options;
        auto hir = pattern::parse(p, options);
        auto nfa = pattern::compile_nfa(std::get<pattern::Hir>(hir), pattern::NfaLimits{});
        ASSERT_TRUE(std::holds_alternative<pattern::Nfa>(nfa)) << p;
        const std::uint64_t units = std::get<pattern::Nfa>(nfa).memory_units();
        EXPECT_GT(units, pattern::NfaLimits{}.max_units * 9 / 10) << p;

        // Never stopped: asked about once per interval of weighted units,
        // and the matcher is the same.
        Countdown counting{1 << 30};
        util::Poll all(&Countdown::hook, &counting);
        auto full = pattern::compile_full_match(p, pattern::TextKind::Str, &all);
        ASSERT_TRUE(std::holds_alternative<std::shared_ptr<const pattern::FullMatcher>>(full)) << p;
        EXPECT_GE(std::uint64_t(counting.asked) + 1, units * pattern::kCompilePollWeight / util::Poll::kInterval) << p;
        EXPECT_TRUE(std::get<0>(full)->matches("aaa")) << p;
        EXPECT_FALSE(std::get<0>(full)->matches("aaa!")) << p;

        // Stopped at the first question, after one interval: an error that
        // says so, and no further question.
        Countdown stop_first{0};
        util::Poll poll(&Countdown::hook, &stop_first);
        auto stopped = pattern::compile_full_match(p, pattern::TextKind::Str, &poll);
        ASSERT_TRUE(std::holds_alternative<pattern::Error>(stopped)) << p;
        EXPECT_STREQ(std::get<pattern::Error>(stopped).message.c_str(), pattern::kCompileStopped) << p;
        EXPECT_TRUE(poll.stopped()) << p;
        EXPECT_EQ(stop_first.asked, 1) << p;

        // The NFA on its own, stopped at the second question.
        Countdown stop_second{1};
        util::Poll second(&Countdown::hook, &stop_second);
        auto part = pattern::compile_nfa(std::get<pattern::Hir>(hir), pattern::NfaLimits{}, &second);
        ASSERT_TRUE(std::holds_alternative<pattern::Error>(part)) << p;
        EXPECT_STREQ(std::get<pattern::Error>(part).message.c_str(), pattern::kCompileStopped) << p;
        EXPECT_EQ(stop_second.asked, 2) << p;
    }
    // A pattern past the limit is refused as before, poll or not.
    Countdown counting{1 << 30};
    util::Poll all(&Countdown::hook, &counting);
    auto big = pattern::compile_full_match("(?:a{0,1000}){0,1000}", pattern::TextKind::Str, &all);
    ASSERT_TRUE(std::holds_alternative<pattern::Error>(big));
    EXPECT_STREQ(std::get<pattern::Error>(big).message.c_str(), pattern::kNfaTooBig);
}

TEST(Poll, JsonParseStopsWithStoppedFailure) {
    std::string doc = "[";
    for (int i = 0; i < 300000; ++i) doc += "{\"k\":[1,2.5,\"s\",null]},";
    doc += "0]";
    json::Document tree;
    json::ParseFailure failure;
    Countdown counting{1 << 30};
    util::Poll all(&Countdown::hook, &counting);
    ASSERT_TRUE(tree.parse(doc, failure, &all));
    EXPECT_GE(counting.asked, 2);

    Countdown stop_first{0};
    util::Poll poll(&Countdown::hook, &stop_first);
    json::ParseFailure stopped;
    EXPECT_FALSE(tree.parse(doc, stopped, &poll));
    EXPECT_EQ(stopped.kind, json::ParseFailure::Kind::Stopped);
    EXPECT_EQ(stop_first.asked, 1);
    json::ParseFailure again;
    EXPECT_TRUE(tree.parse(doc, again));
}

}  // namespace
}  // namespace tessaron
