// The answers of questions that may go unanswered.
//
// Every question the core asks about a schema -- a leaf question of the
// oracle, an inclusion, an emptiness -- has a third answer beside its two
// claims: declined or undecided.  That answer is always permitted and never
// a claim, so whatever runs out (steps, nesting, an oracle that cannot
// tell) ends in it.  Each kind of question has its own type, so an
// emptiness answer cannot be read as an inclusion answer by accident; where
// one is derived from the other the conversion is written out.
#pragma once

#include <cstdint>

namespace tessaron::ir {

// A yes/no leaf question of the oracle.
enum class Answer : std::uint8_t { No = 0, Yes = 1, Declined = 2 };

// The order of one object against another, or declined.
enum class Order : std::int8_t { Less = -1, Equal = 0, Greater = 1, Declined = -2 };

// Whether every value of the left side is a value of the right side.
enum class Decision : std::uint8_t { Subset = 0, NotSubset = 1, Undecided = 2 };

// Whether a schema admits no value.
enum class Emptiness : std::uint8_t { Empty = 0, Inhabited = 1, Undecided = 2 };

}  // namespace tessaron::ir
