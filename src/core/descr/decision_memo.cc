// The per-thread descriptor memo of one decision (see decision_memo.h).
#include "core/descr/decision_memo.h"

#include <functional>

namespace tessaron::descr {

namespace {

// Whether a scope is open, and its memo, made on the first thing kept so
// that a decision that compares nothing allocates nothing.
struct ThreadMemo {
    bool open = false;
    DecisionMemo* memo = nullptr;
};
thread_local ThreadMemo t_thread_memo;

DecisionMemo* memo_to_keep_in() {
    ThreadMemo& t = t_thread_memo;
    if (!t.memo && t.open) t.memo = new DecisionMemo();
    return t.memo;
}

thread_local std::uint64_t t_descr_comparisons = 0;

bool swapped(const SharedDescr& a, const SharedDescr& b) { return std::less<const Descr*>{}(b.get(), a.get()); }

DescrPairKey key_of(const SharedDescr& a, const SharedDescr& b) {
    return swapped(a, b) ? DescrPairKey{b.get(), a.get()} : DescrPairKey{a.get(), b.get()};
}

const RememberedPair* find_pair(const SharedDescr& a, const SharedDescr& b) {
    DecisionMemo* memo = t_thread_memo.memo;
    if (!memo) return nullptr;
    auto it = memo->pairs.find(key_of(a, b));
    return it == memo->pairs.end() ? nullptr : &it->second;
}

RememberedPair* pair_entry(const SharedDescr& a, const SharedDescr& b) {
    DecisionMemo* memo = memo_to_keep_in();
    if (!memo) return nullptr;
    const DescrPairKey key = key_of(a, b);
    if (auto it = memo->pairs.find(key); it != memo->pairs.end()) return &it->second;
    if (memo->pairs.size() >= kMaxRememberedPairs) return nullptr;
    RememberedPair entry = swapped(a, b) ? RememberedPair{b, a, {}, {}} : RememberedPair{a, b, {}, {}};
    return &memo->pairs.emplace(key, std::move(entry)).first->second;
}

}  // namespace

DecisionMemo* decision_memo() { return t_thread_memo.memo; }

bool decision_memo_open() { return t_thread_memo.open; }

std::optional<std::strong_ordering> remembered_order(const SharedDescr& a, const SharedDescr& b) {
    const RememberedPair* r = find_pair(a, b);
    if (!r || !r->order) return std::nullopt;
    return swapped(a, b) ? 0 <=> *r->order : *r->order;
}

std::optional<bool> remembered_equality(const SharedDescr& a, const SharedDescr& b) {
    const RememberedPair* r = find_pair(a, b);
    if (!r) return std::nullopt;
    if (r->equal) return r->equal;
    if (r->order && *r->order == 0) return true;
    return std::nullopt;
}

void remember_order(const SharedDescr& a, const SharedDescr& b, std::strong_ordering order) {
    if (RememberedPair* r = pair_entry(a, b)) r->order = swapped(a, b) ? 0 <=> order : order;
}

void remember_equality(const SharedDescr& a, const SharedDescr& b, bool equal) {
    if (RememberedPair* r = pair_entry(a, b)) r->equal = equal;
}

std::optional<ir::Emptiness> remembered_verdict(const SharedDescr& d) {
    DecisionMemo* memo = t_thread_memo.memo;
    if (!memo) return std::nullopt;
    auto it = memo->verdicts.find(d.get());
    if (it == memo->verdicts.end()) return std::nullopt;
    return it->second.verdict;
}

void remember_verdict(const SharedDescr& d, ir::Emptiness verdict) {
    if (verdict == ir::Emptiness::Undecided) return;
    DecisionMemo* memo = memo_to_keep_in();
    if (!memo || memo->verdicts.size() >= kMaxRememberedVerdicts) return;
    memo->verdicts.emplace(d.get(), RememberedVerdict{d, verdict});
}

std::uint64_t descr_comparisons() { return t_descr_comparisons; }
void count_descr_comparison() { ++t_descr_comparisons; }

DecisionMemoScope::DecisionMemoScope() : owner_(!t_thread_memo.open) { t_thread_memo.open = true; }

DecisionMemoScope::~DecisionMemoScope() {
    if (!owner_) return;
    ThreadMemo& t = t_thread_memo;
    delete t.memo;
    t = ThreadMemo{};
}

}  // namespace tessaron::descr
