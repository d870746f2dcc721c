// The two ways the algebra combines two sets of values: join and meet.
//
// Every family takes it: integer and float sets, text and sequence
// automata, set items, shapes, lines and whole descriptors.
#pragma once

#include <cstdint>

namespace tessaron::descr {

enum class SetOp : std::uint8_t { Union = 0, Intersection = 1 };

}  // namespace tessaron::descr
