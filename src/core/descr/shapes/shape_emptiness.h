// Emptiness of one mapping shape.
//
// A shape admits no dict when a required key can hold no value, when two
// keys it requires are one key to a dict (True and 1, False and 0), or when
// an existential entry has no key that could satisfy it.  It admits a dict
// when one can be put together: every required key with a value, and every
// entry given a witness key of its own that no other key of that dict
// collides with.  Anything between is undecided.
#pragma once

#include <cstdint>

#include "core/descr/descr.h"
#include "core/ir/answers.h"

namespace tessaron::descr {

// One failing small step of the work budget (budget.h) for each value
// whose verdict the search weighs (a candidate's, a required key's) and
// that is not known yet; a value refused its step is undecided.
ir::Emptiness shape_verdict(const Shape& s);

// The values whose verdicts shape searches weighed on this thread so far
// (each one small step), a work counter for tests.
std::uint64_t shape_values_weighed();

}  // namespace tessaron::descr
