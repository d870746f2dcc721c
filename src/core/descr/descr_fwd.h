// The names the container atoms need before the descriptor is defined.
//
// Descriptors nest: sequence labels, set elements, attribute values and
// shape values are shared descriptors.  The container atom headers include
// this one, and core/descr/descr.h completes `Descr` after them.
#pragma once

#include "core/descr/shared.h"
#include "core/ir/kind.h"

namespace tessaron::descr {

struct Descr;

// A descriptor behind an atomic count, never changed once shared.
using SharedDescr = Shared<Descr>;

// Where a nested descriptor bounds a value (an attribute, a set element, a
// key's value), the absent handle bounds nothing: every value.  A failure
// is never written so: the operations that can fail answer an optional.
inline SharedDescr every_value() { return SharedDescr(); }

// Descriptors hold one slot per value kind, indexed by the kind.
using ir::Kind;

}  // namespace tessaron::descr
