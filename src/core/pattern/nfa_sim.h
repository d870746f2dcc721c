// Whole-text membership by simulating the NFA over the text.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "core/pattern/nfa.h"
#include "core/util/poll.h"

namespace tessaron::pattern {

// The unresolved set at the start of any text.
std::vector<std::uint32_t> start_set(const Nfa& nfa);

// Advances `set`, the unresolved set at position `from` of the text, over
// text[from, to); false (with `set` empty) once no NFA state is left.
// Assertions are read from the text around each position.  Adds the NFA
// states visited to `work`.  With a `poll`, the states each byte visits are
// ticked after that byte; when it stops the work, the answer is false with
// `set` empty (the caller tells the two apart by `poll->stopped()`).
bool advance_text(const Nfa& nfa, std::string_view text, std::size_t from, std::size_t to,
                  std::vector<std::uint32_t>& set, std::uint64_t& work, util::Poll* poll = nullptr);

// Whether the text may end where the unresolved set is `set`.
bool accepts_at_end(const Nfa& nfa, std::string_view text, const std::vector<std::uint32_t>& set,
                    std::uint64_t& work);

// Runs from position `from` of the text, where the unresolved set is `set`,
// to the end; true when the text is matched as a whole.  Assertions are
// evaluated on the text, Unicode word boundaries included.  Adds the NFA
// states visited to `work`: at most (text length + 1) * 2 * NFA size.  A
// `poll` that stops the work makes the answer false.
bool simulate(const Nfa& nfa, std::string_view text, std::size_t from, std::vector<std::uint32_t> set,
              std::uint64_t& work, util::Poll* poll = nullptr);

}  // namespace tessaron::pattern
