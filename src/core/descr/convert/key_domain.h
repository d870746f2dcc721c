// The keys a clause's key schema admits, as the shape of a mapping reads
// them: literal keys and whole kinds.
//
// `anything` admits keys of every hashable kind, `int` int and bool keys,
// the other scalar kinds their own kind, a literal its one key (None, a
// bool, an int within 64 bits, a str or bytes constant), a union what its
// members admit.  Every other key schema -- a float literal, a literal the
// oracle declines, a refinement, a container, an instance, a complement --
// cannot be represented: it is bounded in the conversion's direction (from
// above the keys of the builtin kind an instance's class derives from, or
// every key of the kinds `anything` admits; from below no key) and the
// conversion marked bounded.  A back edge or placeholder gives
// none.
#pragma once

#include <optional>
#include <vector>

#include "core/descr/convert/convert.h"

namespace tessaron::descr {

struct KeyDomain {
    std::vector<LiteralKey> keys;  // in the order found, repeats kept
    std::vector<Kind> kinds;   // in the order found, repeats kept
};

// Each node read takes one unit of the conversion's node counter, so a key
// schema counts towards the `kConversionNodes` of a conversion.
std::optional<KeyDomain> key_domain(const ir::Node& key, ConvertContext& ctx);

}  // namespace tessaron::descr
