// The automaton of exactly one byte string, built in canonical form.
#pragma once

#include <optional>
#include <string_view>

#include "core/pattern/dfa.h"

namespace tessaron::descr {

// The minimal automaton accepting exactly `bytes`, in the canonical form of
// pattern::minimize, without running the minimisation; none above
// `kMaxTextStates` - 2 bytes (the chain needs n + 2 states).
std::optional<pattern::Dfa> literal_chain(std::string_view bytes);

}  // namespace tessaron::descr
