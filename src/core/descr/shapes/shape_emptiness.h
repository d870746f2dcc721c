// Emptiness of one mapping shape.
//
// A shape admits no dict when a required key can hold no value, when two
// keys it requires are one key to a dict (True and 1, False and 0), or when
// an existential entry has no key that could satisfy it.  It admits a dict
// when one can be put together: every required key with a value, and every
// entry given a witness key of its own that no other key of that dict
// collides with.  Anything between is undecided.
#pragma once

#include "core/descr/descr.h"
#include "core/ir/answers.h"

namespace tessaron::descr {

ir::Emptiness shape_verdict(const Shape& s);

}  // namespace tessaron::descr
