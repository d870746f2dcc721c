// The fixed size bounds of every finalised schema (exported to Python as
// MAX_SCHEMA_DEPTH, MAX_DEFINITIONS and MAX_SCHEMA_NODES).  Each is an
// inclusive maximum.
#pragma once

#include <cstdint>

namespace tessaron::ir {

inline constexpr std::uint64_t kMaxSchemaDepth = 128;
inline constexpr std::uint64_t kMaxDefinitions = 128;
inline constexpr std::uint64_t kMaxSchemaNodes = 100000;

}  // namespace tessaron::ir
