// A DFA built on demand while texts are matched, shared by every thread
// that uses the matcher.
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

namespace tessaron::pattern {

class LazyDfa {
public:
    // memory_budget bounds the transition table; the DFA never grows past it.
    LazyDfa(const Nfa& nfa, std::size_t memory_budget);
    ~LazyDfa();
    LazyDfa(const LazyDfa&) = delete;
    LazyDfa& operator=(const LazyDfa&) = delete;

    enum class Result { NoMatch, Match, Full };
    // Whole-text run.  Full: the table is full and the text could not be
    // finished from it; `pos` and `set` are the position reached and its
    // unresolved NFA set, from which a simulation continues.
    Result run(std::string_view text, std::size_t& pos, std::vector<std::uint32_t>& set) const;

    std::size_t state_count() const { return count_.load(std::memory_order_relaxed); }
    std::uint64_t work() const { return work_.load(std::memory_order_relaxed); }

private:
    // Unmaps or frees the transition table.
    void release_table() noexcept;
    std::uint32_t slow_next(std::uint32_t from, std::uint32_t cls, std::vector<std::uint32_t>& overflow) const;
    // Under mu_: the id (row offset) of the state for this set, creating it
    // if there is room; kFull otherwise.
    std::uint32_t intern(std::uint8_t ctx, std::vector<std::uint32_t>& set) const;
    std::uint32_t& cell(std::size_t i) const { return table_[i]; }

    static constexpr std::uint32_t kUnknown = 0;
    static constexpr std::uint32_t kFull = UINT32_MAX;

    const Nfa& nfa_;
    ByteClasses classes_;
    std::uint8_t ctx_mask_;
    std::uint32_t stride_;
    std::uint32_t dead_;   // row offset of the dead state
    std::uint32_t start_;  // row offset of the start state
    std::size_t max_states_;
    std::size_t table_bytes_;
    bool mapped_;
    std::uint32_t* table_;  // max_states_ * stride_ cells, zero = unknown
    std::uint8_t* accept_;  // per state index

    // Writer side, guarded by mu_.
    mutable std::mutex mu_;
    mutable std::vector<std::vector<std::uint32_t>> sets_;
    mutable std::vector<std::uint8_t> ctxs_;
    mutable std::vector<bool> pending_;
    mutable boost::unordered_flat_map<std::string, std::uint32_t, util::FxHash> index_;
    mutable Stepper stepper_;
    mutable std::vector<std::uint32_t> scratch_;
    mutable std::size_t set_units_ = 0;
    mutable std::atomic<std::size_t> count_{0};
    mutable std::atomic<std::uint64_t> work_{0};
};

}  // namespace tessaron::pattern
