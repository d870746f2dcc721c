// The descriptors of literals, of union and intersection members and of
// object attributes.
//
// A literal of int, float, str or bytes admits only its exact type: its
// line carries the exact-type record of its slot (descr.h).  bool and None
// have no subclasses and need none.  A NaN float literal admits nothing
// (NaN equals nothing, itself included).
//
// An object node's attributes become one condition per attribute, spread
// over every kind, met into the running descriptor.
#pragma once

#include <span>

#include "core/descr/convert/convert.h"

namespace tessaron::descr {

// No descriptor for a class or a declined answer.
OptDescr literal_descr(const ir::LeafInfo& info);

// Each member converted at `depth` and joined (met) into the running
// descriptor, starting from `start`.
OptDescr descr_union_fold(std::span<const ir::Node> members, Descr start, ConvertContext& ctx, std::uint32_t depth);
OptDescr descr_intersection_fold(std::span<const ir::Node> members, Descr start, ConvertContext& ctx,
                                 std::uint32_t depth);

// Sets (kind Set) or frozen sets (Frozenset) of elements in `element`.
Descr set_descr(const Descr& element, Kind kind);

// Every value whose attribute `name` lies in `value`, and has it unless
// `optional`.
Descr attribute_descr(const std::string& name, const Descr& value, bool optional);
OptDescr attribute_fields_descr(std::span<const ir::RecordEntry> entries, Descr start, ConvertContext& ctx,
                                std::uint32_t depth);

}  // namespace tessaron::descr
