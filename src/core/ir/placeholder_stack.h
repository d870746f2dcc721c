// Placeholder ids and the per-thread stack of `recursive` calls in progress.
//
// A `recursive(...)` call (and a type alias being built) stands for the
// schema it defines by a placeholder node carrying a process-unique id.
// While the call runs, its id sits on the calling thread's stack; a
// placeholder whose id is not on that stack is unresolved, and finalisation
// refuses a schema that still holds one.
#pragma once

#include <cstdint>
#include <vector>

namespace tessaron::ir {

// The next placeholder id: a process-wide counter starting at 0, advanced by
// one atomically (relaxed; only uniqueness matters).  Answers the value
// before the addition.
std::uint64_t next_placeholder_id();

// The calling thread's stack, innermost call last.
struct PlaceholderStack {
    std::vector<std::uint64_t> ids;
    std::int32_t borrow = 0;
};

void push_placeholder(std::uint64_t id);
// Removes the last id; nothing when the stack is empty.
void pop_placeholder();
// Whether `id` stands anywhere on the calling thread's stack.
bool placeholder_is_active(std::uint64_t id);

// Pushes an id for the scope's lifetime; pops it however the scope ends.
class PlaceholderScope {
public:
    explicit PlaceholderScope(std::uint64_t id) { push_placeholder(id); }
    ~PlaceholderScope() { pop_placeholder(); }
    PlaceholderScope(const PlaceholderScope&) = delete;
    PlaceholderScope& operator=(const PlaceholderScope&) = delete;
};

}  // namespace tessaron::ir
