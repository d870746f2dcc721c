// Lazy DFA: the matcher's fast path, and the whole-text match built on it.
//
// The transition table is one flat array of 32-bit cells, row-major by DFA
// state over byte classes, and a state is named by its row offset, so a
// step is `s = table[s + class[byte]]`.  Offset 0 is a reserved row that is
// never a target, so a zero cell means "not computed yet"; row 1 is the
// dead state.  A text is in the language when the state reached at its end
// accepts (its unresolved NFA set reaches Match with the end-of-text
// assertions applied).
//
// Sharing between threads: readers load cells with acquire ordering and
// never lock; a missing cell is computed under a mutex (re-checked there,
// so two threads never create the same state), the new state's accepting
// flag is written first and the cell is published last with release
// ordering.  The table's memory is reserved once with its final size
// (mapped lazily by the OS, so untouched rows cost nothing) and never
// moves, so every cell a reader loads, whenever it loads it, names a row
// inside the table.
//
// Bounded memory, small constant: one budget in bytes counts everything
// the cache holds, for each state its row of the table, its NFA set, the
// key that finds it and its share of the containers' slots (an upper
// bound whatever their fill; state_bytes), besides the accepting flags
// and the start set.  When a new state would pass the budget, or the table
// has no row left, the table is emptied (a reset, counted) and the run
// goes on from the state it needs, created anew; the containers keep their
// capacity, which the count of their fullest fill already covered.
// Resets come too often when the table fills before the DFA has read
// kBytesPerState bytes per state it holds: building states then costs
// more than simulating the NFA, so the run gives up and `matches`
// simulates a stretch of the text (kRetryStretch bytes per state the table
// held, doubling with each try that gives up again) before it lets the DFA
// try again with one reset allowed.  So a text whose states never repeat
// costs little more than simulation (the tries form a geometric series),
// and one that settles into a few states after a burst of new ones gets
// back to table speed.  Time stays linear in the text either way.
//
// Resetting under readers: a reset happens under the mutex; around it the
// generation counter is odd (a sequence lock).  A run notes the generation
// when it starts and checks it before it answers: if a reset happened
// meanwhile (another thread, or a handler run on this thread while the run
// was suspended), what it read is thrown away and the text is simulated.
// The slow path checks the generation under the mutex before it uses the
// run's state, so a stale state never indexes the state sets.
//
// The single-thread cost over an unshared DFA is the acquire load (a plain
// load on x86) and one compare per byte, and two loads per text.
//
// A caller's poll (util/poll.h) is ticked between stretches of kTickBytes
// and for every state made, never under the mutex; the simulation ticks it
// with the NFA states it visits.  A stopped poll ends the match (false).
#include "core/pattern/lazy_dfa.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/pattern/nfa_sim.h"

namespace tessaron::pattern {

namespace {
constexpr std::size_t kMapThreshold = 64 * 1024;
constexpr std::size_t kMaxStates = 1u << 16;
// A reset is allowed once the DFA has read this many bytes per state held.
constexpr std::uint64_t kBytesPerState = 8;
// After giving up, this many bytes per state held are simulated before the
// DFA tries again (at least kMinStretch), twice as many after each try of
// the same text that gave up again.
constexpr std::size_t kRetryStretch = 16;
constexpr std::size_t kMinStretch = 16384;
// Bytes the DFA reads between two ticks of a poll.
constexpr std::size_t kTickBytes = std::size_t{1} << 16;

// What a heap block costs beyond the bytes asked for (header and rounding).
constexpr std::size_t kBlockOverhead = 16;
// What the containers of the writer side hold per state, whatever their
// fill: a slot of sets_ (a vector doubles, so up to two slots per state),
// one of index_ (an open-addressing table grows at 7/8 full to twice the
// size, so up to 2.3 slots and their metadata bytes per state), the
// context byte, the pending bit and the accepting byte.
constexpr std::size_t kIndexSlot = sizeof(std::pair<const std::string, std::uint32_t>) + 2;
constexpr std::size_t kStateOverhead = 2 * sizeof(std::vector<std::uint32_t>) + (5 * kIndexSlot) / 2 + 3;

// The bytes a state of `ids` NFA states and a key of `key_size` bytes adds
// to the cache, its row of the table included.
std::size_t state_bytes(std::size_t row_bytes, std::size_t ids, std::size_t key_size) {
    std::size_t bytes = row_bytes + kStateOverhead;
    if (ids > 0) bytes += 4 * ids + kBlockOverhead;
    if (key_size >= sizeof(std::string)) bytes += key_size + 1 + kBlockOverhead;  // past the inline buffer
    return bytes;
}

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
    budget_ = memory_budget;
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
        dead_ = stride_;
        std::uint32_t seed = nfa.start;
        stepper_.closure(&seed, 1, start_set_);
        std::lock_guard<std::mutex> lock(mu_);
        start_ = seed_states();
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

void LazyDfa::order_set(std::vector<std::uint32_t>& set) const {
    const std::size_t n = set.size();
    const std::size_t words = (nfa_.states.size() + 63) / 64;
    // A comparison sort costs about n log n steps, marking and scanning the
    // bits n plus a step per 64 NFA states: the bits serve the sets that
    // are large beside the program (a large pattern's states near its
    // start, where a sort would cost more than the step that made them).
    if (n < 64 || words > 8 * n) {
        std::sort(set.begin(), set.end());
        return;
    }
    if (order_bits_.size() != words) order_bits_.assign(words, 0);
    for (const std::uint32_t id : set) order_bits_[id >> 6] |= std::uint64_t{1} << (id & 63);
    std::size_t out = 0;
    for (std::size_t w = 0; w < words && out < n; ++w) {
        std::uint64_t bits = order_bits_[w];
        if (bits == 0) continue;
        order_bits_[w] = 0;
        while (bits != 0) {
            set[out++] = static_cast<std::uint32_t>(w * 64 + static_cast<std::size_t>(__builtin_ctzll(bits)));
            bits &= bits - 1;
        }
    }
    set.resize(out);
}

std::uint32_t LazyDfa::intern(std::uint8_t ctx, std::vector<std::uint32_t>& set) const {
    if (set.empty()) return dead_;
    order_set(set);
    const bool pending = stepper_.has_pending(set);
    if (!pending) ctx = 0;  // nothing left to read the context
    std::string key = state_key(ctx, set);
    if (auto it = index_.find(key); it != index_.end()) return it->second;
    const std::size_t index = sets_.size();
    const std::size_t bytes = state_bytes(std::size_t{stride_} * 4, set.size(), key.size());
    // The start state is made whatever it costs: the others are counted
    // against it.
    if (index >= max_states_ || (index > 2 && held_bytes_ + bytes > budget_)) return kFull;
    const std::uint32_t holds_at_end = evaluate_looks(context_side(ctx), edge_side(), nfa_.looks_used);
    const bool accepting = stepper_.accepts(set, holds_at_end);
    std::atomic_ref<std::uint8_t>(accept_[index]).store(accepting ? 1 : 0, std::memory_order_relaxed);
    const auto id = static_cast<std::uint32_t>(index * stride_);
    held_bytes_ += bytes;
    bytes_.store(held_bytes_, std::memory_order_relaxed);
    sets_.push_back(set);
    ctxs_.push_back(ctx);
    pending_.push_back(pending);
    index_.emplace(std::move(key), id);
    count_.store(sets_.size(), std::memory_order_relaxed);
    return id;
}

std::uint32_t LazyDfa::seed_states() const {
    sets_.clear();
    ctxs_.clear();
    pending_.clear();
    index_.clear();
    // The accepting flags and the start set are held for the DFA's life,
    // the two first rows (reserved, dead) after every reset.
    held_bytes_ = max_states_ + 4 * start_set_.size() + 2 * state_bytes(std::size_t{stride_} * 4, 0, 0);
    for (int row = 0; row < 2; ++row) {  // row 0 reserved, row 1 dead
        sets_.emplace_back();
        ctxs_.push_back(0);
        pending_.push_back(false);
    }
    for (std::uint32_t c = 0; c < stride_; ++c) store_release(cell(dead_ + c), dead_);
    count_.store(2, std::memory_order_relaxed);
    std::vector<std::uint32_t> start = start_set_;
    return intern(kCtxStart & ctx_mask_, start);
}

void LazyDfa::note_scanned(std::uint64_t read) const {
    const std::uint64_t scanned = scanned_.load(std::memory_order_relaxed);
    if (scanned < kBytesPerState * max_states_) scanned_.store(scanned + read, std::memory_order_relaxed);
}

bool LazyDfa::try_reset(bool& retry) const {
    const std::uint64_t held = sets_.size() - 2;
    if (!retry && scanned_.load(std::memory_order_relaxed) < kBytesPerState * held) return false;
    const std::uint64_t g = generation_.load(std::memory_order_relaxed);
    generation_.store(g + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    // Every row past the dead one that a state was given; rows beyond were
    // never written.  Atomic stores: readers may be loading these cells.
    const std::size_t end = sets_.size() * stride_;
    for (std::size_t i = 2 * std::size_t{stride_}; i < end; ++i)
        std::atomic_ref<std::uint32_t>(table_[i]).store(kUnknown, std::memory_order_relaxed);
    [[maybe_unused]] const std::uint32_t start = seed_states();
    assert(start == start_);  // the start state takes the same row every time
    scanned_.store(0, std::memory_order_relaxed);
    generation_.store(g + 2, std::memory_order_release);
    resets_.fetch_add(1, std::memory_order_relaxed);
    retry = false;
    return true;
}

std::uint32_t LazyDfa::slow_next(std::uint32_t from, std::uint32_t cls, std::vector<std::uint32_t>& overflow,
                                 bool& retry, std::uint64_t& generation) const {
    std::lock_guard<std::mutex> lock(mu_);
    if (generation_.load(std::memory_order_relaxed) != generation) return kStale;
    std::uint32_t known = load_acquire(cell(from + cls));
    if (known != kUnknown) return known;
    const std::size_t index = from / stride_;
    const std::uint8_t b = classes_.representative[cls];
    const std::uint8_t ctx = ctxs_[index];
    const std::uint64_t before = stepper_.work;
    std::uint32_t holds = 0;
    if (pending_[index]) holds = evaluate_looks(context_side(ctx), byte_side(b), nfa_.looks_used);
    stepper_.advance(sets_[index], holds, b, scratch_);
    const std::uint8_t next_ctx = context_after(b, ctx_mask_);
    std::uint32_t next = intern(next_ctx, scratch_);
    if (next == kFull) {
        overflow = sets_[index];
        if (try_reset(retry)) {
            generation = generation_.load(std::memory_order_relaxed);
            // The row of `from` is gone; the run goes on from the new state.
            next = intern(next_ctx, scratch_);
        }
        if (next == kFull) states_at_give_up_.store(sets_.size(), std::memory_order_relaxed);
    } else {
        store_release(cell(from + cls), next);
    }
    work_.fetch_add(stepper_.work - before, std::memory_order_relaxed);
    return next;
}

std::uint32_t LazyDfa::enter(std::vector<std::uint32_t>& set, std::uint8_t prev, bool& retry,
                             std::uint64_t& generation) const {
    std::lock_guard<std::mutex> lock(mu_);
    if (generation_.load(std::memory_order_relaxed) != generation) return kStale;
    const std::uint64_t before = stepper_.work;
    const std::uint8_t ctx = context_after(prev, ctx_mask_);
    std::uint32_t s = intern(ctx, set);
    if (s == kFull && try_reset(retry)) {
        generation = generation_.load(std::memory_order_relaxed);
        s = intern(ctx, set);
    }
    if (s == kFull) states_at_give_up_.store(sets_.size(), std::memory_order_relaxed);
    work_.fetch_add(stepper_.work - before, std::memory_order_relaxed);
    return s;
}

LazyDfa::Result LazyDfa::run(std::string_view text, std::size_t& pos, std::vector<std::uint32_t>& set,
                             bool retry, util::Poll* poll) const {
    std::uint64_t generation = generation_.load(std::memory_order_acquire);
    if (generation & 1) return Result::Busy;
    const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
    const std::size_t n = text.size();
    const std::uint8_t* map = classes_.map.data();
    const std::uint32_t dead = dead_;
    const std::size_t first = pos;
    // The answer stands only when no reset happened since `generation`.
    auto settle = [&](Result r, std::size_t read) {
        std::atomic_thread_fence(std::memory_order_acquire);
        if (generation_.load(std::memory_order_relaxed) != generation) return Result::Busy;
        note_scanned(read);
        return r;
    };
    // A new state visits each NFA state at most twice (reading the byte,
    // then closing over the empty moves), and twice more where assertions
    // wait (deciding them before the byte, and whether it accepts).
    const std::uint64_t state_cost = (nfa_.looks_used ? 4 : 2) * std::uint64_t{nfa_.states.size()} + 1;
    std::uint32_t s = start_;
    if (first > 0) {
        s = enter(set, p[first - 1], retry, generation);
        if (s == kStale) return Result::Busy;
        if (s == kFull) return Result::GaveUp;
        if (poll && !poll->tick(state_cost)) return Result::Stopped;
    }
    std::size_t i = first;
    // Without a poll the text is one stretch; with one, stretches of
    // kTickBytes with a tick between them.  A new state is ticked as the
    // most work it can cost, as it is made.
    for (;;) {
        const std::size_t end = poll && n - i > kTickBytes ? i + kTickBytes : n;
        for (; i < end; ++i) {
            const std::uint32_t cls = map[p[i]];
            std::uint32_t next = load_acquire(cell(s + cls));
            if (next <= dead) [[unlikely]] {
                if (next == dead) return settle(Result::NoMatch, i - first);
                std::vector<std::uint32_t> overflow;
                next = slow_next(s, cls, overflow, retry, generation);
                if (next == kStale) return Result::Busy;
                if (next == kFull) {
                    // `overflow` is the set at i, read under the lock: valid.
                    pos = i;
                    set = std::move(overflow);
                    note_scanned(i - first);
                    return Result::GaveUp;
                }
                if (next == dead) return settle(Result::NoMatch, i - first);
                if (poll && !poll->tick(state_cost)) return Result::Stopped;
            }
            s = next;
        }
        if (i == n) break;
        // The hook may run code that matches with this DFA again, or resets
        // it: `s` stays a row inside the table, and `settle` throws the
        // reading away if a reset happened.
        if (!poll->tick(kTickBytes)) return Result::Stopped;
    }
    const std::uint8_t a = std::atomic_ref<std::uint8_t>(accept_[s / stride_]).load(std::memory_order_relaxed);
    return settle(a ? Result::Match : Result::NoMatch, n - first);
}

bool LazyDfa::simulate_span(std::string_view text, std::size_t from, std::size_t to,
                            std::vector<std::uint32_t>& set, util::Poll* poll) const {
    std::uint64_t work = 0;
    const bool alive = advance_text(nfa_, text, from, to, set, work, poll);
    work_.fetch_add(work, std::memory_order_relaxed);
    simulated_bytes_.fetch_add(to - from, std::memory_order_relaxed);
    return alive;
}

bool LazyDfa::matches(std::string_view text, util::Poll* poll) const {
    std::size_t pos = 0;
    std::vector<std::uint32_t> set;
    bool retry = false;
    unsigned tries = 0;
    for (;;) {
        switch (run(text, pos, set, retry, poll)) {
            case Result::Match: return true;
            case Result::NoMatch: return false;
            case Result::Stopped: return false;
            case Result::GaveUp: break;
            case Result::Busy:
                // A reset by another run: finish this text by simulation.
                if (pos == 0) set = start_set_;
                if (!simulate_span(text, pos, text.size(), set, poll)) return false;
                {
                    std::uint64_t work = 0;
                    const bool accepted = accepts_at_end(nfa_, text, set, work);
                    work_.fetch_add(work, std::memory_order_relaxed);
                    return accepted;
                }
        }
        // Resets come too often here: simulate a stretch, then let the DFA
        // try again with one reset allowed.
        const std::size_t held = states_at_give_up_.load(std::memory_order_relaxed);
        const std::size_t base = std::max(kMinStretch, kRetryStretch * held);
        const std::size_t stretch = tries < 32 ? base << tries : text.size();
        ++tries;
        const std::size_t to = text.size() - pos <= stretch ? text.size() : pos + stretch;
        if (!simulate_span(text, pos, to, set, poll)) return false;
        pos = to;
        if (pos == text.size()) {
            std::uint64_t work = 0;
            const bool accepted = accepts_at_end(nfa_, text, set, work);
            work_.fetch_add(work, std::memory_order_relaxed);
            return accepted;
        }
        retry = true;
    }
}

}  // namespace tessaron::pattern
