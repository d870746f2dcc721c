// Conversion of sequence nodes (lists, tuples) into sequence automata and
// of set nodes (sets, frozen sets) into set items.
//
// What it computes: the values the walk admits, exactly.  The walk takes
// a list node for any list, subclass instances included (`PyList_Check`),
// and a tuple node likewise for tuples; it reads the items from the
// container's storage, so the length it sees is the storage's and an
// override of `__len__` or `__getitem__` changes nothing.  A list or tuple
// matches when its length fits the prefix (exactly, or at least with a
// tail) and each item matches its prefix node or the tail.  That is the
// language of `build_sequence_automaton` over the items' descriptors, in
// the slot of the flavour; and subclass instances are values of their
// builtin's slot.  A set node takes any set (a frozenset node any frozen
// set), subclass instances included, whose elements, read through the
// builtin iterator, all match the element node: the one set item of
// `set_descr` over the element's descriptor.  Nothing here is bounded in
// either direction, so nothing is marked bounded; the items carry their
// own bounds through the context.
//
// Invariants: every item takes its unit of the conversion counter, in the
// order prefix, then tail; the first item that cannot be converted ends
// the conversion with no descriptor.
//
// Budget: the items' conversions, plus what building and normalising the
// automaton takes (sequence_build.h).
#include <vector>

#include "core/descr/convert/convert.h"
#include "core/descr/convert/builders.h"
#include "core/descr/sequences/sequence_build.h"

namespace tessaron::descr {

OptDescr descr_of_sequence(const ir::Node& node, ConvertContext& ctx, std::uint32_t depth) {
    std::vector<SharedDescr> items;
    std::span<const ir::Node> rest = ir::as_span(node.prefix());
    items.reserve(rest.size());
    bool failed = false;
    while (OptDescr d = next_converted_node(rest, ctx, depth, failed)) items.push_back(SharedDescr::make(std::move(*d)));
    if (failed) return std::nullopt;
    SharedDescr tail;
    if (const ir::Node* t = node.tail().get()) {
        OptDescr d = to_normal_form(*t, ctx, depth);
        if (!d) return std::nullopt;
        tail = SharedDescr::make(std::move(*d));
    }
    const Kind kind = node.flavour() == ir::kFlavourTuple ? Kind::Tuple : Kind::List;
    return build_sequence_automaton(items, tail ? &tail : nullptr, kind);
}

OptDescr descr_of_set(const ir::Node& node, ConvertContext& ctx, std::uint32_t depth) {
    const ir::Node* element = node.element().get();
    if (!element) return std::nullopt;
    OptDescr d = to_normal_form(*element, ctx, depth);
    if (!d) return std::nullopt;
    return set_descr(*d, node.flavour() == ir::kFlavourFrozenset ? Kind::Frozenset : Kind::Set);
}

}  // namespace tessaron::descr
