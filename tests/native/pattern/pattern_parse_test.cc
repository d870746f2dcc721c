// Parse errors of the pattern dialect: each is a value with the dialect's
// message and the offset of the faulty construct, for str and bytes
// patterns alike unless the case says otherwise.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "core/pattern/dfa.h"

#include "core/pattern/pattern.h"

namespace tessaron::pattern {
namespace {

struct ErrorCase {
    std::string pattern;
    TextKind kind;
    const char* message;  // nullptr: the pattern compiles
    std::size_t offset;
};

std::ostream& operator<<(std::ostream& os, const ErrorCase& c) { return os << c.pattern; }

class PatternErrorTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(PatternErrorTest, ReportsMessageAndOffset) {
    const ErrorCase& c = GetParam();
    auto r = compile_full_match(c.pattern, c.kind);
    if (c.message == nullptr) {
        ASSERT_TRUE(std::holds_alternative<std::shared_ptr<const FullMatcher>>(r))
            << std::get<Error>(r).message;
        return;
    }
    ASSERT_TRUE(std::holds_alternative<Error>(r)) << "compiled: " << c.pattern;
    EXPECT_EQ(std::get<Error>(r).message, c.message);
    EXPECT_EQ(std::get<Error>(r).offset, c.offset);
}

constexpr TextKind S = TextKind::Str;
constexpr TextKind B = TextKind::Bytes;

INSTANTIATE_TEST_SUITE_P(
    Dialect, PatternErrorTest,
    ::testing::Values(
        ErrorCase{"(a", S, "unclosed group", 0},
        ErrorCase{"a)", S, "unopened group", 1},
        // The pattern must parse on its own: wrapping it in text could not
        // smuggle the ")" past the anchors.
        ErrorCase{"a)|(?:b", S, "unopened group", 1},
        ErrorCase{"[a", S, "unclosed character class", 0},
        ErrorCase{"[]", S, "unclosed character class", 0},
        ErrorCase{"[]a]", S, nullptr, 0},
        ErrorCase{"\\1", S, "backreferences are not supported", 0},
        ErrorCase{"\\0", S, "backreferences are not supported", 0},
        ErrorCase{"a{2,1}", S, "invalid repetition count range, the start must be <= the end", 1},
        ErrorCase{"a{", S, "unclosed counted repetition", 1},
        ErrorCase{"a{x}", S, "repetition quantifier expects a valid decimal", 2},
        ErrorCase{"x{99999999999}", S, "decimal literal invalid", 2},
        ErrorCase{"(?=a)", S, "look-around, including look-ahead and look-behind, is not supported", 0},
        ErrorCase{"a(?>b)", S, "atomic groups are not supported", 1},
        ErrorCase{"a(?#note)", S, "comment groups are not supported", 1},
        // A + right after a quantifier makes it possessive in Python's re.
        ErrorCase{"a++a", S, "possessive quantifiers are not supported", 1},
        ErrorCase{"a*+", S, "possessive quantifiers are not supported", 1},
        ErrorCase{"a?+", B, "possessive quantifiers are not supported", 1},
        ErrorCase{"(?:ab){1,2}+", S, "possessive quantifiers are not supported", 6},
        ErrorCase{"a{2}+", S, "possessive quantifiers are not supported", 1},
        ErrorCase{"a+?", S, nullptr, 0},
        ErrorCase{"a{1,2}?", S, nullptr, 0},
        // A quantifier right after another is "multiple repeat" to `re`,
        // where nesting would read a{2}{3} as a{6}; a group in between
        // repeats a repetition.
        ErrorCase{"a**", S, "multiple repeat: stacked quantifiers are not supported", 2},
        ErrorCase{"a{2}{3}", S, "multiple repeat: stacked quantifiers are not supported", 4},
        ErrorCase{"a+?+", B, "multiple repeat: stacked quantifiers are not supported", 3},
        ErrorCase{"a??+", S, "multiple repeat: stacked quantifiers are not supported", 3},
        ErrorCase{"a*{2}+", S, "multiple repeat: stacked quantifiers are not supported", 2},
        ErrorCase{"(?x)a+ +", S, "multiple repeat: stacked quantifiers are not supported", 7},
        ErrorCase{"(?:a*)*", S, nullptr, 0},
        ErrorCase{"(?:a{2}){3}", S, nullptr, 0},
        ErrorCase{"a+ +", S, nullptr, 0},
        ErrorCase{"a{2}{", S, "unclosed counted repetition", 4},
        ErrorCase{"(?<!a)b", S, "look-around, including look-ahead and look-behind, is not supported", 0},
        ErrorCase{"\\xZZ", S, "invalid hexadecimal digit", 2},
        ErrorCase{"\\x{}", S, "hexadecimal literal empty", 0},
        ErrorCase{"\\u{D800}", S, "hexadecimal literal is not a Unicode scalar value", 0},
        ErrorCase{"\\x{110000}", S, "hexadecimal literal is not a Unicode scalar value", 0},
        // A surrogate stays unnamable, alone or as a range end, in either kind.
        ErrorCase{"[\\uDBFF]", S, "hexadecimal literal is not a Unicode scalar value", 1},
        ErrorCase{"[a-\\x{DFFF}]", S, "hexadecimal literal is not a Unicode scalar value", 3},
        ErrorCase{"[\\U0000D800-\\x{E000}]", B, "hexadecimal literal is not a Unicode scalar value", 1},
        ErrorCase{"\\x4", S, "incomplete escape sequence, reached end of pattern prematurely", 0},
        ErrorCase{"\\", S, "incomplete escape sequence, reached end of pattern prematurely", 0},
        ErrorCase{"\\q", S, "unrecognized escape sequence", 0},
        ErrorCase{"\\<", S, nullptr, 0},
        ErrorCase{"\\%\\ \\#\\&\\~", S, nullptr, 0},
        ErrorCase{"(?-u:\\xFF)", S, "pattern can match invalid UTF-8", 5},
        ErrorCase{"(?-u:\\xFF)", B, nullptr, 0},
        ErrorCase{"(?-u:.)", S, "pattern can match invalid UTF-8", 5},
        ErrorCase{"(?-u:.)", B, nullptr, 0},
        ErrorCase{"(?-u)[^a]", S, "pattern can match invalid UTF-8", 5},
        ErrorCase{"(?-u)[^a]", B, nullptr, 0},
        ErrorCase{"(?-u)\\W", S, "pattern can match invalid UTF-8", 5},
        ErrorCase{"(?-u)\\w\\b", S, nullptr, 0},
        ErrorCase{"(?-u:\\B)", S, "pattern can match invalid UTF-8", 5},
        ErrorCase{"(?-u:\\B)", B, nullptr, 0},
        ErrorCase{"(?-u:é)", B, "Unicode not allowed here", 5},
        ErrorCase{"(?-u:\\pL)", B, "Unicode not allowed here", 5},
        ErrorCase{"(?-u:[é])", B, "Unicode not allowed here", 6},
        ErrorCase{"*", S, "repetition operator missing expression", 0},
        ErrorCase{"a|*", S, "repetition operator missing expression", 2},
        ErrorCase{"(?i)*", S, "repetition operator missing expression", 4},
        ErrorCase{"(?)", S, "repetition operator missing expression", 1},
        ErrorCase{"(?i", S, "expected flag but got end of regex", 3},
        ErrorCase{"(?ii)", S, "duplicate flag", 3},
        ErrorCase{"(?--i)", S, "flag negation operator repeated", 3},
        ErrorCase{"(?i-)", S, "dangling flag negation operator", 3},
        ErrorCase{"(?q)", S, "unrecognized flag", 2},
        ErrorCase{"(?imsxuUR)a", S, nullptr, 0},
        ErrorCase{"(?P<>a)", S, "empty capture group name", 4},
        ErrorCase{"(?P<1a>a)", S, "invalid capture group character", 4},
        ErrorCase{"(?P<a>x)(?<a>y)", S, "duplicate capture group name", 11},
        ErrorCase{"(?P<a", S, "unclosed capture group name", 4},
        ErrorCase{"\\p{Foo}", S, "Unicode property not found", 0},
        ErrorCase{"\\p{Script}", S, "Unicode property not found", 0},
        ErrorCase{"\\p{sc=Foo}", S, "Unicode property value not found", 0},
        ErrorCase{"\\p{Greek", S, "incomplete escape sequence, reached end of pattern prematurely", 0},
        ErrorCase{"[\\b]", S, "invalid escape sequence found in character class", 1},
        ErrorCase{"[a-\\d]", S, "invalid range boundary, must be a literal", 3},
        ErrorCase{"[z-a]", S, "invalid character class range, the start must be <= the end", 1},
        ErrorCase{"\\b{foo}", S,
                  "unrecognized special word boundary assertion, valid choices are: start, end, start-half or "
                  "end-half",
                  0},
        ErrorCase{"\\b{start", S,
                  "special word boundary assertion is either unclosed or contains an invalid character", 0},
        ErrorCase{"\\b{2}", S, nullptr, 0},
        ErrorCase{std::string("a\xFF"), S, "pattern is not valid UTF-8", 1},
        ErrorCase{std::string("[a-\xED\xA0\x80]"), S, "pattern is not valid UTF-8", 3},
        // A verbose pattern may end in a comment.
        ErrorCase{"(?x)a # trailing comment", S, nullptr, 0}));

TEST(PatternNesting, LimitIs250Levels) {
    auto nested = [](int n, const std::string& core) { return std::string(n, '(') + core + std::string(n, ')'); };
    EXPECT_TRUE(std::holds_alternative<std::shared_ptr<const FullMatcher>>(compile_full_match(nested(250, "a"), TextKind::Str)));
    auto r = compile_full_match(nested(251, "a"), TextKind::Str);
    ASSERT_TRUE(std::holds_alternative<Error>(r));
    EXPECT_EQ(std::get<Error>(r).message, "exceed the maximum number of nested parentheses/brackets (250)");
    // Repetitions nest too (each level of (?:...)* is a group and a
    // repetition), and deep class nesting is refused the same way.
    std::string repeated = "a";
    for (int i = 0; i < 126; ++i) repeated = "(?:" + repeated + ")*";
    auto deep = compile_full_match(repeated, TextKind::Str);
    ASSERT_TRUE(std::holds_alternative<Error>(deep));
    EXPECT_EQ(std::get<Error>(deep).message, "exceed the maximum number of nested parentheses/brackets (250)");
    EXPECT_TRUE(std::holds_alternative<Error>(compile_full_match(std::string(300, '[') + "a" + std::string(300, ']'), TextKind::Str)));
    // Far past the limit the parser still answers with an error, not a crash.
    EXPECT_TRUE(std::holds_alternative<Error>(compile_full_match(std::string(100000, '('), TextKind::Str)));
}

TEST(PatternErrorFormat, CountsCharactersNotBytes) {
    const std::string p = "é(";
    auto r = compile_full_match(p, TextKind::Str);
    ASSERT_TRUE(std::holds_alternative<Error>(r));
    EXPECT_EQ(std::get<Error>(r).offset, 2u);
    EXPECT_EQ(format_error(std::get<Error>(r), p), "unclosed group at position 1");
}

TEST(PatternSize, HugeRepetitionIsAnErrorNotAHang) {
    auto r = compile_full_match("(?:(?:a{1000}){1000}){1000}", TextKind::Str);
    ASSERT_TRUE(std::holds_alternative<Error>(r));
    EXPECT_EQ(std::get<Error>(r).message, "compiled pattern exceeds the size limit");
}

TEST(PatternSize, ShortPatternsWithAProgramTooLargeToStepAreRefused) {
    // The program's size bounds the work of every byte of text, so a short
    // pattern that unrolls into millions of NFA states (four million units,
    // a million states visited per byte) is refused; the largest Unicode
    // class repetitions patterns are expected to write still compile.
    for (const char* p : {"(?:a{0,1000}){0,1000}", "(?:\\w{0,1000}){2}", "\\pL{1700}"}) {
        auto r = compile_full_match(p, TextKind::Str);
        ASSERT_TRUE(std::holds_alternative<Error>(r)) << p;
        EXPECT_EQ(std::get<Error>(r).message, "compiled pattern exceeds the size limit") << p;
    }
    for (const char* p : {"\\w{0,1000}", "(?i)\\w{1000}", "[\\p{L}]{1,1000}", "\\d{0,1000}"})
        EXPECT_TRUE(std::holds_alternative<std::shared_ptr<const FullMatcher>>(compile_full_match(p, TextKind::Str)))
            << p;
}

TEST(PatternSize, TheLargestCountsAreRefusedLikeTheirNeighbours) {
    // 2^32 - 1 once read as "unbounded", so a{0,4294967295} matched every
    // run of a's while a{0,4294967294} was refused; 2^32 is not a count.
    for (const char* p : {"a{0,4294967295}", "a{0,4294967294}", "a{4294967295}", "a{4294967295,}",
                          "(?:){0,4294967295}", "\\b{0,4294967295}"}) {
        auto r = compile_full_match(p, TextKind::Str);
        ASSERT_TRUE(std::holds_alternative<Error>(r)) << p;
        EXPECT_EQ(std::get<Error>(r).message, "compiled pattern exceeds the size limit") << p;
    }
    // A repetition is refused as soon as its first copy shows that all of
    // them cannot fit, and only then: one that fits still compiles.
    EXPECT_TRUE(std::holds_alternative<std::shared_ptr<const FullMatcher>>(compile_full_match("a{2000000}", TextKind::Str)));
    EXPECT_TRUE(std::holds_alternative<std::shared_ptr<const FullMatcher>>(compile_full_match("(?:ab){0,400000}", TextKind::Str)));
    EXPECT_TRUE(std::holds_alternative<Error>(compile_full_match("(?:ab){0,420000}", TextKind::Str)));
    // The automaton of the decisions reads counts the same way.
    EXPECT_FALSE(build_dfa("a{0,4294967295}", TextKind::Str).has_value());
    auto r = compile_full_match("a{0,4294967296}", TextKind::Str);
    ASSERT_TRUE(std::holds_alternative<Error>(r));
    EXPECT_EQ(std::get<Error>(r).message, "decimal literal invalid");
}

TEST(PatternRobustness, MalformedInputGivesValuesNotCrashes) {
    // Random splices of syntax fragments and raw bytes: every compile answers
    // with a matcher or an error whose offset lies inside the pattern.
    static const char* const kPieces[] = {
        "a", "(", ")", "[", "]", "|", "*", "+?", "{", "}", "{2,", "3}", "^", "$", ".", "\\", "\\b{", "\\d",
        "\\p{", "L}", "\\x{", "FF", "\\u", "(?", "i", "-", ":", "(?x)", "#", " ", "\n", "&&", "--", "~~",
        "[:", ":]", "[^", "\xC3", "\xFF", "(?P<", ">", "\\b{start}", "{,", "\\0", "\\Q",
    };
    std::mt19937 rng(99);
    for (int i = 0; i < 20000; ++i) {
        std::string p;
        for (int k = static_cast<int>(rng() % 10); k >= 0; --k) p += kPieces[rng() % std::size(kPieces)];
        if (rng() % 8 == 0) p.push_back(static_cast<char>(rng()));
        const TextKind kind = (i & 1) ? TextKind::Bytes : TextKind::Str;
        auto r = compile_full_match(p, kind);
        if (auto* e = std::get_if<Error>(&r)) {
            EXPECT_LE(e->offset, p.size()) << p;
            EXPECT_FALSE(e->message.empty()) << p;
            EXPECT_FALSE(build_dfa(p, kind)) << "automaton built for a refused pattern " << p;
        } else {
            const FullMatcher& m = *std::get<std::shared_ptr<const FullMatcher>>(r);
            (void)m.matches(p);
        }
    }
}

}  // namespace
}  // namespace tessaron::pattern
