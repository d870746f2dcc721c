// The explicit form of a negated slot: the lines of the kind's universe
// outside the union of the given lines.
//
// Start from the universe line of the kind; for each excluded line in
// order, multiply the accumulated lines pairwise by the two lines of its
// complement and compact.  One failing unit per pair; the lines gathered in
// one step are compacted when more than 255 wait and after the step; more
// than 256 left fail.  The explicit forms of condition lists, set items
// and shapes live with their types (conditions.h, set_items.h, shape.h).
#pragma once

#include <optional>
#include <vector>

#include "core/descr/descr.h"

namespace tessaron::descr {

std::optional<std::vector<Line>> positive_slot(const std::vector<Line>& lines, KindCode code);

}  // namespace tessaron::descr
