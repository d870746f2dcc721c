// Fuzz entry for the pattern engine's parser, compiler, matcher and
// automaton builder (libFuzzer style; not part of the library).
//
// Input layout: byte 0 chooses the text kind (bit 0), whether the rest is
// split at the first NUL into pattern and text (bit 1), and how many times
// the text is repeated (bits 2-4: 4^r times, at most 256 KiB and at most 2^22
// bytes times NFA states), so short inputs reach texts long enough to fill
// the lazy DFA's table; the remaining bytes
// are the pattern (and text).  The harness asserts what must hold for any
// input:
//   - the class-set operator scan answers for any bytes, with a position
//     inside the pattern;
//   - compilation returns a matcher or an error value, never throws or
//     aborts;
//   - the matcher answers for any text, and twice the same;
//   - a lazy DFA with a table of eight states (reset over and over, giving
//     up to simulation and trying again) answers as the matcher does;
//   - when the automaton can be built, it accepts exactly the texts the
//     matcher matches (checked on the text and on its prefixes), and its
//     minimised form is a fixed point of minimisation.
//
// Build with clang:
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc \
//     fuzz/pattern_fuzz.cc src/core/pattern/*.cc -o /tmp/pattern_fuzz
// or, without libFuzzer, with g++ and a driver that replays files or runs
// random inputs:
//   g++ -std=c++20 -g -O1 -fsanitize=address,undefined -DPATTERN_FUZZ_MAIN \
//     -Isrc fuzz/pattern_fuzz.cc src/core/pattern/*.cc -o /tmp/pattern_fuzz
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/pattern/class_set.h"
#include "core/pattern/dfa.h"
#include "core/pattern/lazy_dfa.h"
#include "core/pattern/nfa.h"
#include "core/pattern/parse.h"
#include "core/pattern/pattern.h"

namespace {

void check(bool ok, const char* what, std::string_view pattern) {
    if (ok) return;
    std::fprintf(stderr, "pattern fuzz: %s for pattern [%.*s]\n", what, static_cast<int>(pattern.size()),
                 pattern.data());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tessaron::pattern;
    if (size == 0) return 0;
    const TextKind kind = (data[0] & 1) ? TextKind::Bytes : TextKind::Str;
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string_view pattern = rest, text;
    if (data[0] & 2) {
        const std::size_t nul = rest.find('\0');
        if (nul != std::string_view::npos) {
            pattern = rest.substr(0, nul);
            text = rest.substr(nul + 1);
        }
    }
    if (const auto op = find_class_set_operator(pattern))
        check(op->position < pattern.size(), "class-set operator past the pattern", pattern);
    auto compiled = compile_full_match(pattern, kind);
    if (std::holds_alternative<Error>(compiled)) {
        check(std::get<Error>(compiled).offset <= pattern.size(), "error offset past the pattern", pattern);
        return 0;
    }
    const FullMatcher& m = *std::get<std::shared_ptr<const FullMatcher>>(compiled);

    // The same NFA, which also bounds the repeated text: text length times
    // NFA size stays under 2^22, so an input never runs for long.
    ParseOptions options;
    options.utf8 = kind == TextKind::Str;
    auto hir = parse(pattern, options);
    check(std::holds_alternative<Hir>(hir), "a pattern compiled but does not parse", pattern);
    auto nfa_or_error = compile_nfa(std::get<Hir>(hir), NfaLimits{});
    check(std::holds_alternative<Nfa>(nfa_or_error), "a pattern compiled but its NFA does not", pattern);
    const Nfa& nfa = std::get<Nfa>(nfa_or_error);
    std::string repeated;
    if (const unsigned r = (data[0] >> 2) & 7; r > 0 && !text.empty()) {
        const std::size_t cap = std::min<std::size_t>(std::size_t{1} << 18, (std::size_t{1} << 22) / (nfa.memory_units() + 1));
        for (std::size_t k = 0; k < (std::size_t{1} << (2 * r)) && repeated.size() + text.size() <= cap; ++k)
            repeated += text;
        if (!repeated.empty()) text = repeated;
    }

    const bool first = m.matches(text);
    check(m.matches(text) == first, "matcher changed its answer", pattern);

    // Behind a table of eight states.  Texts with Unicode word boundaries and
    // non-ASCII bytes take the matcher's own path.
    const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
    if ((nfa.looks_used & kUnicodeWordLooks) == 0 || ascii) {
        const LazyDfa small(nfa, 0);
        check(small.matches(text) == first, "a small lazy DFA and the matcher disagree", pattern);
    }

    DfaLimits limits;
    limits.max_states = 512;  // keep each run fast
    limits.nfa.max_units = std::size_t{1} << 16;
    const std::optional<Dfa> dfa = build_dfa(pattern, kind, limits);
    if (!dfa) return 0;
    for (std::size_t n = 0; n <= text.size() && n <= 64; ++n) {
        const std::string_view prefix = text.substr(0, n);
        check(dfa->accepts(prefix) == m.matches(prefix), "automaton and matcher disagree", pattern);
    }
    check(dfa->accepts(text) == first, "automaton and matcher disagree", pattern);
    check(minimize(*dfa) == *dfa, "minimised automaton is not a fixed point", pattern);
    return 0;
}

#ifdef PATTERN_FUZZ_MAIN
// Replays the files named on the command line, or runs random inputs built
// from pattern fragments when none is given.
#include <fstream>
#include <random>
#include <sstream>

int main(int argc, char** argv) {
    if (argc > 1) {
        for (int i = 1; i < argc; ++i) {
            std::ifstream in(argv[i], std::ios::binary);
            std::stringstream ss;
            ss << in.rdbuf();
            const std::string s = ss.str();
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
        }
        return 0;
    }
    static const char* const kPieces[] = {
        "a", "b", "(", ")", "[", "]", "|", "*", "+", "?", "{", "}", "{2,", "3}", ",", "^", "$", ".", "\\",
        "\\b", "\\B", "\\d", "\\w", "\\s", "\\p{L}", "\\P{Greek}", "\\x", "\\x{", "FF", "\\u", "(?", "(?i)", "(?-u)",
        "(?m:", "(?x)", "(?s)", "(?R)", "(?U)", "#", " ", "\n", "\r", "&&", "--", "~~", "[:alpha:]", "[^", "-",
        "é", "\xFF", "\xC3", "(?P<n>", "\\z", "\\A", "\\<", "\\>", "\\b{start}", "{,3}", "{0}", "\\pN",
        "{4294967295}", "{0,4294967295}", "{300}", "[ab]{40}", "(?:a?){50}",
    };
    std::mt19937_64 rng(argc > 0 ? 12345 : 0);
    const long runs = std::getenv("PATTERN_FUZZ_RUNS") ? std::atol(std::getenv("PATTERN_FUZZ_RUNS")) : 200000;
    for (long r = 0; r < runs; ++r) {
        std::string in(1, static_cast<char>(rng() & 31));
        const int n = static_cast<int>(rng() % 12);
        for (int k = 0; k < n; ++k) in += kPieces[rng() % (sizeof kPieces / sizeof kPieces[0])];
        if (in[0] & 2) in.push_back('\0');
        for (int k = static_cast<int>(rng() % 8); k > 0; --k) in += static_cast<char>("abé\n _.1"[rng() % 8]);
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(in.data()), in.size());
    }
    std::printf("%ld inputs, no failure\n", runs);
    return 0;
}
#endif
