// The algebra of mapping shapes: complement, meet, normal form, and the
// two atom operations built on them.
//
// `shape_complement` writes the dicts outside one shape as a union of
// shapes, one per requirement the shape makes: a declared key missing or
// holding another value, an undeclared key of some class holding a value
// its class refuses, an existential entry that no key satisfies.
// `meet_shape_lists` meets every shape of one list with every shape of the
// other, key by key (a key declared by one side meets the other side's
// class requirement), class by class, and with both sides' existential
// entries.  `normalize_shapes` drops default keys and the shapes proved
// empty, sorts by `cmp_shape` and removes duplicates.
//
// The atom operations: `meet_shape_slots` meets two atoms of either
// polarity (a negated one through the complement of each of its shapes),
// `join_shape_slots` unites them (two positive lists by normalising their
// concatenation, otherwise as the complement of the meet of the
// complements), `positive_shapes` makes an atom explicit, and
// `shape_list_complement` flips an atom, explicit when it holds at most one
// shape and that can be built.
//
// Budget and caps: one failing unit per pair of a meet, and the units of
// the value meets; a list gathering more than `kCompactAbove` shapes is
// normalised before the next pair, and more than `kMaxTerms` shapes left
// fail.  Complements
// take saturating units only and never fail.  Every failure discards the
// whole result.
#pragma once

#include <optional>
#include <vector>

#include "core/descr/descr.h"
#include "core/ir/answers.h"

namespace tessaron::descr {

// The shapes whose union is every dict outside `s` (not normalised).
std::vector<Shape> shape_complement(const Shape& s);

// The normalised meet of two unions of shapes; none on failure.
std::optional<std::vector<Shape>> meet_shape_lists(const std::vector<Shape>& a, const std::vector<Shape>& b);

// Default keys dropped, shapes proved empty dropped, sorted, deduplicated;
// none when more than `kMaxTerms` shapes remain.
std::optional<std::vector<Shape>> normalize_shapes(std::vector<Shape> shapes);

// The dicts in both atoms / in either atom; none on failure.
std::optional<Shapes> meet_shape_slots(const Shapes& a, const Shapes& b);
std::optional<Shapes> join_shape_slots(const Shapes& a, const Shapes& b);

// The shapes whose union is the atom; none on failure.  A positive atom
// is copied, a negated one is the universe shape met with the complement of
// each of its shapes.
std::optional<std::vector<Shape>> positive_shapes(const Shapes& atom);

// Every dict outside the atom; never fails.
Shapes shape_list_complement(const Shapes& atom);

// Whether the atom admits a dict: empty when its explicit form has no
// shape or every shape is proved empty, inhabited when one is proved
// inhabited, undecided otherwise (and when the explicit form fails).
ir::Emptiness shapes_verdict(const Shapes& atom);

}  // namespace tessaron::descr
