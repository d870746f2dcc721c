// A matcher with a lazy DFA of its own (FullMatcher::with_cache), for a set
// of texts matched one after the other: it answers as the matcher it came
// from on every text whatever its cache size, the states its texts share
// are built once, and the large sets of NFA states it orders by marking
// bits read as the same states as sorted ones.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/pattern/nfa.h"
#include "core/pattern/nfa_sim.h"
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

std::string numbered(std::size_t i, int width) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*zu", width, i);
    return buf;
}

// An alternation of `n` zero-padded numbers of `width` digits.
std::string numbers_alternation(std::size_t n, int width) {
    std::string p;
    for (std::size_t i = 0; i < n; ++i) {
        if (i) p.push_back('|');
        p += numbered(i, width);
    }
    return p;
}

// The texts of a case file line by line: the pattern lines ('P', kind,
// pattern) and the texts after each ('T', expected, text), escapes as
// gen_differential_cases.py writes them.
struct Case {
    std::string pattern;
    TextKind kind;
    std::vector<std::pair<std::string, bool>> texts;
};

std::string unescape(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 >= s.size()) {
            out.push_back(s[i]);
            continue;
        }
        const char c = s[++i];
        if (c == 'n') out.push_back('\n');
        else if (c == 't') out.push_back('\t');
        else if (c == 'r') out.push_back('\r');
        else if (c == 'x' && i + 2 < s.size()) {
            out.push_back(static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::vector<Case> committed_cases() {
    std::ifstream in((std::filesystem::path(__FILE__).parent_path() / "differential_cases.txt").string());
    std::vector<Case> cases;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const std::size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1);
        if (t1 == std::string::npos || t2 == std::string::npos) continue;
        const std::string a = line.substr(t1 + 1, t2 - t1 - 1), body = unescape(line.substr(t2 + 1));
        if (line[0] == 'P') cases.push_back(Case{body, a == "b" ? TextKind::Bytes : TextKind::Str, {}});
        else if (line[0] == 'T' && !cases.empty()) cases.back().texts.emplace_back(body, a == "1");
    }
    return cases;
}

class TextSetCacheSize : public ::testing::TestWithParam<std::size_t> {};

TEST_P(TextSetCacheSize, AnswersAsTheMatcherItCameFrom) {
    // All the texts of a pattern go through one cached matcher, in order and
    // then again reversed, so that later texts run on states earlier ones
    // built (and, with the smallest cache, on a table reset between them).
    const std::vector<Case> cases = committed_cases();
    ASSERT_GT(cases.size(), 100u);
    for (const Case& c : cases) {
        auto m = compile_ok(c.pattern, c.kind);
        if (!m) continue;
        auto set = m->with_cache(GetParam());
        EXPECT_EQ(set->kind(), c.kind);
        for (int round = 0; round < 2; ++round)
            for (std::size_t i = 0; i < c.texts.size(); ++i) {
                const auto& [text, expected] = c.texts[round == 0 ? i : c.texts.size() - 1 - i];
                EXPECT_EQ(set->matches(text), expected) << c.pattern << " ~ [" << text << "]";
            }
    }
}

INSTANTIATE_TEST_SUITE_P(CacheBytes, TextSetCacheSize,
                         ::testing::Values(std::size_t{0}, std::size_t{64} << 10, std::size_t{16} << 20));

TEST(TextSetMatcher, SharedPrefixesAreBuiltOnce) {
    // Codes of 11 digits against an alternation of 60,000 of them: every
    // code shares its first six digits with all the words, so the states
    // along a code hold up to 60,000 NFA states each, more than the
    // matcher's own 2 MiB cache keeps.  The matcher with a cache of its own
    // builds the states of the common prefixes once for all the codes.
    auto m = compile_ok(numbers_alternation(60000, 11));
    ASSERT_TRUE(m);
    std::vector<std::string> codes;
    for (std::size_t i = 0; i < 300; ++i) codes.push_back(numbered(i * 197 % 60000, 11));

    auto one = m->with_cache(std::size_t{16} << 20);
    EXPECT_TRUE(one->matches(codes[0]));
    const std::uint64_t single = one->stats().nfa_work;

    auto set = m->with_cache(std::size_t{16} << 20);
    for (const std::string& code : codes) EXPECT_TRUE(set->matches(code)) << code;
    EXPECT_FALSE(set->matches("00000060000"));
    const MatchStats stats = set->stats();
    EXPECT_EQ(stats.dfa_resets, 0u);
    EXPECT_LE(stats.nfa_work, 4 * single);  // 300 codes: about 1.4 times one alone

    // The matcher it came from is untouched, and alone it redoes the shared
    // prefixes for most codes.
    EXPECT_EQ(m->stats().nfa_work, 0u);
    for (const std::string& code : codes) EXPECT_TRUE(m->matches(code)) << code;
    EXPECT_GT(m->stats().nfa_work, 20 * single);
}

Nfa nfa_of(const std::string& pattern) {
    ParseOptions options;
    options.utf8 = true;
    auto hir = parse(pattern, options);
    EXPECT_TRUE(std::holds_alternative<Hir>(hir)) << pattern;
    auto nfa = compile_nfa(std::get<Hir>(hir), NfaLimits{});
    EXPECT_TRUE(std::holds_alternative<Nfa>(nfa)) << pattern;
    return std::move(std::get<Nfa>(nfa));
}

TEST(TextSetMatcher, LargeStateSetsAgreeWithSimulation) {
    // Nested counted repetitions keep thousands of NFA states alive at
    // once, so the DFA orders its sets by bits; a wrong order or a stale
    // bit would merge or split states, and answers would differ from the
    // NFA simulation's.
    const std::vector<std::string> patterns = {"(?:[ab]{0,30}c?){0,30}", "(?:a{0,40}b?){0,40}",
                                               "(?:(?:ab|ba){0,20}[abc]){0,25}d"};
    std::mt19937 rng(7);
    for (const std::string& p : patterns) {
        const Nfa nfa = nfa_of(p);
        auto m = compile_ok(p);
        ASSERT_TRUE(m);
        auto set = m->with_cache(std::size_t{1} << 20);
        for (int i = 0; i < 400; ++i) {
            std::string text(rng() % 120, 'a');
            for (char& ch : text) ch = "abcd"[rng() % (i % 2 ? 4 : 2)];
            std::uint64_t work = 0;
            const bool expected = simulate(nfa, text, 0, start_set(nfa), work);
            EXPECT_EQ(set->matches(text), expected) << p << " ~ [" << text << "]";
        }
    }
}

}  // namespace
}  // namespace tessaron::pattern
