// The validation walk: is a value a member of the set a node denotes?
//
// `walk` is one recursive function template over the value source (see
// source.h).  It dispatches on the node's kind; the scalar, literal,
// instance, back-edge and placeholder checks live with it (walk.cc), the
// others in their own files, each calling back into `walk` for children:
//   sequence.cc   lists, tuples, sets and frozensets
//   composite.cc  unions, intersections, complements
//   mapping.cc    records, dicts, object attributes
//   refined.cc    bounds, lengths, divisors, predicates, patterns
//
// `walk` never raises: Python exceptions follow the rule of context.h, and
// a crossed limit is a failure with code "recursion_limit".  In the
// recording modes it appends the failures it finds to the context.
#pragma once

#include "core/ir/node.h"
#include "python/check/context.h"
#include "python/check/source.h"

namespace tessaron::python::check {

template <class Source>
bool walk(const ir::Node& node, const Source& src, WalkContext& ctx);

// --- the per-kind checks (the node is of the kind named) ------------------

template <class Source>
bool check_union(const ir::Node& node, const Source& src, WalkContext& ctx);
template <class Source>
bool check_intersection(const ir::Node& node, const Source& src, WalkContext& ctx);
template <class Source>
bool check_complement(const ir::Node& node, const Source& src, WalkContext& ctx);
template <class Source>
bool check_set(const ir::Node& node, const Source& src, WalkContext& ctx);
template <class Source>
bool check_object_attributes(const ir::Node& node, const Source& src, WalkContext& ctx);
template <class Source>
bool check_refined(const ir::Node& node, const Source& src, WalkContext& ctx);

// Checks whose algorithm depends on the shape of the input: one overload
// per source type.
bool check_sequence(const ir::Node& node, const PySource& src, WalkContext& ctx);
bool check_mapping(const ir::Node& node, const PySource& src, WalkContext& ctx);

}  // namespace tessaron::python::check
