// Total orders and structural equalities of descriptors and their parts.
//
// The algebra keeps every list it builds sorted and free of duplicates:
// lines by `cmp_line`, conditions by `condition_less`, and the nested
// descriptors inside labels, items and shapes by `cmp_descr`.  Orders are
// lexicographic over the fields in a fixed order (an absent optional
// descriptor first, a list that is a prefix of another first) and compare
// contents only.  Equalities are structural, with the identity of shared
// descriptors and automata as their shortcut; integer sets compare as
// sets (two moduli of one set are equal, though ordered apart).  Inside a
// decision the order and the equality of two distinct shared descriptors
// are computed once (core/descr/decision_memo.h).
#pragma once

#include <compare>
#include <vector>

#include "core/descr/descr.h"
#include "core/descr/nested.h"

namespace tessaron::descr {

// The list order `cmp_lists`, its equality `lists_equal`,
// `cmp_optional_descr` and `optional_descr_equal` are declared in
// core/descr/nested.h.
std::strong_ordering cmp_descr(const Descr& a, const Descr& b);
std::strong_ordering cmp_line(const Line& a, const Line& b);
std::strong_ordering cmp_atom(const Atom& a, const Atom& b);
std::strong_ordering cmp_condition(const Condition& a, const Condition& b);
inline bool condition_less(const Condition& a, const Condition& b) { return cmp_condition(a, b) < 0; }

bool descr_equal(const Descr& a, const Descr& b);
bool shared_descr_equal(const SharedDescr& a, const SharedDescr& b);
bool atom_equal(const Atom& a, const Atom& b);
bool condition_attrs_equal(const Condition& a, const Condition& b);
bool condition_ids_equal(const std::vector<ClassRecord>& a, const std::vector<ClassRecord>& b);
bool condition_equal(const Condition& a, const Condition& b);
bool conditions_equal(const std::vector<Condition>& a, const std::vector<Condition>& b);
// Same negated flag and equal conditions.
bool condition_lists_equal(const ConditionList& a, const ConditionList& b);
bool line_equal(const Line& a, const Line& b);
bool lines_equal(const std::vector<Line>& a, const std::vector<Line>& b);

}  // namespace tessaron::descr
