// Text automata: builders against the matcher and their definitions,
// products, unions and complements against brute force over every text of
// up to 4 bytes drawn from a small alphabet, the canonical form, the state
// cap, the two universes and the literal chain.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/descr/values/text_automaton.h"
#include "core/descr/values/text_literal.h"
#include "core/descr/values/text_product.h"

namespace tessaron::descr {
namespace {

constexpr TextKind S = TextKind::Str;
constexpr TextKind B = TextKind::Bytes;

// ASCII letters, the bytes of é (C3 A9) and of U+1D49C (F0 9D 92 9C).
const std::string kAlphabet = "ab\xC3\xA9\xF0\x9D\x92\x9C";

const std::vector<std::string>& texts() {
    static const std::vector<std::string> all = [] {
        std::vector<std::string> out = {""};
        for (std::size_t i = 0; i < out.size(); ++i) {
            if (out[i].size() == 4) continue;
            for (char c : kAlphabet) out.push_back(out[i] + c);
        }
        return out;
    }();
    return all;
}

// The number of code points of a text made of one-to-four-byte UTF-8
// sequences (surrogate encodings allowed), or -1 when it is not one.
int utf8_length(std::string_view t) {
    int n = 0;
    for (std::size_t i = 0; i < t.size(); ++n) {
        const auto b = static_cast<std::uint8_t>(t[i]);
        std::size_t len = 0;
        std::uint32_t cp = 0;
        if (b < 0x80) len = 1, cp = b;
        else if (b >= 0xC2 && b <= 0xDF) len = 2, cp = b & 0x1F;
        else if (b >= 0xE0 && b <= 0xEF) len = 3, cp = b & 0x0F;
        else if (b >= 0xF0 && b <= 0xF4) len = 4, cp = b & 0x07;
        else return -1;
        if (i + len > t.size()) return -1;
        for (std::size_t k = 1; k < len; ++k) {
            const auto c = static_cast<std::uint8_t>(t[i + k]);
            if ((c & 0xC0) != 0x80) return -1;
            cp = (cp << 6) | (c & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return -1;
        i += len;
    }
    return n;
}

bool accepts(const SharedTextAutomaton& a, std::string_view t) { return a->accepts(t); }

void expect_canonical(const TextAutomaton& a, const std::string& what) {
    ASSERT_TRUE(text_automaton_is_well_formed(a)) << what;
    EXPECT_EQ(pattern::minimize(a), a) << what << " is minimal and canonically numbered";
}

struct Named {
    std::string name;
    SharedTextAutomaton automaton;
};

SharedTextAutomaton must(SharedTextAutomaton a, const std::string& what) {
    EXPECT_TRUE(a) << what;
    return a;
}

const std::vector<std::pair<std::string, TextKind>> kPatterns = {
    {"", S},          {"a", S},          {"a|b", S},       {"(a|b)*", S},       {"[ab]*b", S},
    {"é+", S},        {".", S},          {".*", S},        {"a{2,3}", S},       {"[^a]", S},
    {"(?:ab|é)*", S}, {"\\w+", S},       {"𝒜|a", S},       {"(a|é)b?", S},      {"a|ab", S},
    {"[^é]*", S},     {"(?-u:[\\x80-\\xFF])+", B},         {"a(?-u:.)*", B},    {"(?s-u:.){2}", B},
    {"é|b", B},
};

// Automata of every builder, and complements, for the products.
std::vector<Named> family() {
    std::vector<Named> out;
    for (const auto& [p, k] : kPatterns) {
        const std::string name = std::string(k == S ? "str " : "bytes ") + "/" + p + "/";
        out.push_back({name, must(pattern_automaton(p, k), name)});
    }
    out.push_back({"min 2 str", must(min_length_automaton(2, S), "min 2 str")});
    out.push_back({"max 1 str", must(max_length_automaton(1, S), "max 1 str")});
    out.push_back({"min 3 bytes", must(min_length_automaton(3, B), "min 3 bytes")});
    out.push_back({"max 2 bytes", must(max_length_automaton(2, B), "max 2 bytes")});
    for (std::string lit : {std::string(""), std::string("ab"), std::string("\xC3\xA9"),
                            std::string("\xF0\x9D\x92\x9C"), std::string("\xC3"), std::string("aa")})
        out.push_back({"literal '" + lit + "'", must(literal_text_automaton(lit), lit)});
    out.push_back({"str universe", str_universe()});
    out.push_back({"bytes universe", bytes_universe()});
    const std::size_t n = out.size();
    for (std::size_t i = 0; i < n; i += 3)
        out.push_back({"not " + out[i].name, text_automaton_complement(out[i].automaton)});
    return out;
}

TEST(TextAutomaton, PatternsAgreeWithTheMatcher) {
    for (const auto& [p, k] : kPatterns) {
        const SharedTextAutomaton a = pattern_automaton(p, k);
        ASSERT_TRUE(a) << p;
        expect_canonical(*a, p);
        auto m = pattern::compile_full_match(p, k);
        ASSERT_EQ(m.index(), 0u) << p;
        const auto& matcher = std::get<0>(m);
        for (const std::string& t : texts()) {
            // The walk only ever hands a str pattern the UTF-8 form of a str.
            if (k == S && utf8_length(t) < 0) continue;
            ASSERT_EQ(accepts(a, t), matcher->matches(t)) << "/" << p << "/ on '" << t << "'";
        }
    }
}

TEST(TextAutomaton, LengthLiteralAndUniverseBuildersAgreeWithTheirDefinitions) {
    struct Case {
        const char* name;
        SharedTextAutomaton a;
        std::function<bool(const std::string&)> member;
    };
    const std::vector<Case> cases = {
        {"min 2 str", min_length_automaton(2, S), [](const std::string& t) { return utf8_length(t) >= 2; }},
        {"max 1 str", max_length_automaton(1, S),
         [](const std::string& t) { return utf8_length(t) >= 0 && utf8_length(t) <= 1; }},
        {"max 0 str", max_length_automaton(0, S), [](const std::string& t) { return t.empty(); }},
        {"min 0 str", min_length_automaton(0, S), [](const std::string& t) { return utf8_length(t) >= 0; }},
        {"min 3 bytes", min_length_automaton(3, B), [](const std::string& t) { return t.size() >= 3; }},
        {"max 2 bytes", max_length_automaton(2, B), [](const std::string& t) { return t.size() <= 2; }},
        {"literal ''", literal_text_automaton(""), [](const std::string& t) { return t.empty(); }},
        {"literal 'a\\xC3a'", literal_text_automaton("a\xC3" "a"),
         [](const std::string& t) { return t == "a\xC3" "a"; }},
        {"str universe", str_universe(), [](const std::string& t) { return utf8_length(t) >= 0; }},
        {"bytes universe", bytes_universe(), [](const std::string&) { return true; }},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(c.a) << c.name;
        expect_canonical(*c.a, c.name);
        for (const std::string& t : texts()) ASSERT_EQ(accepts(c.a, t), c.member(t)) << c.name << " on '" << t << "'";
    }
    // é is one code point and two bytes.
    EXPECT_TRUE(max_length_automaton(1, S)->accepts("\xC3\xA9"));
    EXPECT_FALSE(max_length_automaton(1, B)->accepts("\xC3\xA9"));
    // Counting past the state cap cannot be represented.
    EXPECT_FALSE(min_length_automaton(5000, B));
    EXPECT_FALSE(max_length_automaton(4096, S));
}

TEST(TextAutomaton, ALengthRangeIsTheMeetOfItsBoundsAndAsSmallAsTheLargerOne) {
    struct Case {
        std::uint64_t least, most;
    };
    for (const TextKind kind : {S, B}) {
        for (const Case c : {Case{0, 0}, Case{1, 3}, Case{2, 2}, Case{3, 40}, Case{100, 300}}) {
            const auto range = length_range_automaton(c.least, c.most, kind);
            const auto meet = combine_text_automata(min_length_automaton(c.least, kind),
                                                    max_length_automaton(c.most, kind));
            ASSERT_TRUE(range && meet.automaton) << c.least << ".." << c.most;
            EXPECT_TRUE(text_automaton_equal(range, meet.automaton)) << c.least << ".." << c.most;
            EXPECT_EQ(range->state_count(), max_length_automaton(c.most, kind)->state_count());
        }
        // Crossed bounds: nothing.
        const auto crossed = length_range_automaton(5000, 10, kind);
        ASSERT_TRUE(crossed);
        EXPECT_TRUE(text_automaton_is_empty(*crossed));
    }
    // 584 code points is the largest str bound within 4096 states.
    ASSERT_TRUE(length_range_automaton(300, 584, S));
    EXPECT_EQ(length_range_automaton(300, 584, S)->state_count(), 7u * 584 + 2);
    EXPECT_FALSE(length_range_automaton(300, 585, S));
}

TEST(TextAutomaton, ProductsUnionsAndComplementsAgreeWithBruteForce) {
    const auto all = family();
    for (const Named& a : all) {
        const SharedTextAutomaton c = text_automaton_complement(a.automaton);
        expect_canonical(*c, "not " + a.name);
        for (const std::string& t : texts()) ASSERT_NE(accepts(c, t), accepts(a.automaton, t)) << a.name;
        for (const Named& b : all) {
            const TextProduct meet = combine_text_automata(a.automaton, b.automaton);
            const TextProduct join = text_automaton_union(a.automaton, b.automaton);
            ASSERT_TRUE(meet.automaton && join.automaton) << a.name << ", " << b.name;
            expect_canonical(*meet.automaton, a.name + " & " + b.name);
            expect_canonical(*join.automaton, a.name + " | " + b.name);
            EXPECT_GT(meet.work, 0u);
            for (const std::string& t : texts()) {
                const bool x = accepts(a.automaton, t), y = accepts(b.automaton, t);
                ASSERT_EQ(accepts(meet.automaton, t), x && y) << a.name << " & " << b.name << " on '" << t << "'";
                ASSERT_EQ(accepts(join.automaton, t), x || y) << a.name << " | " << b.name << " on '" << t << "'";
            }
            // Commutative up to the canonical form.
            EXPECT_EQ(*meet.automaton, *combine_text_automata(b.automaton, a.automaton).automaton);
        }
    }
}

TEST(TextAutomaton, EqualLanguagesGiveIdenticalAutomata) {
    struct Case {
        SharedTextAutomaton a, b;
        const char* name;
    };
    const std::vector<Case> cases = {
        {pattern_automaton("(a|b)*", S), pattern_automaton("[ab]*", S), "(a|b)* and [ab]*"},
        {pattern_automaton("a|ab", S), pattern_automaton("ab?", S), "a|ab and ab?"},
        {text_automaton_union(literal_text_automaton("a"), literal_text_automaton("b")).automaton,
         pattern_automaton("a|b", B), "union of literals and a|b"},
        {combine_text_automata(pattern_automaton("(a|b)*", S), pattern_automaton("[ab]*b", S)).automaton,
         pattern_automaton("[ab]*b", S), "meet of [ab]* with [ab]*b"},
        {combine_text_automata(pattern_automaton("a+", S), bytes_universe()).automaton, pattern_automaton("a+", S),
         "meet with the bytes universe"},
        {literal_text_automaton("\xC3\xA9"), pattern_automaton("é", S), "literal é and /é/"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(c.a && c.b) << c.name;
        EXPECT_EQ(*c.a, *c.b) << c.name;
        EXPECT_TRUE(text_automaton_equal(c.a, c.b)) << c.name;
        EXPECT_EQ(cmp_text_automaton(*c.a, *c.b), std::strong_ordering::equal) << c.name;
    }
    EXPECT_FALSE(text_automaton_equal(pattern_automaton("a", S), pattern_automaton("b", S)));
}

TEST(TextAutomaton, ComplementTwiceIsTheIdentity) {
    for (const Named& a : family()) {
        const SharedTextAutomaton twice = text_automaton_complement(text_automaton_complement(a.automaton));
        EXPECT_FALSE(twice.same(a.automaton));
        EXPECT_EQ(*twice, *a.automaton) << a.name;
    }
    const TextProduct everything =
        text_automaton_union(pattern_automaton("a*", S), text_automaton_complement(pattern_automaton("a*", S)));
    EXPECT_EQ(*everything.automaton, *bytes_universe());
}

// Counts the bytes `counted` modulo n; accepts at count 0.
SharedTextAutomaton counter(char counted, std::uint32_t n) {
    TextAutomaton d;
    d.class_map[static_cast<std::uint8_t>(counted)] = 1;
    d.class_count = 2;
    for (std::uint32_t s = 0; s < n; ++s) {
        d.transitions.push_back(s);
        d.transitions.push_back((s + 1) % n);
        d.accepting.push_back(s == 0);
    }
    return share_text_automaton(pattern::minimize(d));
}

TEST(TextProduct, CapsAt4096States) {
    const TextProduct fits = combine_text_automata(counter('a', 64), counter('b', 64));
    ASSERT_TRUE(fits.automaton);
    EXPECT_EQ(fits.automaton->state_count(), 4096u);
    EXPECT_GT(fits.work, 4096u * 3) << "4096 rows of 3 joint classes, and the minimisation";
    EXPECT_TRUE(text_automaton_union(counter('a', 64), counter('b', 64)).automaton);

    for (SetOp op : {SetOp::Intersection, SetOp::Union}) {
        const TextProduct over = text_product(counter('a', 64), counter('b', 65), op);
        EXPECT_FALSE(over.automaton);
        EXPECT_GT(over.work, 0u) << "work done before giving up is reported";
        EXPECT_LE(over.work, 4096u * 3);
    }
    // Pairs in which one side has died are one state: the meet of 4096
    // live states with an automaton that dies after the empty text needs
    // two product states, not 4097.
    const TextProduct grid = combine_text_automata(counter('a', 64), counter('b', 64));
    const TextProduct short_meet = combine_text_automata(grid.automaton, literal_text_automaton(""));
    ASSERT_TRUE(short_meet.automaton);
    EXPECT_EQ(*short_meet.automaton, *literal_text_automaton(""));
    EXPECT_EQ(short_meet.work, 2u * 3);
    const TextProduct short_join =
        text_automaton_union(grid.automaton, text_automaton_complement(literal_text_automaton("")));
    ASSERT_TRUE(short_join.automaton);
    EXPECT_EQ(*short_join.automaton, *bytes_universe());
    // A pattern needing more than 4096 states is refused too.
    EXPECT_FALSE(pattern_automaton("(a|b)*a(a|b){12}", S));
}

TEST(TextProduct, JointClasses) {
    std::array<std::uint16_t, 256> a{}, b{};
    for (int i = 0; i < 256; ++i) {
        a[i] = static_cast<std::uint16_t>(i < 100 ? 2 : i < 200 ? 0 : 1);
        b[i] = static_cast<std::uint16_t>(i < 50 ? 1 : 0);
    }
    const JointClasses j = product_byte_classes(a, b);
    EXPECT_EQ(j.class_count, 4u);
    EXPECT_EQ(j.class_map[0], 0);
    EXPECT_EQ(j.class_map[50], 1);
    EXPECT_EQ(j.class_map[100], 2);
    EXPECT_EQ(j.class_map[200], 3);
    EXPECT_EQ(j.pairs, (std::vector<std::pair<std::uint16_t, std::uint16_t>>{{2, 1}, {2, 0}, {0, 0}, {1, 0}}));
    // Two maps that agree: the first map's classes renumbered by first byte.
    const JointClasses same = product_byte_classes(a, a);
    EXPECT_EQ(same.class_count, 3u);
    EXPECT_EQ(same.class_map[0], 0);
    EXPECT_EQ(same.class_map[100], 1);
    EXPECT_EQ(same.class_map[200], 2);
}

TEST(TextAutomaton, Emptiness) {
    const TextProduct none = combine_text_automata(pattern_automaton("a+", S), pattern_automaton("b+", S));
    ASSERT_TRUE(none.automaton);
    EXPECT_TRUE(text_automaton_is_empty(*none.automaton));
    // Minimised, an empty language is one class and one rejecting loop.
    EXPECT_EQ(none.automaton->class_count, 1u);
    EXPECT_EQ(none.automaton->transitions, std::vector<std::uint32_t>{0});
    EXPECT_EQ(none.automaton->accepting, std::vector<std::uint8_t>{0});
    EXPECT_TRUE(text_automaton_is_empty(*text_automaton_complement(bytes_universe())));
    EXPECT_FALSE(text_automaton_is_empty(*literal_text_automaton("")));
    EXPECT_FALSE(text_automaton_is_empty(*pattern_automaton("a{3}b", S)));
    // An accepting state nothing reaches does not count.
    TextAutomaton unreachable;
    unreachable.class_count = 1;
    unreachable.transitions = {0, 1};
    unreachable.accepting = {0, 1};
    EXPECT_TRUE(text_automaton_is_empty(unreachable));
}

TEST(TextAutomaton, Utf8UniverseIsTheWrittenTableMinimised) {
    const TextAutomaton& u = *str_universe();
    EXPECT_EQ(u.class_count, 11u);
    EXPECT_EQ(u.state_count(), 8u);
    EXPECT_EQ(u.accepting[0], 1);
    for (std::uint32_t c = 0; c < u.class_count; ++c) EXPECT_EQ(u.transitions[1 * u.class_count + c], 1u) << "dead";
    struct Range {
        int lo, hi, cls;
    };
    for (const Range& r : {Range{0x00, 0x7F, 0}, Range{0x80, 0x8F, 1}, Range{0x90, 0x9F, 2}, Range{0xA0, 0xBF, 3},
                           Range{0xC0, 0xC1, 4}, Range{0xF5, 0xFF, 4}, Range{0xC2, 0xDF, 5}, Range{0xE0, 0xE0, 6},
                           Range{0xE1, 0xEF, 7}, Range{0xF0, 0xF0, 8}, Range{0xF1, 0xF3, 9}, Range{0xF4, 0xF4, 10}})
        for (int b = r.lo; b <= r.hi; ++b) EXPECT_EQ(u.class_map[b], r.cls) << b;

    // The 13-class, 9-state automaton as written down: minimised, it is the
    // universe entry for entry.
    TextAutomaton w;
    struct Cls {
        int lo, hi, cls;
    };
    for (const Cls& c : {Cls{0x00, 0x7F, 1}, Cls{0x80, 0x8F, 2}, Cls{0x90, 0x9F, 3}, Cls{0xA0, 0xBF, 4},
                         Cls{0xC0, 0xC1, 0}, Cls{0xC2, 0xDF, 5}, Cls{0xE0, 0xE0, 6}, Cls{0xE1, 0xEC, 7},
                         Cls{0xED, 0xED, 8}, Cls{0xEE, 0xEF, 9}, Cls{0xF0, 0xF0, 10}, Cls{0xF1, 0xF3, 11},
                         Cls{0xF4, 0xF4, 12}, Cls{0xF5, 0xFF, 0}})
        for (int b = c.lo; b <= c.hi; ++b) w.class_map[b] = static_cast<std::uint16_t>(c.cls);
    w.class_count = 13;
    w.transitions.assign(9 * 13, 8);
    w.accepting.assign(9, 0);
    w.accepting[0] = 1;
    auto set = [&](int s, std::initializer_list<int> classes, int t) {
        for (int c : classes) w.transitions[s * 13 + c] = t;
    };
    set(0, {1}, 0), set(0, {5}, 1), set(0, {6}, 3), set(0, {7, 9}, 2), set(0, {8}, 4);
    set(0, {10}, 5), set(0, {11}, 7), set(0, {12}, 6);
    set(1, {2, 3, 4}, 0), set(2, {2, 3, 4}, 1), set(3, {4}, 1), set(4, {2, 3, 4}, 1);
    set(5, {3, 4}, 2), set(6, {2}, 2), set(7, {2, 3, 4}, 2);
    EXPECT_EQ(pattern::minimize(w), u);

    for (const char* t : {"", "A", "\xED\xA0\x80", "\xED\xBF\xBF", "\xF4\x8F\xBF\xBF", "\xC3\xA9", "\xE0\xA0\x80"})
        EXPECT_TRUE(u.accepts(t)) << t;
    for (const char* t : {"\xC0\x80", "\xE0\x80\x80", "\xF0\x80\x80\x80", "\xF4\x90\x80\x80", "\xE2", "\xFF", "\x80"})
        EXPECT_FALSE(u.accepts(t)) << t;
}

// The chain as first written: states 0..n, dead n+1, classes by first
// appearance in the text.
TextAutomaton naive_chain(const std::string& t) {
    TextAutomaton d;
    std::array<int, 256> cls;
    cls.fill(-1);
    std::uint32_t k = 1;
    for (unsigned char c : t)
        if (cls[c] < 0) cls[c] = static_cast<int>(k++);
    for (int b = 0; b < 256; ++b) d.class_map[b] = static_cast<std::uint16_t>(cls[b] < 0 ? 0 : cls[b]);
    d.class_count = k;
    const std::size_t n = t.size();
    d.transitions.assign((n + 2) * k, static_cast<std::uint32_t>(n + 1));
    d.accepting.assign(n + 2, 0);
    for (std::size_t i = 0; i < n; ++i)
        d.transitions[i * k + d.class_map[static_cast<unsigned char>(t[i])]] = static_cast<std::uint32_t>(i + 1);
    d.accepting[n] = 1;
    return d;
}

TEST(TextLiteral, ChainIsBuiltInCanonicalForm) {
    std::mt19937 rng(16);
    std::vector<std::string> cases = {"", "a", "ba", "aa", std::string("\0", 1), std::string("\0a\0", 3),
                                      std::string("a\0", 2), "abcabc"};
    std::string every_byte;
    for (int b = 255; b >= 0; --b) every_byte.push_back(static_cast<char>(b));
    cases.push_back(every_byte);
    cases.push_back(every_byte + every_byte);
    for (int i = 0; i < 300; ++i) {
        std::string t(rng() % 40, '\0');
        const int alphabet = 1 + static_cast<int>(rng() % 5);
        for (char& c : t) c = static_cast<char>(rng() % 4 == 0 ? 0 : 'a' + static_cast<int>(rng() % alphabet));
        cases.push_back(t);
    }
    for (const std::string& t : cases) {
        const auto chain = literal_chain(t);
        ASSERT_TRUE(chain);
        ASSERT_EQ(*chain, pattern::minimize(naive_chain(t))) << "length " << t.size();
        EXPECT_EQ(chain->state_count(), t.size() + 2);
    }
    // "ba": byte 0 (absent) is class 0, 'a' class 1, 'b' class 2; state 0
    // meets the dead state (on class 0) before the state after "b".
    const auto ba = literal_chain("ba");
    EXPECT_EQ(ba->class_count, 3u);
    EXPECT_EQ(ba->transitions[0], 1u);
    EXPECT_EQ(ba->transitions[2], 2u);
    EXPECT_EQ(ba->transitions[1 * 3 + 0], 1u) << "state 1 is dead";
}

TEST(TextLiteral, LongerThanTheStateCapIsUnrepresentable) {
    EXPECT_TRUE(literal_text_automaton(std::string(4094, 'x')));
    EXPECT_EQ(literal_text_automaton(std::string(4094, 'x'))->state_count(), 4096u);
    EXPECT_FALSE(literal_text_automaton(std::string(4095, 'x')));
    EXPECT_FALSE(literal_text_automaton(std::string(1 << 20, 'x')));
}

TEST(TextAutomaton, OrderIsTotalAndMatchesEquality) {
    const auto all = family();
    for (const Named& a : all) {
        for (const Named& b : all) {
            const auto ab = cmp_text_automaton(*a.automaton, *b.automaton);
            const auto ba = cmp_text_automaton(*b.automaton, *a.automaton);
            EXPECT_EQ(ab == 0, *a.automaton == *b.automaton) << a.name << ", " << b.name;
            EXPECT_EQ(ab < 0, ba > 0) << a.name << ", " << b.name;
        }
    }
}

TEST(Shared, CountsReferencesAcrossThreads) {
    SharedTextAutomaton a = literal_text_automaton("abc");
    EXPECT_EQ(a.use_count(), 1u);
    {
        std::vector<std::thread> threads;
        for (int i = 0; i < 4; ++i)
            threads.emplace_back([a] {
                for (int k = 0; k < 10000; ++k) {
                    SharedTextAutomaton copy = a;
                    SharedTextAutomaton moved = std::move(copy);
                    EXPECT_TRUE(moved.same(a));
                }
            });
        for (auto& t : threads) t.join();
    }
    EXPECT_EQ(a.use_count(), 1u);
    SharedTextAutomaton empty;
    EXPECT_FALSE(empty);
    EXPECT_EQ(empty.get(), nullptr);
    SharedTextAutomaton b = a;
    EXPECT_EQ(a.use_count(), 2u);
    b = SharedTextAutomaton();
    EXPECT_EQ(a.use_count(), 1u);
}

}  // namespace
}  // namespace tessaron::descr
