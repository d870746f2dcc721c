// The pattern engine's matcher interface.
//
// One engine serves both users of patterns: the validation walk asks
// whether a text matches a pattern as a whole (FullMatcher, here), and the
// descriptor algebra asks for the automaton of the same language (dfa.h).
// Both are built from the same parse and the same NFA, and run the same
// subset step, so they accept exactly the same texts.
//
// Texts are bytes: the UTF-8 form of a str, or the raw bytes of a bytes
// value.  The pattern dialect's defaults apply: Unicode classes, case
// sensitive, not multi-line, "." not matching "\n", octal escapes refused,
// nesting limited to 250; the inline flags i, m, s, x, u, U and R change
// them.  Matching is whole-text by construction (the automaton starts
// anchored at the first byte and accepts only at the end of the text), never
// by adding text around the pattern.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <variant>

#include "core/pattern/error.h"
#include "core/util/poll.h"

namespace tessaron::pattern {

// Str: the pattern describes UTF-8 texts, and a pattern that could match
// anything else (e.g. (?-u:\xFF)) is refused.  Bytes: any byte string.
enum class TextKind : std::uint8_t { Str, Bytes };

// Work counters of a matcher, summed over every call so far (for tests and
// diagnostics; they are not needed to match).
struct MatchStats {
    std::size_t dfa_states = 0;   // lazy DFA states in the table now
    std::size_t dfa_bytes = 0;    // bytes the lazy DFA's cache holds now (at most its budget)
    std::uint64_t dfa_resets = 0; // times the full table was emptied
    std::uint64_t nfa_work = 0;   // NFA states visited by determinisation and simulation
    std::uint64_t simulated_bytes = 0;  // bytes matched by NFA simulation rather than the DFA
};

// An immutable compiled pattern.  matches() may be called from many threads
// at once; the lazily built DFA behind it is shared, bounded in memory, and
// matching stays linear in the text whatever the pattern.
class FullMatcher {
public:
    ~FullMatcher();
    FullMatcher(const FullMatcher&) = delete;
    FullMatcher& operator=(const FullMatcher&) = delete;

    // True when the whole text is in the pattern's language.  A `poll` is
    // ticked with the work done (about one unit per byte, more where the
    // NFA is simulated); when it stops the work, the answer is false and
    // means nothing (util/poll.h).
    bool matches(std::string_view text, util::Poll* poll = nullptr) const;

    TextKind kind() const;
    MatchStats stats() const;

    // A matcher of the same pattern for a set of texts matched one after
    // the other (the literals one decision checks): it shares this
    // matcher's compiled program, so nothing is compiled again, and keeps a
    // lazy DFA of its own, of `memory_budget` bytes (see lazy_dfa.h), so
    // that the states the texts reach are built once for all of them: a
    // prefix shared by many texts is determinised once, and the work over
    // the set grows with the distinct prefixes (the texts' trie), not with
    // the sum of their lengths times the program.  Its answers are this
    // matcher's; its stats count its own work only.  Building it costs one
    // closure of the start state (linear in the program).
    std::shared_ptr<const FullMatcher> with_cache(std::size_t memory_budget) const;

    struct Impl;

private:
    explicit FullMatcher(std::unique_ptr<Impl> impl);
    friend std::variant<std::shared_ptr<const FullMatcher>, Error> compile_full_match(std::string_view, TextKind,
                                                                                      util::Poll*);

    std::unique_ptr<Impl> impl_;
};

// Compiles a pattern for whole-text matching.  Errors are values.  A
// `poll` is ticked with the work done (a pattern near the size limit takes
// tens of milliseconds to compile); when it stops the work, the answer is
// the error kCompileStopped (nfa.h), which says nothing about the pattern.
std::variant<std::shared_ptr<const FullMatcher>, Error> compile_full_match(std::string_view pattern, TextKind kind,
                                                                           util::Poll* poll = nullptr);

// The compile_full_match calls made on the calling thread so far: a work
// counter for tests.
std::uint64_t full_match_compiles();

}  // namespace tessaron::pattern
