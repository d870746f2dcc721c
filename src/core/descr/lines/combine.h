// Union and intersection of descriptors, slot by slot.
//
// The union of two slots concatenates their lines (a negated side made
// explicit first) and compacts them.  The intersection of two positive
// slots is the product of their line lists: every pair met (atoms by
// `combine_atoms`, condition lists by `meet_condition_lists`), then
// cleaned up (lines proved empty dropped, lines with equal condition lists
// merged, sorted, deduplicated).  A negated side contributes the
// complement of each of its lines as a further factor.  Every slot of a
// result is positive.
//
// Shared descriptors: the meet or join of one shared descriptor with
// itself is a new reference to it, without work; otherwise as above,
// wrapped in a new shared descriptor.
//
// Budget: one failing unit on entry of `descr_combine` and of
// `meet_shared_descrs` (unless the shortcut applies), one per pair of
// lines, and what atom meets and condition products take.  Caps: the
// gathered lines are compacted once more than `kCompactAbove` wait; more
// than `kMaxTerms` lines left fail.  A failure releases everything built: no descriptor.
#pragma once

#include <optional>
#include <vector>

#include "core/descr/descr.h"
#include "core/descr/nested.h"

namespace tessaron::descr {

OptDescr descr_combine(const Descr& a, const Descr& b, SetOp op);

// The product of two line lists of one slot; an empty side gives an empty
// product without taking a unit.
std::optional<std::vector<Line>> meet_line_lists(const std::vector<Line>& left, const std::vector<Line>& right);

// `meet_shared_descrs`, `join_shared_descrs` and `meet_optional_shared`
// are declared in core/descr/nested.h.
// The union of optional shared descriptors: absent when either is absent,
// the other one when one is the shared empty descriptor.  None on failure.
std::optional<SharedDescr> join_optional_shared(const SharedDescr& a, const SharedDescr& b);

}  // namespace tessaron::descr
