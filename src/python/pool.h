// The constant pool: the Python objects a schema names, referred to by index.
//
// While a schema is built the pool also keeps an index from a `PoolKey` to
// the first position of each key, so equal literals share one index: exact
// None/bool/int (64-bit)/float (not NaN, -0.0 folded into 0.0)/str (valid
// UTF-8)/bytes are keyed by value, everything else -- subclass instances,
// big ints, NaN, strings with lone surrogates -- by identity.  A finished
// validator keeps only the objects; `rebuild_pool_index` restores the index
// when more has to be compiled into a copy of them.
#pragma once

#include "python/binding/capi.h"

#include <boost/unordered/unordered_flat_map.hpp>
#include <cstdint>
#include <string>
#include <vector>

#include "python/binding/ref.h"

namespace tessaron::python {

using PoolObjects = std::vector<py::Ref>;

enum class PoolKeyTag : std::uint8_t { Object = 0, None = 1, Bool = 2, Int = 3, Float = 4, Str = 5, Bytes = 6 };

struct PoolKey {
    PoolKeyTag tag = PoolKeyTag::Object;
    std::uint64_t word = 0;  // address, truth byte, int value or float bits
    std::string bytes;       // Str and Bytes

    // Classifies an object; never fails (Python errors are cleared and the
    // object falls back to identity).
    static PoolKey of(PyObject* obj);
};

bool pool_key_eq(const PoolKey& a, const PoolKey& b);
std::uint64_t hash_pool_key(const PoolKey& key);

struct PoolKeyHash {
    std::size_t operator()(const PoolKey& k) const noexcept { return hash_pool_key(k); }
};
struct PoolKeyEq {
    bool operator()(const PoolKey& a, const PoolKey& b) const noexcept { return pool_key_eq(a, b); }
};

struct Pool {
    PoolObjects objects;
    boost::unordered_flat_map<PoolKey, std::uint64_t, PoolKeyHash, PoolKeyEq> index;
};

// The pool index of an object equal to `obj` by key, or of `obj` newly
// appended (taking a new reference).
std::uint64_t intern_pool_value(Pool& pool, PyObject* obj);

// A pool that takes over `objects` and indexes them; where two objects share
// a key the later position wins.
Pool rebuild_pool_index(PoolObjects objects);

}  // namespace tessaron::python
