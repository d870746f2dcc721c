// Pattern automata: exact languages on the edge cases the algebra relies
// on, the state cap, the canonical minimal form, length automata, and
// randomized agreement with the matcher.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/pattern/dfa.h"
#include "core/pattern/pattern.h"

namespace tessaron::pattern {
namespace {

constexpr TextKind S = TextKind::Str;
constexpr TextKind B = TextKind::Bytes;

// Every byte string of length <= max_len over the given alphabet.
std::vector<std::string> all_texts(const std::string& alphabet, std::size_t max_len) {
    std::vector<std::string> out = {""};
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (out[i].size() == max_len) continue;
        for (char c : alphabet) out.push_back(out[i] + c);
    }
    return out;
}

// The accepted texts among all texts up to max_len over the alphabet.
std::vector<std::string> language(const Dfa& d, const std::string& alphabet, std::size_t max_len) {
    std::vector<std::string> acc;
    for (const std::string& t : all_texts(alphabet, max_len))
        if (d.accepts(t)) acc.push_back(t);
    return acc;
}

// Checks the canonical form promised by minimize().
void expect_canonical(const Dfa& d) {
    ASSERT_GT(d.state_count(), 0u);
    EXPECT_EQ(d.class_map[0], 0);
    std::uint32_t next_class = 0;
    for (int b = 0; b < 256; ++b) {
        ASSERT_LT(d.class_map[b], d.class_count);
        if (d.class_map[b] == next_class) ++next_class;
        EXPECT_LE(d.class_map[b], next_class) << "classes numbered by first byte";
    }
    // Breadth-first numbering: scanning rows in order, new targets appear in order.
    std::uint32_t seen = 1;
    for (std::size_t i = 0; i < d.transitions.size(); ++i) {
        const std::uint32_t t = d.transitions[i];
        ASSERT_LT(t, d.state_count());
        if (t == seen) ++seen;
        EXPECT_LT(t, seen) << "state numbering is breadth first";
    }
    EXPECT_EQ(seen, d.state_count()) << "every state reachable";
    EXPECT_EQ(minimize(d), d) << "minimize is idempotent";
}

TEST(PatternDfa, EmptyPatternAcceptsOnlyTheEmptyText) {
    auto d = build_dfa("", S);
    ASSERT_TRUE(d);
    EXPECT_EQ(language(*d, "ab", 3), std::vector<std::string>{""});
    expect_canonical(*d);
}

TEST(PatternDfa, AlternationAcceptsExactlyItsBranches) {
    auto d = build_dfa("a|b", S);
    ASSERT_TRUE(d);
    EXPECT_EQ(language(*d, "abc", 3), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(d->state_count(), 3u);  // start, accept, dead
}

TEST(PatternDfa, AllMatchSemanticsKeepsEveryWholeTextMatch) {
    auto d = build_dfa("a|ab", S);
    ASSERT_TRUE(d);
    EXPECT_EQ(language(*d, "ab", 3), (std::vector<std::string>{"a", "ab"}));
    auto lazy = build_dfa("a+?", S);
    ASSERT_TRUE(lazy);
    EXPECT_TRUE(lazy->accepts("aaa"));
    EXPECT_EQ(*lazy, *build_dfa("a+", S));
}

TEST(PatternDfa, HexFFIsACodePointUnlessUnicodeIsOff) {
    for (TextKind k : {S, B}) {
        auto d = build_dfa("\\xFF", k);
        ASSERT_TRUE(d);
        EXPECT_TRUE(d->accepts("\xC3\xBF"));
        EXPECT_FALSE(d->accepts("\xFF"));
    }
    auto raw = build_dfa("(?-u:\\xFF)", B);
    ASSERT_TRUE(raw);
    EXPECT_TRUE(raw->accepts("\xFF"));
    EXPECT_FALSE(raw->accepts("\xC3\xBF"));
    EXPECT_FALSE(build_dfa("(?-u:\\xFF)", S)) << "a str pattern cannot match invalid UTF-8";
}

TEST(PatternDfa, StateCapGivesNone) {
    // The 13th byte from the end is an 'a': 2^13 states.
    EXPECT_FALSE(build_dfa("(a|b)*a(a|b){12}", S));
    auto fits = build_dfa("(a|b)*a(a|b){10}", S);
    ASSERT_TRUE(fits);
    EXPECT_EQ(fits->state_count(), 2049u);  // 2^11 windows and the dead state
    DfaLimits tight;
    tight.max_states = 2049;
    EXPECT_TRUE(build_dfa("(a|b)*a(a|b){10}", S, tight));
    tight.max_states = 2048;
    EXPECT_FALSE(build_dfa("(a|b)*a(a|b){10}", S, tight));
}

TEST(PatternDfa, UnicodeWordBoundaryGivesNoneAsciiOneWorks) {
    EXPECT_FALSE(build_dfa("\\bx", S));
    EXPECT_FALSE(build_dfa("x\\B", B));
    auto d = build_dfa("(?-u:\\b)x+(?-u:\\b)", B);
    ASSERT_TRUE(d);
    EXPECT_TRUE(d->accepts("xx"));
    auto m = build_dfa("a(?-u:\\b).", S);
    ASSERT_TRUE(m);
    EXPECT_TRUE(m->accepts("a."));
    EXPECT_FALSE(m->accepts("ab"));
}

TEST(PatternDfa, BadPatternGivesNone) {
    EXPECT_FALSE(build_dfa("(a", S));
    EXPECT_FALSE(build_dfa("a)|(?:b", S));
}

TEST(PatternDfa, EqualLanguagesGiveEqualAutomata) {
    const std::pair<const char*, const char*> same[] = {
        {"a*", "(a|aa)*"}, {"[ab]", "b|a"}, {"(?i)k", "[kK\\x{212A}]"}, {"x(?:)y", "xy"},
        {"(?m)^a", "a"}, {"a{2,}", "aa+"}, {"[a-c&&b-d]", "[bc]"},
    };
    for (auto [p, q] : same) {
        auto a = build_dfa(p, S), b = build_dfa(q, S);
        ASSERT_TRUE(a && b) << p << " / " << q;
        EXPECT_EQ(*a, *b) << p << " / " << q;
        expect_canonical(*a);
    }
}

// The three-byte encodings of surrogates (ED A0..BF 80..BF) are no UTF-8
// text, and a str holding a surrogate matches no str pattern: a class whose
// range spans the block, however it is reached (a union of ranges, case
// folding, a class-set operator), holds only the scalar values around it.
TEST(PatternDfa, StrClassesSpanningTheSurrogateBlockLeaveItOut) {
    const std::pair<const char*, const char*> same[] = {
        {"[\\x00-\\x{10FFFF}]", "(?s:.)"},
        {"(?i)[\\x00-\\U0010FFFF]*", "(?s:.)*"},
        {"[\\x{D7FF}-\\x{E000}]", "[\\x{D7FF}\\x{E000}]"},
        {"[a-b\\x{100}-\\x{10FFFF}]+", "[a-b\\x{100}-\\x{D7FF}\\x{E000}-\\x{10FFFF}]+"},
        {"[\\x00-\\x{D7FF}]|[\\x{D000}-\\x{10FFFF}]", "(?s:.)"},
        {"[\\x00-\\x{10FFFF}--a]", "[^a]"},
        {"[\\x00-\\x{10FFFF}~~[^a]]", "a"},
        {"[\\x{D000}-\\x{E000}&&[\\x{D7FF}-\\x{10FFFF}]]", "[\\x{D7FF}\\x{E000}]"},
        {"(?i)[\\x{D700}-\\x{E0FF}]", "[\\x{D700}-\\x{D7FF}\\x{E000}-\\x{E0FF}]"},
        {"[^\\x00-\\x{10FFFF}]", "[a&&b]"},
    };
    const std::string texts[] = {
        "", "a", "b", "ab", "\xED\x9F\xBF", "\xEE\x80\x80", "\xF4\x8F\xBF\xBF", "\xED\xA0\x80", "\xED\xAF\xBF",
        "\xED\xB0\x80", "\xED\xBF\xBF", "a\xED\xA0\x80", "\xED\xBF\xBF" "a",
    };
    auto holds_surrogate = [](const std::string& t) {
        for (std::size_t i = 0; i + 1 < t.size(); ++i)
            if (static_cast<unsigned char>(t[i]) == 0xED && (static_cast<unsigned char>(t[i + 1]) & 0xE0) == 0xA0)
                return true;
        return false;
    };
    for (auto [p, q] : same) {
        auto d = build_dfa(p, S), ref = build_dfa(q, S);
        ASSERT_TRUE(d && ref) << p << " / " << q;
        EXPECT_EQ(*d, *ref) << p << " / " << q;
        auto m = compile_full_match(p, S);
        ASSERT_TRUE(std::holds_alternative<std::shared_ptr<const FullMatcher>>(m)) << p;
        const auto& matcher = *std::get<std::shared_ptr<const FullMatcher>>(m);
        for (const std::string& t : texts) {
            EXPECT_EQ(d->accepts(t), matcher.matches(t)) << p << " on [" << t << "]";
            if (holds_surrogate(t)) {
                EXPECT_FALSE(d->accepts(t)) << p << " accepts a surrogate in [" << t << "]";
            }
        }
    }
}

TEST(PatternDfa, LineAnchorsUseTheBytesAround) {
    auto d = build_dfa("(?m)(?:^[a-z]+$\\n?)*", S);
    ASSERT_TRUE(d);
    EXPECT_TRUE(d->accepts("ab\ncd"));
    EXPECT_TRUE(d->accepts("ab\ncd\n"));
    EXPECT_FALSE(d->accepts("ab\n\n1"));
    auto crlf = build_dfa("(?mR)a$\\r\\n^b", S);
    ASSERT_TRUE(crlf);
    EXPECT_TRUE(crlf->accepts("a\r\nb"));
}

TEST(PatternLengthDfa, StrUniverseIsTheUtf8Automaton) {
    auto u = build_length_dfa(0, std::nullopt, S);
    ASSERT_TRUE(u);
    EXPECT_EQ(u->class_count, 11u);
    EXPECT_EQ(u->state_count(), 8u);
    EXPECT_TRUE(u->accepting[0]);
    for (const char* t : {"", "A", "\xED\xA0\x80", "\xED\xBF\xBF", "\xF4\x8F\xBF\xBF"}) EXPECT_TRUE(u->accepts(t)) << t;
    for (const char* t : {"\xC0\x80", "\xE0\x80\x80", "\xF0\x80\x80\x80", "\xF4\x90\x80\x80", "\xE2"})
        EXPECT_FALSE(u->accepts(t));
    expect_canonical(*u);
}

TEST(PatternLengthDfa, CountsCodePointsForStrAndBytesForBytes) {
    auto zero = build_length_dfa(0, 0, S);
    ASSERT_TRUE(zero);
    EXPECT_TRUE(zero->accepts(""));
    EXPECT_FALSE(zero->accepts("a"));
    auto one_str = build_length_dfa(1, 1, S);
    auto one_bytes = build_length_dfa(1, 1, B);
    ASSERT_TRUE(one_str && one_bytes);
    EXPECT_TRUE(one_str->accepts("é"));
    EXPECT_FALSE(one_bytes->accepts("é"));
    auto two_bytes = build_length_dfa(2, std::nullopt, B);
    ASSERT_TRUE(two_bytes);
    EXPECT_TRUE(two_bytes->accepts("é"));
    EXPECT_TRUE(two_bytes->accepts(std::string("\xFF\x00\x01", 3)));
    EXPECT_FALSE(build_length_dfa(5000, std::nullopt, B));
    EXPECT_FALSE(build_length_dfa(0, UINT64_MAX, S));
    auto big = build_length_dfa(0, 4000, B);
    ASSERT_TRUE(big);
    EXPECT_EQ(big->state_count(), 4002u);
}

// The unit written as a bytes pattern: one UTF-8 sequence, surrogate
// encodings included.
constexpr const char* kUtf8Unit =
    "(?s-u:[\\x00-\\x7F]|[\\xC2-\\xDF][\\x80-\\xBF]|\\xE0[\\xA0-\\xBF][\\x80-\\xBF]|[\\xE1-\\xEF][\\x80-\\xBF][\\x80-\\xBF]|"
    "\\xF0[\\x90-\\xBF][\\x80-\\xBF][\\x80-\\xBF]|[\\xF1-\\xF3][\\x80-\\xBF][\\x80-\\xBF][\\x80-\\xBF]|"
    "\\xF4[\\x80-\\x8F][\\x80-\\xBF][\\x80-\\xBF])";

TEST(PatternLengthDfa, EqualsTheMinimisedRepetitionOfTheUnit) {
    struct Case {
        std::uint64_t min;
        std::optional<std::uint64_t> max;
    };
    const Case cases[] = {{0, 0}, {0, 1}, {1, 1}, {0, 5}, {2, 5}, {3, 3}, {0, std::nullopt},
                          {1, std::nullopt}, {4, std::nullopt}, {7, 20}};
    for (const Case& c : cases) {
        const std::string bounds = "{" + std::to_string(c.min) + "," + (c.max ? std::to_string(*c.max) : "") + "}";
        for (const TextKind kind : {S, B}) {
            const std::string unit = kind == S ? kUtf8Unit : "(?s-u:.)";
            const auto expected = build_dfa("(?:" + unit + ")" + bounds, B);
            const auto built = build_length_dfa(c.min, c.max, kind);
            ASSERT_TRUE(expected && built) << bounds;
            EXPECT_EQ(*built, *expected) << (kind == S ? "str " : "bytes ") << bounds;
        }
    }
}

TEST(PatternLengthDfa, IsMinimalSoTheCapAppliesToTheMinimalCount) {
    struct Case {
        std::uint64_t min;
        std::optional<std::uint64_t> max;
        TextKind kind;
        std::size_t states;  // 0: none, past the cap
    };
    // At most n code points: a boundary state per count, six partial states
    // per count still to reach, one dead state.  At least n: the same, the
    // last count looping on itself.
    const Case cases[] = {
        {0, 300, S, 7 * 300 + 2},  {0, 584, S, 4090},        {0, 585, S, 0},
        {0, std::nullopt, S, 8},   {1, std::nullopt, S, 9},  {300, std::nullopt, S, 7 * 300 + 2},
        {584, std::nullopt, S, 4090}, {585, std::nullopt, S, 0}, {10, 584, S, 4090},
        {0, 4094, B, 4096},        {0, 4095, B, 0},          {4095, std::nullopt, B, 4096},
        {4096, std::nullopt, B, 0}, {0, UINT64_MAX, S, 0},   {UINT64_MAX, std::nullopt, B, 0},
    };
    for (const Case& c : cases) {
        const auto d = build_length_dfa(c.min, c.max, c.kind);
        const std::string name = std::to_string(c.min) + ".." + (c.max ? std::to_string(*c.max) : "");
        if (c.states == 0) {
            EXPECT_FALSE(d) << name;
            continue;
        }
        ASSERT_TRUE(d) << name;
        EXPECT_EQ(d->state_count(), c.states) << name;
        expect_canonical(*d);
    }
    // The edges of the largest str bound: 584 code points of four bytes
    // each fit, one more code point does not.
    const auto d = build_length_dfa(0, 584, S);
    ASSERT_TRUE(d);
    std::string text;
    for (int i = 0; i < 584; ++i) text += "\xF0\x9F\x98\x80";
    EXPECT_TRUE(d->accepts(text));
    EXPECT_FALSE(d->accepts(text + "a"));
    EXPECT_FALSE(d->accepts(text.substr(0, text.size() - 1)));
    const auto at_least = build_length_dfa(584, std::nullopt, S);
    ASSERT_TRUE(at_least);
    EXPECT_TRUE(at_least->accepts(text + "\xED\xA0\x80"));
    EXPECT_FALSE(at_least->accepts(text.substr(4)));
}

// A small generator of patterns over a two-letter world plus a few
// assertions, for cross-checking the automaton against the matcher.
std::string random_pattern(std::mt19937& rng, int depth) {
    const int pick = static_cast<int>(rng() % (depth > 3 ? 6 : 12));
    switch (pick) {
        case 0: return "a";
        case 1: return "b";
        case 2: return "[ab]";
        case 3: return ".";
        case 4: return "(?-u:\\b)";
        case 5: return (rng() & 1) ? "(?m:^)" : "(?m:$)";
        case 6: return random_pattern(rng, depth + 1) + random_pattern(rng, depth + 1);
        case 7: return "(?:" + random_pattern(rng, depth + 1) + "|" + random_pattern(rng, depth + 1) + ")";
        case 8: return "(?:" + random_pattern(rng, depth + 1) + ")*";
        case 9: return "(?:" + random_pattern(rng, depth + 1) + ")+?";
        case 10: return "(?:" + random_pattern(rng, depth + 1) + "){1,3}";
        default: return "(?i:" + random_pattern(rng, depth + 1) + ")?";
    }
}

TEST(PatternDfa, RandomizedAgreementWithMatcher) {
    std::mt19937 rng(20240611);
    const std::vector<std::string> texts = all_texts("aAb\n ", 5);
    int checked = 0;
    for (int i = 0; i < 300; ++i) {
        const std::string p = random_pattern(rng, 0);
        for (TextKind k : {S, B}) {
            auto d = build_dfa(p, k);
            auto m = compile_full_match(p, k);
            ASSERT_TRUE(std::holds_alternative<std::shared_ptr<const FullMatcher>>(m)) << p;
            ASSERT_TRUE(d) << p;
            const auto& matcher = *std::get<std::shared_ptr<const FullMatcher>>(m);
            for (const std::string& t : texts) {
                ASSERT_EQ(d->accepts(t), matcher.matches(t)) << "pattern " << p << " text [" << t << "]";
            }
            expect_canonical(*d);
            ++checked;
        }
    }
    EXPECT_EQ(checked, 600);
}

TEST(PatternDfa, MinimizeKeepsTheLanguageOfAnyAutomaton) {
    // Random complete automata, minimised, accept the same texts.
    std::mt19937 rng(5);
    const std::vector<std::string> texts = all_texts("\x01\x02\x03", 6);
    for (int round = 0; round < 50; ++round) {
        Dfa d;
        const std::uint32_t n = 1 + rng() % 12;
        d.class_count = 3;
        for (int b = 0; b < 256; ++b) d.class_map[b] = static_cast<std::uint16_t>(b % 3);
        for (std::uint32_t s = 0; s < n; ++s) {
            for (int c = 0; c < 3; ++c) d.transitions.push_back(rng() % n);
            d.accepting.push_back(rng() % 3 == 0);
        }
        const Dfa m = minimize(d);
        for (const std::string& t : texts) ASSERT_EQ(m.accepts(t), d.accepts(t));
        expect_canonical(m);
        EXPECT_LE(m.state_count(), n);
    }
}

}  // namespace
}  // namespace tessaron::pattern
