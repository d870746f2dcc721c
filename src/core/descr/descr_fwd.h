// The names the container atoms need before the descriptor is defined.
//
// Descriptors nest: sequence labels, set elements, attribute values and
// shape values are shared descriptors.  The container atom headers include
// this one, and core/descr/descr.h completes `Descr` after them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/descr/shared.h"

namespace tessaron::descr {

struct Descr;

// A descriptor behind an atomic count, never changed once shared.
using SharedDescr = Shared<Descr>;

// Where a nested descriptor bounds a value (an attribute, a set element, a
// key's value), the absent handle bounds nothing: every value.  A failure
// is never written so: the operations that can fail answer an optional.
inline SharedDescr every_value() { return SharedDescr(); }

// A kind as a code: 0 to 10 name slots 0 to 10, 255 names slot 11 (other
// objects).  The same numbers as ir::kind_code.
using KindCode = std::uint8_t;
inline constexpr KindCode kOtherCode = 255;
inline constexpr std::size_t kSlotCount = 12;

constexpr KindCode slot_code(std::size_t slot) { return slot == 11 ? kOtherCode : static_cast<KindCode>(slot); }
constexpr std::size_t code_slot(KindCode code) { return code == kOtherCode ? 11 : code; }

}  // namespace tessaron::descr
