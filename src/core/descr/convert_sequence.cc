// Conversion of sequence and set nodes: not represented yet (no
// descriptor), so decisions about them stay with the structural route.
#include "core/descr/convert.h"

namespace tessaron::descr {

OptDescr descr_of_sequence(const ir::Node&, ConvertContext&, std::uint32_t) { return std::nullopt; }

OptDescr descr_of_set(const ir::Node&, ConvertContext&, std::uint32_t) { return std::nullopt; }

}  // namespace tessaron::descr
