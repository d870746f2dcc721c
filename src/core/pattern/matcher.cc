// compile_full_match and FullMatcher: parse, compile to an NFA, and match
// through the shared lazy DFA.
//
// Which path a text takes:
//   - the lazy DFA, for every pattern whose assertions are decided by
//     bytes (all but the Unicode word boundaries), and for patterns with
//     Unicode word boundaries when the text is ASCII, where a Unicode word
//     character is exactly an ASCII word byte;
//   - the NFA simulation for the remaining texts, and over the stretches
//     of a text where resetting the lazy DFA's full table comes too often
//     (lazy_dfa.cc).
// Both are linear in the text; neither backtracks.  Both tick the caller's
// poll, if any, as they read (util/poll.h).
//
// A matcher made by `with_cache` shares the compiled program (the NFA, held
// by a shared pointer, immutable) and has a lazy DFA of its own: matching
// through it never touches the shared table of the matcher it came from.
#include <atomic>
#include <cstring>
#include <vector>

#include "core/pattern/lazy_dfa.h"
#include "core/pattern/nfa.h"
#include "core/pattern/nfa_sim.h"
#include "core/pattern/parse.h"
#include "core/pattern/pattern.h"

namespace tessaron::pattern {

namespace {
// Bytes of everything a pattern's lazy DFA holds: table rows, state sets,
// their keys and the containers' slots.
constexpr std::size_t kLazyDfaBudget = std::size_t{2} << 20;

bool is_ascii(std::string_view text) {
    const char* p = text.data();
    std::size_t n = text.size();
    while (n >= 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        if (w & 0x8080808080808080ULL) return false;
        p += 8;
        n -= 8;
    }
    while (n > 0) {
        if (static_cast<unsigned char>(*p) >= 0x80) return false;
        ++p;
        --n;
    }
    return true;
}
}  // namespace

struct FullMatcher::Impl {
    Impl(std::shared_ptr<const Nfa> n, TextKind k, std::size_t dfa_budget)
        : nfa(std::move(n)), kind(k), dfa(*nfa, dfa_budget) {}

    // Shared with the matchers made by `with_cache`; declared before dfa,
    // which refers to it.
    std::shared_ptr<const Nfa> nfa;
    TextKind kind;
    LazyDfa dfa;
    bool unicode_words = false;
    mutable std::atomic<std::uint64_t> sim_work{0};
    mutable std::atomic<std::uint64_t> sim_bytes{0};

    bool simulate_from(std::string_view text, std::size_t pos, std::vector<std::uint32_t> set,
                       util::Poll* poll) const {
        std::uint64_t work = 0;
        bool r = simulate(*nfa, text, pos, std::move(set), work, poll);
        sim_work.fetch_add(work, std::memory_order_relaxed);
        sim_bytes.fetch_add(text.size() - pos, std::memory_order_relaxed);
        return r;
    }
};

FullMatcher::FullMatcher(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
FullMatcher::~FullMatcher() = default;

TextKind FullMatcher::kind() const { return impl_->kind; }

bool FullMatcher::matches(std::string_view text, util::Poll* poll) const {
    const Impl& m = *impl_;
    if (m.unicode_words && !is_ascii(text)) return m.simulate_from(text, 0, start_set(*m.nfa), poll);
    return m.dfa.matches(text, poll);
}

std::shared_ptr<const FullMatcher> FullMatcher::with_cache(std::size_t memory_budget) const {
    auto impl = std::make_unique<Impl>(impl_->nfa, impl_->kind, memory_budget);
    impl->unicode_words = impl_->unicode_words;
    return std::shared_ptr<const FullMatcher>(new FullMatcher(std::move(impl)));
}

MatchStats FullMatcher::stats() const {
    MatchStats s;
    s.dfa_states = impl_->dfa.state_count();
    s.dfa_bytes = impl_->dfa.held_bytes();
    s.dfa_resets = impl_->dfa.resets();
    s.nfa_work = impl_->dfa.work() + impl_->sim_work.load(std::memory_order_relaxed);
    s.simulated_bytes = impl_->dfa.simulated_bytes() + impl_->sim_bytes.load(std::memory_order_relaxed);
    return s;
}

namespace {
thread_local std::uint64_t t_full_match_compiles = 0;
}  // namespace

std::uint64_t full_match_compiles() { return t_full_match_compiles; }

std::variant<std::shared_ptr<const FullMatcher>, Error> compile_full_match(std::string_view pattern, TextKind kind,
                                                                           util::Poll* poll) {
    ++t_full_match_compiles;
    ParseOptions po;
    po.utf8 = kind == TextKind::Str;
    auto parsed = parse(pattern, po);
    if (auto* e = std::get_if<Error>(&parsed)) return std::move(*e);
    auto nfa = compile_nfa(std::get<Hir>(parsed), NfaLimits{}, poll);
    if (auto* e = std::get_if<Error>(&nfa)) return std::move(*e);
    auto program = std::make_shared<const Nfa>(std::move(std::get<Nfa>(nfa)));
    auto impl = std::make_unique<FullMatcher::Impl>(std::move(program), kind, kLazyDfaBudget);
    impl->unicode_words = (impl->nfa->looks_used & kUnicodeWordLooks) != 0;
    return std::shared_ptr<const FullMatcher>(new FullMatcher(std::move(impl)));
}

}  // namespace tessaron::pattern
