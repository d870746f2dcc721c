// NullOracle: the oracle that declines every question.  Callers that have
// no pool at hand (the folds of the schema rewrites, the constructors'
// complementary-pair rule) pass it, so their answers rest on the structure
// of the nodes alone.
#include "core/decide/oracle.h"

namespace tessaron::decide {

LeafInfo NullOracle::bound_info(std::uint64_t) { return LeafInfo::declined(); }
LeafInfo NullOracle::literal_info(std::uint64_t) { return LeafInfo::declined(); }
LeafInfo NullOracle::class_info(std::uint64_t) { return LeafInfo::declined(); }
std::uint8_t NullOracle::leaf_relation(const ir::Node&, const ir::Node&) { return kDeclined; }
std::int8_t NullOracle::compare(std::uint64_t, std::uint64_t) { return kCompareDeclined; }
std::uint8_t NullOracle::literal_sets_disjoint(std::span<const std::uint64_t>, std::span<const std::uint64_t>) {
    return kDeclined;
}
std::uint8_t NullOracle::integer_interval_empty(std::uint64_t, bool, std::uint64_t, bool) { return kDeclined; }
std::uint8_t NullOracle::divides(std::uint64_t, std::uint64_t) { return kDeclined; }
std::uint8_t NullOracle::class_atom_is_plain(const ir::Node&) { return kDeclined; }
std::uint8_t NullOracle::constant_kind(std::uint64_t) { return kNoKind; }
std::uint8_t NullOracle::class_overlaps_kind(std::uint64_t, std::uint8_t) { return kDeclined; }
std::uint8_t NullOracle::class_produces_kind(std::uint64_t, std::uint8_t) { return kDeclined; }
std::uint8_t NullOracle::kind_within_class(std::uint8_t, std::uint64_t) { return kDeclined; }
std::uint8_t NullOracle::literals_distinct(std::uint64_t, std::uint64_t) { return kDeclined; }

}  // namespace tessaron::decide
