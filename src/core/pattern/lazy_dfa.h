// A DFA built on demand while texts are matched, shared by every thread
// that uses the matcher, and the whole-text match that runs on it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <boost/unordered/unordered_flat_map.hpp>

#include "core/pattern/nfa.h"
#include "core/pattern/subset.h"
#include "core/util/fxhash.h"
#include "core/util/poll.h"

namespace tessaron::pattern {

class LazyDfa {
public:
    // memory_budget bounds, in bytes, everything the cache holds: the rows
    // of the transition table, the NFA state sets and their keys, and the
    // containers' slots (the start state is made whatever it costs).  When
    // a new state would pass it, the table is reset as when it is full.
    // Working space proportional to the NFA (the subset step's sets) is
    // apart.
    LazyDfa(const Nfa& nfa, std::size_t memory_budget);
    ~LazyDfa();
    LazyDfa(const LazyDfa&) = delete;
    LazyDfa& operator=(const LazyDfa&) = delete;

    // Whole-text membership: the DFA, reset when its table fills, with NFA
    // simulation over the stretches where resets come too often.  Texts
    // whose Unicode word boundaries the DFA cannot read are the caller's.
    // A `poll` is ticked as the text is read; when it stops the work the
    // answer is false (util/poll.h).
    bool matches(std::string_view text, util::Poll* poll = nullptr) const;

    enum class Result { NoMatch, Match, GaveUp, Busy, Stopped };
    // Runs the text from `pos`, where the unresolved NFA set is `set` (at
    // position 0 the start state is used and `set` is ignored).  GaveUp:
    // the table is full and may not be reset now; `pos` and `set` are the
    // position reached and its set.  `retry` allows one reset whatever the
    // rate of resets so far.  Busy: another thread is resetting the table;
    // nothing was read.  Stopped: `poll` stopped the work (it is ticked
    // between stretches of the text, never while the lock is held).
    Result run(std::string_view text, std::size_t& pos, std::vector<std::uint32_t>& set, bool retry,
               util::Poll* poll = nullptr) const;

    std::size_t state_count() const { return count_.load(std::memory_order_relaxed); }
    // Bytes the cache holds now, as counted against the budget.
    std::size_t held_bytes() const { return bytes_.load(std::memory_order_relaxed); }
    // NFA states visited, by determinisation and by simulation.
    std::uint64_t work() const { return work_.load(std::memory_order_relaxed); }
    std::uint64_t resets() const { return resets_.load(std::memory_order_relaxed); }
    std::uint64_t simulated_bytes() const { return simulated_bytes_.load(std::memory_order_relaxed); }

private:
    // Unmaps or frees the transition table.
    void release_table() noexcept;
    // The state after `from` on class `cls`, computed under mu_ (the table
    // reset when it is full and a reset is allowed, `generation` then
    // advanced to the new one); kFull when there is no room, with the set
    // of `from` in `overflow`; kStale when the table was reset since
    // `generation`.
    std::uint32_t slow_next(std::uint32_t from, std::uint32_t cls, std::vector<std::uint32_t>& overflow, bool& retry,
                            std::uint64_t& generation) const;
    // The state for `set` at a position after byte `prev`, created under
    // mu_ as slow_next creates one.
    std::uint32_t enter(std::vector<std::uint32_t>& set, std::uint8_t prev, bool& retry,
                        std::uint64_t& generation) const;
    // Under mu_: puts `set` (distinct NFA ids) in ascending order.
    void order_set(std::vector<std::uint32_t>& set) const;
    // Under mu_: the id (row offset) of the state for this set, creating it
    // if there is room; kFull otherwise.
    std::uint32_t intern(std::uint8_t ctx, std::vector<std::uint32_t>& set) const;
    // Under mu_: empties the table unless resets are coming too often (or
    // `retry` allows one, which it uses up); true when it did.
    bool try_reset(bool& retry) const;
    // Under mu_: the reserved and dead rows and the start state, in an empty
    // table; answers the start state's row.
    std::uint32_t seed_states() const;
    // Simulates text[from, to) from `set`; false when no NFA state is left.
    bool simulate_span(std::string_view text, std::size_t from, std::size_t to, std::vector<std::uint32_t>& set,
                       util::Poll* poll) const;
    std::uint32_t& cell(std::size_t i) const { return table_[i]; }
    // Adds bytes read to `scanned_`, which stops counting where every
    // reset it could allow is allowed (kBytesPerState bytes per state the
    // table can hold): a table that stays fresh is then only read, and
    // threads sharing it do not write its cache line on every match.
    void note_scanned(std::uint64_t read) const;

    static constexpr std::uint32_t kUnknown = 0;
    static constexpr std::uint32_t kFull = UINT32_MAX;
    static constexpr std::uint32_t kStale = UINT32_MAX - 1;

    const Nfa& nfa_;
    ByteClasses classes_;
    std::uint8_t ctx_mask_;
    std::uint32_t stride_;
    std::uint32_t dead_;   // row offset of the dead state
    std::uint32_t start_;  // row offset of the start state (the same after every reset)
    std::size_t budget_;
    std::size_t max_states_;
    std::size_t table_bytes_;
    bool mapped_;
    std::uint32_t* table_;  // max_states_ * stride_ cells, zero = unknown
    std::uint8_t* accept_;  // per state index
    std::vector<std::uint32_t> start_set_;

    // Odd while a reset empties the table; every reset adds 2.  A run reads
    // it before and after (a sequence lock): a run that saw it change read
    // a table being emptied and throws its reading away.
    mutable std::atomic<std::uint64_t> generation_{0};
    // Bytes read by runs since the table was last emptied (a heuristic:
    // concurrent runs may lose a few).
    mutable std::atomic<std::uint64_t> scanned_{0};

    // Writer side, guarded by mu_.
    mutable std::mutex mu_;
    mutable std::vector<std::vector<std::uint32_t>> sets_;
    mutable std::vector<std::uint8_t> ctxs_;
    mutable std::vector<bool> pending_;
    mutable boost::unordered_flat_map<std::string, std::uint32_t, util::FxHash> index_;
    mutable Stepper stepper_;
    mutable std::vector<std::uint32_t> scratch_;
    // One bit per NFA state, all clear between uses: a large set is put in
    // order by marking and scanning it rather than by a comparison sort.
    mutable std::vector<std::uint64_t> order_bits_;
    mutable std::size_t held_bytes_ = 0;  // bytes counted against budget_
    // States the table held when it last gave up: the simulated stretch
    // before the next try is proportional to it.
    mutable std::atomic<std::size_t> states_at_give_up_{0};

    mutable std::atomic<std::size_t> count_{0};
    mutable std::atomic<std::size_t> bytes_{0};
    mutable std::atomic<std::uint64_t> work_{0};
    mutable std::atomic<std::uint64_t> resets_{0};
    mutable std::atomic<std::uint64_t> simulated_bytes_{0};
};

}  // namespace tessaron::pattern
