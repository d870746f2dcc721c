// Whole-text membership by simulating the NFA over the text.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "core/pattern/nfa.h"

namespace tessaron::pattern {

// The unresolved set at the start of any text.
std::vector<std::uint32_t> start_set(const Nfa& nfa);

// Runs from position `from` of the text, where the unresolved set is `set`,
// to the end; true when the text is matched as a whole.  Assertions are
// evaluated on the text, Unicode word boundaries included.  Adds the NFA
// states visited to `work`: at most (text length + 1) * 2 * NFA size.
bool simulate(const Nfa& nfa, std::string_view text, std::size_t from, std::vector<std::uint32_t> set,
              std::uint64_t& work);

}  // namespace tessaron::pattern
