// Lazy DFA: the matcher's fast path.
//
// The transition table is one flat array of 32-bit cells, row-major by DFA
// state over byte classes, and a state is named by its row offset, so a
// step is `s = table[s + class[byte]]`.  Offset 0 is a reserved row that is
// never a target, so a zero cell means "not computed yet"; row 1 is the
// dead state.  A text is in the language when the state reached at its end
// accepts (its unresolved NFA set reaches Match with the end-of-text
// assertions applied).
//
// Sharing between threads: the table only grows.  Readers load cells with
// acquire ordering and never lock; a missing cell is computed under a
// mutex (re-checked there, so two threads never create the same state),
// the new state's accepting flag is written first and the cell is
// published last with release ordering.  The table's memory is reserved
// once with its final size (mapped lazily by the OS, so untouched rows
// cost nothing) and never moves, which is what lets readers run without a
// lock.  It is bounded: when no room is left for a new state the run
// reports Full, and the caller finishes the text by simulating the NFA
// from the state reached, so memory stays bounded and time stays linear.
//
// The single-thread cost over an unshared DFA is the acquire load (a plain
// load on x86) and one compare per byte.
#include "core/pattern/lazy_dfa.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace tessaron::pattern {

namespace {
constexpr std::size_t kMapThreshold = 64 * 1024;
constexpr std::size_t kMaxStates = 1u << 16;
constexpr std::size_t kMaxSetUnits = 1u << 21;  // NFA state ids kept for all DFA states

inline std::uint32_t load_acquire(std::uint32_t& c) {
    return std::atomic_ref<std::uint32_t>(c).load(std::memory_order_acquire);
}
inline void store_release(std::uint32_t& c, std::uint32_t v) {
    std::atomic_ref<std::uint32_t>(c).store(v, std::memory_order_release);
}
}  // namespace

LazyDfa::LazyDfa(const Nfa& nfa, std::size_t memory_budget)
    : nfa_(nfa), classes_(byte_classes(nfa)), ctx_mask_(context_mask(nfa.looks_used)), stepper_(nfa) {
    stride_ = classes_.count;
    max_states_ = std::clamp<std::size_t>(memory_budget / (4 * stride_), 8, kMaxStates);
    table_bytes_ = max_states_ * stride_ * 4;
    mapped_ = table_bytes_ >= kMapThreshold;
    void* mem = nullptr;
    if (mapped_) {
        mem = ::mmap(nullptr, table_bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1,
                     0);
        if (mem == MAP_FAILED) {
            mapped_ = false;
            max_states_ = std::max<std::size_t>(8, kMapThreshold / (4 * stride_));
            table_bytes_ = max_states_ * stride_ * 4;
            mem = nullptr;
        }
    }
    if (!mapped_) mem = std::calloc(table_bytes_, 1);
    if (mem == nullptr) throw std::bad_alloc();
    table_ = static_cast<std::uint32_t*>(mem);
    accept_ = static_cast<std::uint8_t*>(std::calloc(max_states_, 1));
    // The destructor does not run for a constructor that throws: what was
    // allocated so far is released here.
    if (accept_ == nullptr) {
        release_table();
        throw std::bad_alloc();
    }
    try {
        // Row 0 reserved, row 1 dead.
        sets_.emplace_back();
        ctxs_.push_back(0);
        pending_.push_back(false);
        sets_.emplace_back();
        ctxs_.push_back(0);
        pending_.push_back(false);
        dead_ = stride_;
        for (std::uint32_t c = 0; c < stride_; ++c) table_[dead_ + c] = dead_;
        count_.store(2, std::memory_order_relaxed);

        std::vector<std::uint32_t> start;
        std::uint32_t seed = nfa.start;
        stepper_.closure(&seed, 1, start);
        std::lock_guard<std::mutex> lock(mu_);
        start_ = intern(kCtxStart & ctx_mask_, start);
    } catch (...) {
        release_table();
        std::free(accept_);
        throw;
    }
}

void LazyDfa::release_table() noexcept {
    if (mapped_) {
        ::munmap(table_, table_bytes_);
    } else {
        std::free(table_);
    }
}

LazyDfa::~LazyDfa() {
    release_table();
    std::free(accept_);
}

std::uint32_t LazyDfa::intern(std::uint8_t ctx, std::vector<std::uint32_t>& set) const {
    if (set.empty()) return dead_;
    std::sort(set.begin(), set.end());
    const bool pending = stepper_.has_pending(set);
    if (!pending) ctx = 0;  // nothing left to read the context
    std::string key = state_key(ctx, set);
    if (auto it = index_.find(key); it != index_.end()) return it->second;
    const std::size_t index = sets_.size();
    if (index >= max_states_ || set_units_ + set.size() > kMaxSetUnits) return kFull;
    const std::uint32_t holds_at_end = evaluate_looks(context_side(ctx), edge_side(), nfa_.looks_used);
    const bool accepting = stepper_.accepts(set, holds_at_end);
    std::atomic_ref<std::uint8_t>(accept_[index]).store(accepting ? 1 : 0, std::memory_order_relaxed);
    const auto id = static_cast<std::uint32_t>(index * stride_);
    set_units_ += set.size();
    sets_.push_back(set);
    ctxs_.push_back(ctx);
    pending_.push_back(pending);
    index_.emplace(std::move(key), id);
    count_.store(sets_.size(), std::memory_order_relaxed);
    return id;
}

std::uint32_t LazyDfa::slow_next(std::uint32_t from, std::uint32_t cls, std::vector<std::uint32_t>& overflow) const {
    std::lock_guard<std::mutex> lock(mu_);
    std::uint32_t known = load_acquire(cell(from + cls));
    if (known != kUnknown) return known;
    const std::size_t index = from / stride_;
    const std::uint8_t b = classes_.representative[cls];
    const std::uint8_t ctx = ctxs_[index];
    const std::uint64_t before = stepper_.work;
    std::uint32_t holds = 0;
    if (pending_[index]) holds = evaluate_looks(context_side(ctx), byte_side(b), nfa_.looks_used);
    stepper_.advance(sets_[index], holds, b, scratch_);
    std::uint32_t next = intern(context_after(b, ctx_mask_), scratch_);
    work_.fetch_add(stepper_.work - before, std::memory_order_relaxed);
    if (next == kFull) {
        overflow = sets_[index];
        return kFull;
    }
    store_release(cell(from + cls), next);
    return next;
}

LazyDfa::Result LazyDfa::run(std::string_view text, std::size_t& pos, std::vector<std::uint32_t>& set) const {
    const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
    const std::size_t n = text.size();
    const std::uint8_t* map = classes_.map.data();
    const std::uint32_t dead = dead_;
    std::uint32_t s = start_;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t cls = map[p[i]];
        std::uint32_t next = load_acquire(cell(s + cls));
        if (next <= dead) [[unlikely]] {
            if (next == dead) return Result::NoMatch;
            next = slow_next(s, cls, set);
            if (next == kFull) {
                pos = i;
                return Result::Full;
            }
            if (next == dead) return Result::NoMatch;
        }
        s = next;
    }
    const std::uint8_t a = std::atomic_ref<std::uint8_t>(accept_[s / stride_]).load(std::memory_order_relaxed);
    return a ? Result::Match : Result::NoMatch;
}

}  // namespace tessaron::pattern
