// The placeholder id counter and the per-thread stack of active ids.
//
// The counter is the only process-wide mutable state of the IR.  The stack
// is per thread (created on first use, released at thread exit), so a
// placeholder active on one thread is unresolved on every other.  Look-ups
// are a linear scan: the stack is as deep as `recursive` calls are nested.
// Each access holds the stack's borrow guard only for its own duration and
// never calls out while holding it.
#include "core/ir/placeholder_stack.h"

#include <algorithm>
#include <atomic>

#include "core/ir/per_thread.h"

namespace tessaron::ir {
namespace {
std::atomic<std::uint64_t> placeholder_counter{0};
}

std::uint64_t next_placeholder_id() { return placeholder_counter.fetch_add(1, std::memory_order_relaxed); }

void push_placeholder(std::uint64_t id) {
    PlaceholderStack* s = PerThread<PlaceholderStack>::get();
    if (s == nullptr) return;
    BorrowGuard guard(s->borrow);
    if (guard) s->ids.push_back(id);
}

void pop_placeholder() {
    PlaceholderStack* s = PerThread<PlaceholderStack>::get();
    if (s == nullptr) return;
    BorrowGuard guard(s->borrow);
    if (guard && !s->ids.empty()) s->ids.pop_back();
}

bool placeholder_is_active(std::uint64_t id) {
    PlaceholderStack* s = PerThread<PlaceholderStack>::get();
    if (s == nullptr) return false;
    BorrowGuard guard(s->borrow);
    if (!guard) return false;
    return std::find(s->ids.begin(), s->ids.end(), id) != s->ids.end();
}

}  // namespace tessaron::ir
