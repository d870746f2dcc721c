// NFA simulation: the matcher's path for Unicode word boundaries on
// non-ASCII texts, and the lazy DFA's over stretches where resetting its
// table comes too often.
//
// It keeps one unresolved set per position and applies the shared subset
// step (subset.h) byte by byte, evaluating the assertions of each position
// from the text around it.  Each step visits every NFA state at most twice
// (once reading the byte, once closing), and once more where assertions
// wait (resolving them), so the run is linear in the text for a fixed
// pattern; there is no backtracking and no per-thread priority, since only
// membership of the whole text is asked.
//
// Budget: a byte visits at most three times the NFA's states, and the
// program's size is capped when it is compiled (NfaLimits), so one byte's
// step is bounded whatever the pattern; a caller's poll is ticked after every
// byte with the states that byte visited, so it is asked about every
// Poll::kInterval states visited, plus at most one byte's step.
#include "core/pattern/nfa_sim.h"

#include "core/pattern/subset.h"

namespace tessaron::pattern {

std::vector<std::uint32_t> start_set(const Nfa& nfa) {
    Stepper stepper(nfa);
    std::vector<std::uint32_t> out;
    std::uint32_t seed = nfa.start;
    stepper.closure(&seed, 1, out);
    return out;
}

bool advance_text(const Nfa& nfa, std::string_view text, std::size_t from, std::size_t to,
                  std::vector<std::uint32_t>& set, std::uint64_t& work, util::Poll* poll) {
    Stepper stepper(nfa);
    const std::uint32_t looks = nfa.looks_used;
    const bool unicode = (looks & kUnicodeWordLooks) != 0;
    std::vector<std::uint32_t> next;
    std::uint64_t ticked = 0;
    for (std::size_t i = from; i < to && !set.empty(); ++i) {
        std::uint32_t holds = 0;
        if (looks != 0) holds = evaluate_looks(text_side_before(text, i, unicode), text_side_after(text, i, unicode), looks);
        stepper.advance(set, holds, static_cast<std::uint8_t>(text[i]), next);
        set.swap(next);
        // Ticked with the states this byte visited (and one for the byte):
        // the poll's interval is counted in work, so it is asked as often
        // on a pattern that visits a million states per byte as on one
        // that visits ten.
        if (poll) {
            if (!poll->tick(stepper.work - ticked + 1)) {
                set.clear();
                break;
            }
            ticked = stepper.work;
        }
    }
    work += stepper.work;
    return !set.empty();
}

bool accepts_at_end(const Nfa& nfa, std::string_view text, const std::vector<std::uint32_t>& set,
                    std::uint64_t& work) {
    if (set.empty()) return false;
    Stepper stepper(nfa);
    const std::uint32_t looks = nfa.looks_used;
    std::uint32_t holds = 0;
    if (looks != 0)
        holds = evaluate_looks(text_side_before(text, text.size(), (looks & kUnicodeWordLooks) != 0), edge_side(),
                               looks);
    const bool result = stepper.accepts(set, holds);
    work += stepper.work;
    return result;
}

bool simulate(const Nfa& nfa, std::string_view text, std::size_t from, std::vector<std::uint32_t> set,
              std::uint64_t& work, util::Poll* poll) {
    if (!advance_text(nfa, text, from, text.size(), set, work, poll)) return false;
    return accepts_at_end(nfa, text, set, work);
}

}  // namespace tessaron::pattern
