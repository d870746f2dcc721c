// Emptiness of lines, slots and descriptors.
//
// The verdicts are three-valued (ir::Emptiness): empty only on a proof,
// inhabited only when a value is shown to exist (a class is assumed to
// have instances), undecided otherwise.  A line is decided by its atom
// (atoms.h) and its condition list (conditions.h): it is empty when either
// is proved empty, inhabited when the atom is and some condition is known
// satisfiable in the line's slot.  A negated slot or condition list is made
// explicit first; when that fails (budget, caps) the answer is undecided,
// never empty.
//
// A whole descriptor decides the slot of `Other` (other objects) first and
// holds its answer back, then the builtin kinds in slot order, returning
// "inhabited" at the first slot proved inhabited; the `Other` answer is
// taken last.  The order is the budget's, not the answer's: the `Other`
// slot's units are always spent, before the builtin slots stop at the
// first inhabited one, so what a tight budget leaves each slot is fixed and
// does not hang on which builtin slot is inhabited.  Changing the order
// changes which answers a tight budget reaches.
//
// Budget: no unit on entry; explicit forms and nested tests of attribute
// values take failing units.  Callers bound a test by a window
// (budget.h); an exhausted budget makes the answer undecided.
#pragma once

#include <initializer_list>
#include <optional>

#include "core/descr/descr.h"
#include "core/descr/nested.h"
#include "core/ir/answers.h"

namespace tessaron::descr {

// Whether some value satisfies the list: empty when every condition of
// its explicit form is unsatisfiable (or there is none), inhabited when one
// is known satisfiable in `slot`, undecided otherwise (and when the
// explicit form fails).  Without a slot, only "empty" is meaningful.
ir::Emptiness condition_list_verdict(const ConditionList& list, std::optional<Kind> slot);

// Names: `*_is_empty` answers a bool (true on a proof), `*_verdict` an
// ir::Emptiness.

// True when the line is proved to admit no value.
bool line_is_empty(const Line& line);
// `slot_verdict`, `descr_verdict` and `shared_descr_verdict` are declared in
// core/descr/nested.h.

// True when every slot whose kind is not listed is proved empty.
bool descr_within_kinds(const Descr& d, std::initializer_list<Kind> kinds);

// `shared_descr_subset` is declared in core/descr/nested.h.

}  // namespace tessaron::descr
