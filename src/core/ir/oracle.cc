// NullOracle: the oracle that declines every question.  Callers that have
// no pool at hand (the folds of the schema rewrites, the constructors'
// complementary-pair rule) pass it, so their answers rest on the structure
// of the nodes alone.
#include "core/ir/oracle.h"

namespace tessaron::ir {

LeafInfo NullOracle::bound_info(std::uint64_t) { return LeafInfo::declined(); }
LeafInfo NullOracle::literal_info(std::uint64_t) { return LeafInfo::declined(); }
LeafInfo NullOracle::class_info(std::uint64_t) { return LeafInfo::declined(); }
Answer NullOracle::leaf_relation(const Node&, const Node&) { return Answer::Declined; }
Order NullOracle::compare(std::uint64_t, std::uint64_t) { return Order::Declined; }
Answer NullOracle::literal_sets_disjoint(std::span<const std::uint64_t>, std::span<const std::uint64_t>) {
    return Answer::Declined;
}
Answer NullOracle::integer_interval_empty(std::uint64_t, bool, std::uint64_t, bool) { return Answer::Declined; }
Answer NullOracle::divides(std::uint64_t, std::uint64_t) { return Answer::Declined; }
Answer NullOracle::class_atom_is_plain(const Node&) { return Answer::Declined; }
std::optional<Kind> NullOracle::constant_kind(std::uint64_t) { return std::nullopt; }
Answer NullOracle::class_overlaps_kind(std::uint64_t, Kind) { return Answer::Declined; }
Answer NullOracle::class_produces_kind(std::uint64_t, Kind) { return Answer::Declined; }
Answer NullOracle::kind_within_class(Kind, std::uint64_t) { return Answer::Declined; }
Answer NullOracle::literals_distinct(std::uint64_t, std::uint64_t) { return Answer::Declined; }

}  // namespace tessaron::ir
