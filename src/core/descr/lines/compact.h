// Line compaction: the normal form of the lines of one slot.
//
// Lines proved empty are dropped (their atom admits nothing, or every
// condition of their explicit condition list is unsatisfiable); a line
// whose condition list equals that of a line kept before it is merged into
// that line by the union of the atoms (when the union fails both stay);
// the rest is sorted by `cmp_line` and equal neighbours are removed.  It
// fails only when more than `kMaxTerms` lines remain: an undecided line, a failed
// explicit form or a failed union leave lines in place, whatever the
// budget.
#pragma once

#include <optional>
#include <vector>

#include "core/descr/descr.h"

namespace tessaron::descr {

std::optional<std::vector<Line>> compact_lines(std::vector<Line> lines);

}  // namespace tessaron::descr
