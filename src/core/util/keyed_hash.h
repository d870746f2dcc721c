// A keyed hash for tables whose keys come from the input.
//
// `FxHash` is cheap and good enough for keys our own code makes (nodes,
// pointers, a schema's names), but anyone can write byte strings that it
// maps to one value, and a table of such strings answers each lookup by a
// scan: a document whose object holds n crafted keys would cost n^2 to
// check.  The tables filled with a document's own texts (an object's keys)
// hash them with SipHash-1-3 under a key drawn once per process from the
// system's random source, so that no document written in advance collides
// more than chance allows and their work stays linear in the keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string_view>

#include "core/util/siphash.h"

namespace tessaron::util {

// The process's two key words, drawn on first use (a thread-safe static).
struct HashKey {
    std::uint64_t k0;
    std::uint64_t k1;
};

inline const HashKey& process_hash_key() {
    static const HashKey key = []() noexcept {
        // Without a random source (never on Linux), the addresses of this
        // function and of a stack slot, which vary between processes where
        // the system randomises addresses.
        int slot = 0;
        HashKey k{reinterpret_cast<std::uintptr_t>(&slot), reinterpret_cast<std::uintptr_t>(&process_hash_key)};
        try {
            std::random_device source;
            auto word = [&source] {
                return (static_cast<std::uint64_t>(source()) << 32) ^ static_cast<std::uint64_t>(source());
            };
            k.k0 ^= word();
            k.k1 ^= word();
        } catch (...) {
        }
        return k;
    }();
    return key;
}

// Hash functor for boost::unordered_flat_map / unordered_flat_set keyed by
// strings from the input; transparent, so a std::string table is probed
// with a std::string_view.
struct KeyedTextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept {
        const HashKey& key = process_hash_key();
        SipHasher13 h(key.k0, key.k1);
        h.write_bytes(s);
        return static_cast<std::size_t>(h.finish());
    }
};

}  // namespace tessaron::util
