// The operations on nested descriptors that the atom families take from
// the whole algebra.
//
// Sequence labels, set elements and shape values are shared descriptors,
// so the atom families (sequences/, sets/, shapes/) meet, join, complement,
// order and test descriptors while the whole-descriptor algebra (lines/)
// combines their atoms.  This header declares what the families use of
// it, so that they include it and not the folder above them: the folders
// then rank bottom-up, values/ below the atom families, those below lines/,
// lines/ below convert/.  Each operation is implemented, and described in
// full, where its kind of work lives: the meets and joins in
// lines/combine.cc, the complements in lines/complement.cc, the verdicts in
// lines/emptiness.cc, the orders in lines/order.cc, `descr_of_atom` in
// convert/convert.cc.
//
// Absent shared descriptors stand for `every_value()` wherever a nested
// descriptor may be absent (set elements, shape values); the operations
// that can fail answer an optional, none on failure (budget, caps).
#pragma once

#include <algorithm>
#include <compare>
#include <cstddef>
#include <optional>
#include <vector>

#include "core/descr/descr.h"
#include "core/ir/answers.h"

namespace tessaron::descr {

// --- the list order --------------------------------------------------------------
// Two lists element by element under `cmp`, then the shorter first.
template <class T, class Cmp>
std::strong_ordering cmp_lists(const std::vector<T>& a, const std::vector<T>& b, Cmp cmp) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i)
        if (auto c = cmp(a[i], b[i]); c != 0) return c;
    return a.size() <=> b.size();
}

// Two lists of one length, equal element by element under `equal`.
template <class T, class Equal>
bool lists_equal(const std::vector<T>& a, const std::vector<T>& b, Equal equal) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!equal(a[i], b[i])) return false;
    return true;
}

// --- order and equality of shared descriptors -----------------------------------
// Optional shared descriptors: absent first, then by the descriptor order.
std::strong_ordering cmp_optional_descr(const SharedDescr& a, const SharedDescr& b);
// Both absent, the same object, or equal descriptors.
bool optional_descr_equal(const SharedDescr& a, const SharedDescr& b);

// --- meets and joins ----------------------------------------------------------------
// The meet or join of one object with itself is a new reference to it,
// without work.  None on failure.
std::optional<SharedDescr> meet_shared_descrs(const SharedDescr& first, const SharedDescr& second);
std::optional<SharedDescr> join_shared_descrs(const SharedDescr& first, const SharedDescr& second);

// Optional shared descriptors (`every_value()` when absent): both present
// are met; one present is the result; both absent give an absent result;
// the shared empty descriptor on either side is the result without work.
// None when the meet fails.
std::optional<SharedDescr> meet_optional_shared(const SharedDescr& a, const SharedDescr& b);

// --- complements -------------------------------------------------------------------
// Never fails; takes units only to multiply out one-line slots.
Descr descr_complement(const Descr& d);

// A new shared descriptor holding the complement; one saturating unit.
SharedDescr complement_shared_descr(const SharedDescr& s);

// The complement of the union of the present labels of one state's
// transitions (what its absent label stands for), as a new shared
// descriptor; none when a union fails.
std::optional<SharedDescr> complement_of_union(const std::vector<Transition>& transitions);

// --- verdicts ----------------------------------------------------------------------
// Three-valued (ir::Emptiness): empty only on a proof, inhabited only when
// a value is shown to exist, undecided otherwise (and when the budget runs
// out).
ir::Emptiness slot_verdict(const KindSlot& slot, Kind kind);
ir::Emptiness descr_verdict(const Descr& d);
// The verdict of a present shared descriptor; inside a decision's memo
// (decision_memo.h) an answer other than undecided is computed once per
// object, as it holds whatever the budget left later.
ir::Emptiness shared_descr_verdict(const SharedDescr& d);

// Whether `inner` lies within `outer` (absent handles: `every_value()`): the
// emptiness of `inner` met with the complement of `outer`.  The arguments
// are in the order of the question, as for `decide_subset`.
ir::Decision shared_descr_subset(const SharedDescr& inner, const SharedDescr& outer);

// --- building ----------------------------------------------------------------------
// The slot of `kind` replaced by one line of the atom and `conditions`
// (one empty condition by default), kept unless proved empty.
void descr_of_atom(Descr& d, Kind kind, Atom atom, ConditionList conditions = unrestricted());

}  // namespace tessaron::descr
