// The descriptor of a refined node: the inner schema met, constraint by
// constraint, with the descriptor of each constraint.
//
// Each constraint reads the running descriptor (the inner one narrowed by
// the constraints before it):
//   Ge, Gt, Le, Lt   on a schema of floats only, a float interval; on one
//                    of ints and bools only, integer bounds (Gt n is Ge
//                    n + 1), which bools follow by their values 0 and 1;
//   MultipleOf d     on ints and bools only, the multiples of d (|d| up to
//                    `kMaxModulus`);
//   MinLen, MaxLen   on str, bytes, lists and tuples, texts of at least /
//                    at most n code points or bytes, sequences of at
//                    least / at most n items; all length bounds of one
//                    refinement are one range (str up to 584 code points,
//                    bytes up to `kMaxTextStates` - 2, items at least up to
//                    `kMaxCountItems`, at most up to `kMaxCountItems` - 1), or one by one where the range is none;
//                    a least length above `ir::kMaxLength` admits no value
//                    and a greatest length at or above it limits nothing;
//   Regex p          on str and bytes, the str texts the pattern matches
//                    as a whole: the walk admits no bytes value under a
//                    pattern, so the bytes slot gets nothing;
//   Predicate        never.
// Anything else -- a bound the oracle declines or that is not an integer
// where one is needed, a pattern that does not compile within the
// automaton caps or matches nothing here -- has no descriptor.  Such a
// constraint is tried again once the others narrowed the running
// descriptor (the meet does not depend on the order, which follows where
// the constants sit in the pool); one that still has none is left out in
// the direction Above, where the result may hold more values (marked
// bounded), and makes the whole refinement no descriptor in the direction
// Below.
#pragma once

#include <span>

#include "core/descr/convert/convert.h"

namespace tessaron::descr {

OptDescr refined_descr(const ir::Node& inner, std::span<const ir::Constraint> constraints, ConvertContext& ctx,
                       std::uint32_t depth);

}  // namespace tessaron::descr
