// Whole-text matching: the dialect's semantics on a table of cases, linear
// work on patterns that make backtracking engines explode, the bounded
// lazy DFA falling back to simulation, and sharing one matcher between
// threads.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/pattern/nfa.h"
#include "core/pattern/parse.h"
#include "core/pattern/pattern.h"

namespace tessaron::pattern {
namespace {

std::shared_ptr<const FullMatcher> compile_ok(const std::string& p, TextKind k = TextKind::Str) {
    auto r = compile_full_match(p, k);
    if (auto* e = std::get_if<Error>(&r)) {
        ADD_FAILURE() << p << ": " << e->message;
        return nullptr;
    }
    return std::get<std::shared_ptr<const FullMatcher>>(r);
}

struct MatchCase {
    std::string pattern;
    TextKind kind;
    std::string text;
    bool expected;
};

std::ostream& operator<<(std::ostream& os, const MatchCase& c) { return os << c.pattern << " ~ " << c.text; }

class PatternMatchTest : public ::testing::TestWithParam<MatchCase> {};

TEST_P(PatternMatchTest, WholeTextMembership) {
    const MatchCase& c = GetParam();
    auto m = compile_ok(c.pattern, c.kind);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->matches(c.text), c.expected);
    // Asking again goes through the states built by the first call.
    EXPECT_EQ(m->matches(c.text), c.expected);
}

constexpr TextKind S = TextKind::Str;
constexpr TextKind B = TextKind::Bytes;

INSTANTIATE_TEST_SUITE_P(
    Dialect, PatternMatchTest,
    ::testing::Values(
        // Whole text, every alternative and every repetition count counts.
        MatchCase{"a|b", S, "a", true}, MatchCase{"a|b", S, "ab", false}, MatchCase{"a|b", S, "", false},
        MatchCase{"a|ab", S, "ab", true}, MatchCase{"a+?", S, "aaa", true},
        MatchCase{"(a|ab)(c|bcd)(d*)", S, "abcd", true}, MatchCase{"", S, "", true}, MatchCase{"", S, "a", false},
        MatchCase{"()", S, "", true}, MatchCase{"(|a)", S, "a", true},
        MatchCase{"a{2,3}", S, "a", false}, MatchCase{"a{2,3}", S, "aaa", true}, MatchCase{"a{2,3}", S, "aaaa", false},
        MatchCase{"a{2,}", S, "aaaaa", true}, MatchCase{"a{,2}", S, "aaa", false}, MatchCase{"(ab){0}", S, "", true},
        MatchCase{"(?:a*)*", S, "aaa", true}, MatchCase{"(a*)*b", S, "b", true},
        // Anchors: $ is the end of the text only; m makes them line anchors.
        MatchCase{"^a$", S, "a", true}, MatchCase{"a$", S, "a\n", false}, MatchCase{"a$\\n", S, "a\n", false},
        MatchCase{"(?m)a$\\n^b", S, "a\nb", true}, MatchCase{"a\\n^b", S, "a\nb", false},
        MatchCase{"(?m)a\\r$\\nb", S, "a\r\nb", true}, MatchCase{"(?mR)a\\r$\\nb", S, "a\r\nb", false},
        MatchCase{"(?mR)a$\\r\\n^b", S, "a\r\nb", true}, MatchCase{"\\Aab\\z", S, "ab", true},
        MatchCase{"a\\Ab", S, "ab", false}, MatchCase{"(?m)a\\n^", S, "a\n", true},
        // Dot.
        MatchCase{".", S, "\n", false}, MatchCase{"(?s).", S, "\n", true}, MatchCase{".", S, "é", true},
        MatchCase{".", S, "\r", true}, MatchCase{"(?R).", S, "\r", false}, MatchCase{"..", S, "é", false},
        // Case folding is simple Unicode case folding.
        MatchCase{"(?i)a", S, "A", true}, MatchCase{"(?i)k", S, "\u212A", true}, MatchCase{"(?i)é", S, "É", true},
        MatchCase{"(?i)[a-c]+", S, "AbC", true}, MatchCase{"(?i)[^a]", S, "A", false},
        MatchCase{"(?i)\\p{Lu}", S, "a", true}, MatchCase{"(?i)straße", S, "STRASSE", false},
        MatchCase{"(?i:a)b", S, "AB", false}, MatchCase{"(?i)a(?-i)b", S, "Ab", true},
        MatchCase{"(?i-u)K", B, "k", true},
        // Classes and class-set operators.
        MatchCase{"[a-c&&b-d]", S, "b", true}, MatchCase{"[a-c&&b-d]", S, "a", false},
        MatchCase{"[a-c--b]", S, "b", false}, MatchCase{"[a-c~~b-d]", S, "d", true},
        MatchCase{"[a-c~~b-d]", S, "b", false}, MatchCase{"[[:alpha:]]+", S, "abC", true},
        MatchCase{"[[:^digit:]]", S, "5", false}, MatchCase{"[a[bc]]+", S, "abc", true},
        MatchCase{"[^[^a]]", S, "a", true}, MatchCase{"[-a]", S, "-", true}, MatchCase{"[a-]", S, "-", true},
        MatchCase{"[]]", S, "]", true}, MatchCase{"[\\p{Greek}&&\\p{Ll}]+", S, "αβγ", true},
        MatchCase{"[\\p{Greek}&&\\p{Ll}]+", S, "αΒγ", false}, MatchCase{"[^\\x00-\\x{10FFFF}]", S, "a", false},
        // At a class's first member the operator pairs read as in Python's
        // re: && and ~~ are two literals, -- is a '-' that may open a range.
        MatchCase{"[&&a]", S, "&", true}, MatchCase{"[&&a]", S, "a", true}, MatchCase{"[&&a]", S, "b", false},
        MatchCase{"[&&]", S, "&", true}, MatchCase{"[^&&]", S, "&", false}, MatchCase{"[^&&]", S, "b", true},
        MatchCase{"[~~a]", S, "~", true}, MatchCase{"[~~a]", S, "a", true}, MatchCase{"[^~~]", S, "~", false},
        MatchCase{"[--a]", S, "-", true}, MatchCase{"[--a]", S, ".", true}, MatchCase{"[--a]", S, "A", true},
        MatchCase{"[--a]", S, "a", true}, MatchCase{"[--a]", S, ",", false}, MatchCase{"[--a]", S, "b", false},
        MatchCase{"[^--a]", S, "0", false}, MatchCase{"[^--a]", S, "b", true}, MatchCase{"[--]", S, "-", true},
        MatchCase{"[--]", S, ".", false}, MatchCase{"[&&-a]", S, "0", true}, MatchCase{"[&&-a]", S, "%", false},
        // Unicode Perl classes and properties.
        MatchCase{"\\d", S, "٣", true}, MatchCase{"(?-u:\\d)", S, "٣", false}, MatchCase{"\\w", S, "é", true},
        MatchCase{"\\w", S, "\u0301", true}, MatchCase{"\\s", S, "\u3000", true}, MatchCase{"\\s", S, "\x1c", false},
        MatchCase{"\\p{Greek}+", S, "αβ", true}, MatchCase{"\\pL", S, "1", false}, MatchCase{"\\PL", S, "a", false},
        MatchCase{"\\p{sc=Greek}", S, "α", true}, MatchCase{"\\p{Script_Extensions=Greek}", S, "\u0342", true},
        MatchCase{"\\p{Greek}", S, "\u0342", false}, MatchCase{"\\p{scx!=Greek}", S, "α", false},
        MatchCase{"\\p{gc:Lu}", S, "A", true}, MatchCase{"\\p{Is_Letter}", S, "x", true},
        MatchCase{"\\p{Any}", S, "😀", true}, MatchCase{"\\p{ASCII}", S, "é", false},
        MatchCase{"\\p{Assigned}", S, "\u0378", false}, MatchCase{"\\p{White_Space}", S, " ", true},
        // Word boundaries, ASCII and Unicode.
        MatchCase{"\\bfoo\\b", S, "foo", true}, MatchCase{"a\\bb", S, "ab", false}, MatchCase{"a\\b", S, "a", true},
        MatchCase{"é\\b", S, "é", true}, MatchCase{"x\\b\\.", S, "x.", true}, MatchCase{"\\B", S, "", true},
        MatchCase{"\\b", S, "", false}, MatchCase{"\\b{start}foo\\b{end}", S, "foo", true},
        MatchCase{"\\<foo\\>", S, "foo", true}, MatchCase{"a\\b{end-half}", S, "a", true}, MatchCase{"a\\b{start-half}", S, "a", false},
        MatchCase{"é\\B", S, "é", false}, MatchCase{"a\\Bé", S, "aé", true}, MatchCase{"(?-u:\\b)", B, "", false},
        MatchCase{"a(?-u:\\b)é", S, "aé", true},
        // Escapes, verbose mode, names.
        MatchCase{"\\x41\\u{1F600}\\U0001F600", S, "A😀😀", true}, MatchCase{"\\t\\n\\a\\f\\v\\r", S, "\t\n\a\f\v\r", true},
        MatchCase{"\\.", S, "a", false}, MatchCase{"(?x) a b # c", S, "ab", true},
        MatchCase{"(?x)a\\ b", S, "a b", true}, MatchCase{"(?x)[a b]", S, " ", false},
        MatchCase{"(?x)a # c\n b", S, "ab", true}, MatchCase{"(?P<y>\\d+)-(?<m>\\d+)", S, "12-3", true},
        // Bytes: Unicode mode stays on, so \xFF is U+00FF in UTF-8.
        MatchCase{"\\xFF", B, "\xC3\xBF", true}, MatchCase{"\\xFF", B, "\xFF", false},
        MatchCase{"(?-u:\\xFF)", B, "\xFF", true}, MatchCase{"(?-u:.)", B, "\x80", true},
        MatchCase{"(?s-u:.)", B, "\n", true}, MatchCase{".", B, "\xFF", false}, MatchCase{"\\w+", B, "é", true},
        MatchCase{"(?-u:\\w)", B, "\xC3\xA9", false}, MatchCase{"\\xFF", S, "ÿ", true}));

// The counters of a fresh matcher after one text, for texts of length n and
// 2n: linear means the second is at most about twice the first.
void expect_linear(const std::string& pattern, const std::function<std::string(std::size_t)>& text, bool expected) {
    std::uint64_t work[2];
    for (int k = 0; k < 2; ++k) {
        auto m = compile_ok(pattern);
        ASSERT_NE(m, nullptr);
        const std::string t = text(std::size_t{20000} << k);
        EXPECT_EQ(m->matches(t), expected) << pattern;
        work[k] = m->stats().nfa_work;
    }
    EXPECT_LE(work[1], 2 * work[0] + 64) << pattern << ": " << work[0] << " then " << work[1];
}

TEST(PatternLinearTime, CatastrophicPatternsForBacktrackers) {
    auto as_then_b = [](std::size_t n) { return std::string(n, 'a') + "b"; };
    expect_linear("(a+)+$", as_then_b, false);
    expect_linear("(a|a)*b", [](std::size_t n) { return std::string(n, 'a'); }, false);
    expect_linear("(a|aa)*c", as_then_b, false);
    expect_linear("(x+x+)+y", [](std::size_t n) { return std::string(n, 'x'); }, false);
    expect_linear("[\\p{L}]{1,1000}", [](std::size_t n) {
        std::string s;
        for (std::size_t i = 0; i < n; ++i) s += (i % 3 == 0) ? "é" : "a";
        return s;
    }, false);
    // Unicode word boundaries on non-ASCII text take the simulation path.
    expect_linear("(?:\\b\\w+\\b\\s?)*", [](std::size_t n) {
        std::string s;
        while (s.size() < n) s += "héllo wörld ";
        return s;
    }, true);
}

// The work bound the guarantees state: a byte visits each NFA state at
// most twice (reading it, then the closure), and twice more where
// assertions wait on it (resolving them; for a new lazy DFA state, whether
// it accepts), besides the start's closure and the end's check.  Patterns
// whose repetitions of repetitions keep most positions alive come close.
TEST(PatternLinearTime, EachByteVisitsEachStateAFewTimesAtMost) {
    struct Case {
        const char* pattern;
        std::string text;
        std::uint64_t visits_per_byte;
    };
    std::string e_acute;
    for (int i = 0; i < 150; ++i) e_acute += "\xC3\xA9";
    const Case cases[] = {
        {"(?:a{0,40}){0,100}", std::string(300, 'a'), 2},          // the lazy DFA, no assertion
        {"(?:(?:a|\\b){0,40}){0,60}", std::string(300, 'a'), 4},   // the lazy DFA, \b on ASCII
        {"(?:(?:\xC3\xA9|\\b){0,40}){0,60}", e_acute, 3},          // simulated: \b on non-ASCII
        {"(?:(?:a|$){0,40}){0,60}", std::string(300, 'a'), 4},
    };
    for (const Case& c : cases) {
        ParseOptions options;
        auto nfa = compile_nfa(std::get<Hir>(parse(c.pattern, options)), NfaLimits{});
        const std::uint64_t states = std::get<Nfa>(nfa).states.size();
        auto m = compile_ok(c.pattern);
        ASSERT_NE(m, nullptr);
        EXPECT_TRUE(m->matches(c.text)) << c.pattern;
        const std::uint64_t work = m->stats().nfa_work;
        EXPECT_LE(work, (c.visits_per_byte * c.text.size() + 2) * states) << c.pattern;
        // Not a loose bound: the text keeps most states busy.
        EXPECT_GE(work, c.text.size() * states / 4) << c.pattern;
    }
}

TEST(PatternLinearTime, DfaStatesStaySmallOnRepetitiveText) {
    auto m = compile_ok("(a+)+$");
    ASSERT_TRUE(m);
    EXPECT_FALSE(m->matches(std::string(100000, 'a') + "b"));
    EXPECT_LE(m->stats().dfa_states, 8u);
    EXPECT_EQ(m->stats().simulated_bytes, 0u);
}

TEST(PatternLazyDfa, FullTableFallsBackToSimulation) {
    // The 21st byte from the end is an 'a': about 2^21 DFA states, more
    // than the table holds, so long random texts overflow it.
    auto m = compile_ok("(?:a|b)*a(?:a|b){20}");
    ASSERT_TRUE(m);
    std::mt19937 rng(7);
    for (int round = 0; round < 3; ++round) {
        std::string t(400000, 'a');
        for (char& c : t) c = (rng() & 1) ? 'a' : 'b';
        for (char last : {'a', 'b'}) {
            t[t.size() - 21] = last;
            EXPECT_EQ(m->matches(t), last == 'a');
        }
    }
    EXPECT_GT(m->stats().simulated_bytes, 0u);
}

TEST(PatternThreads, SharedMatcherAgreesWithItself) {
    const std::string pattern = "(?i)(?:[a-z]+\\d{0,3}|\\p{Greek}{2,})(?:[-_.](?:[a-z]+\\d{0,3}|\\p{Greek}{2,}))*";
    auto reference = compile_ok(pattern);
    auto shared = compile_ok(pattern);
    ASSERT_TRUE(reference && shared);
    std::mt19937 rng(11);
    const std::vector<std::string> pieces = {"a", "Zz", "9", "12", "-", "_", ".", "αβ", "Ω", "x1", "é", "b"};
    std::vector<std::string> texts;
    std::vector<bool> expected;
    for (int i = 0; i < 4000; ++i) {
        std::string t;
        for (int k = rng() % 12; k >= 0; --k) t += pieces[rng() % pieces.size()];
        texts.push_back(t);
        expected.push_back(reference->matches(t));
    }
    std::vector<std::thread> threads;
    std::atomic<int> mismatches{0};
    for (int th = 0; th < 8; ++th) {
        threads.emplace_back([&, th] {
            for (std::size_t i = 0; i < texts.size(); ++i) {
                std::size_t j = (i * 7 + th * 131) % texts.size();
                if (shared->matches(texts[j]) != expected[j]) ++mismatches;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
}  // namespace tessaron::pattern
