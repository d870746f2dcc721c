// Conversion of schema trees into descriptors.
//
// `descr_of_node` is the entry of the decisions: it unfolds recursion once
// (fuel 1; what is still recursive below is cut to `anything` under
// Polarity::Above and to `nothing` under Polarity::Below, flipping below
// each complement), then converts under a work window of `kWindowUnits`,
// restoring the thread's budget however the conversion ends.
// `to_normal_form` converts one node, one case per node kind.
//
// Conversion is shallow and small: one counter shared by the whole
// conversion allows `kConversionNodes` nodes (a tree that needs more is
// refused before any of it is converted), and the depth
// (`kConversionDepth`) allows the root and four levels below it.
// Complements take no level and a run of them is one sign (`~~x` is as
// deep as `x`); a member of a union or intersection that
// is, below an even run of complements, of its parent's operation is
// folded into the parent.  Whatever cannot be represented (a back edge or
// placeholder left, a declined oracle answer, a predicate, a crossed cap,
// an exhausted budget) makes the whole result no descriptor, which the
// decisions read as undecided.  The oracle is asked about literals, classes
// and refinement bounds; nothing else reaches Python.
#pragma once

#include <cstdint>
#include <span>

#include "core/descr/descr.h"
#include "core/descr/nested.h"
#include "core/ir/node.h"
#include "core/ir/oracle.h"
#include "core/ir/unfold.h"

namespace tessaron::descr {

inline constexpr std::int32_t kConversionNodes = 64;
inline constexpr std::uint32_t kConversionDepth = 5;

// What one conversion carries: the oracle and the node counter shared by
// every nested call; the direction in which the node at hand may be
// approximated (Above: its descriptor may hold more values than the node
// admits, Below: fewer), which flips below every complement; and whether
// some part was only bounded.
struct ConvertContext {
    ir::Oracle& oracle;
    std::int32_t counter = kConversionNodes;
    ir::Polarity direction = ir::Polarity::Above;
    bool bounded = false;
};

// Polarity::Above: a descriptor containing the schema's values (the side
// that is met), Below: one contained in them (the side that is
// complemented).  A part the algebra can only bound in the polarity's
// direction (a literal dict key, which the walk takes only of its exact
// type: see convert_mapping.cc) makes the result a bound: `descr_of_node`
// then gives no descriptor, `descr_bound_of_node` gives the bound and sets
// `bounded` (it never clears it, so one flag can gather several
// conversions).  A bound proves emptiness as an exact descriptor does, but
// an inhabited one proves nothing.
OptDescr descr_of_node(const ir::Node& node, std::span<const ir::Node> definitions, ir::Polarity polarity,
                       ir::Oracle& oracle);
OptDescr descr_bound_of_node(const ir::Node& node, std::span<const ir::Node> definitions, ir::Polarity polarity,
                             ir::Oracle& oracle, bool& bounded);

OptDescr to_normal_form(const ir::Node& node, ConvertContext& ctx, std::uint32_t depth);

// The containers' conversions (their children at `depth`, already lowered).
OptDescr descr_of_sequence(const ir::Node& node, ConvertContext& ctx, std::uint32_t depth);
OptDescr descr_of_set(const ir::Node& node, ConvertContext& ctx, std::uint32_t depth);
OptDescr descr_of_mapping(const ir::Node& node, ConvertContext& ctx, std::uint32_t depth);

// The descriptor of the first node of `rest`, which then drops it; none at
// the end, or when the node cannot be converted, which sets `failed` (and
// every later call answers none).
OptDescr next_converted_node(std::span<const ir::Node>& rest, ConvertContext& ctx, std::uint32_t depth,
                             bool& failed);

// --- small builders ----------------------------------------------------------------
// `descr_of_atom` is declared in core/descr/nested.h.
// A slot of one line (none when the line is proved empty).
KindSlot make_line(Atom atom, ConditionList conditions);
// One condition requiring the class.
ConditionList class_condition(ClassRecord record);
// The values of every kind satisfying the list: in each slot the kind's
// universe line restricted by a copy of it (lines proved empty left out).
Descr descr_of_conditions(const ConditionList& list);
// The class record of an oracle's class answer.
ClassRecord class_record(const ir::LeafInfo& info);

}  // namespace tessaron::descr
