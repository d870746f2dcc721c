// Products of text automata: intersection and union over joint byte
// classes, capped at `kMaxTextStates` product states, reporting their work.
#pragma once

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "core/descr/set_op.h"
#include "core/descr/values/text_automaton.h"

namespace tessaron::descr {

// The classes of two class maps met over the bytes: each distinct pair
// (class in the first, class in the second) gets the next number in order
// of first appearance, byte 0 upward.
struct JointClasses {
    std::array<std::uint16_t, 256> class_map{};
    std::uint32_t class_count = 0;
    std::vector<std::pair<std::uint16_t, std::uint16_t>> pairs;  // per joint class
};
JointClasses product_byte_classes(const std::array<std::uint16_t, 256>& first,
                                  const std::array<std::uint16_t, 256>& second);

// The result of a product: the shared automaton, or an empty handle when
// more than `kMaxTextStates` product states would be needed or the work
// would exceed `max_work`; and the work done, the product rows computed
// times the joint class count and the steps of its minimisation (also when
// it fails), for the caller to charge to its budget.
struct TextProduct {
    SharedTextAutomaton automaton;
    std::uint64_t work = 0;
};

// A product state accepts when both states accept (intersection) or either
// does (union).  Minimised and shared.  Inside a text memo's scope, at most
// what is left of the scope's product work.
TextProduct text_product(const SharedTextAutomaton& a, const SharedTextAutomaton& b, SetOp op,
                         std::uint64_t max_work = UINT64_MAX);
// The work of the products computed on the calling thread so far (table
// cells and minimisation steps).  A work counter for tests.
std::uint64_t text_product_work();

inline TextProduct combine_text_automata(const SharedTextAutomaton& a, const SharedTextAutomaton& b,
                                         std::uint64_t max_work = UINT64_MAX) {
    return text_product(a, b, SetOp::Intersection, max_work);
}
inline TextProduct text_automaton_union(const SharedTextAutomaton& a, const SharedTextAutomaton& b,
                                        std::uint64_t max_work = UINT64_MAX) {
    return text_product(a, b, SetOp::Union, max_work);
}

}  // namespace tessaron::descr
