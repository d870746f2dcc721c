// What core code may ask about the objects of a schema's constant pool.
//
// Nodes hold pool indices, never objects; the pool itself (strong references
// to Python objects) belongs to the Python layer.  The structural hash and
// the cross-pool equality of validators need three facts about pooled
// objects, and ask for them through this interface.  Every answer is total:
// a failure on the Python side (an exception, which the implementation
// clears before returning) is an empty optional or "unequal", never an
// exception crossing into core code.
#pragma once

#include <cstdint>
#include <optional>

namespace tessaron::ir {

class PoolAccess {
public:
    virtual ~PoolAccess() = default;

    // Number of pooled objects; indices at or past it name nothing.
    virtual std::uint64_t size() const = 0;

    // The object's hash (Python's hash, reinterpreted as an unsigned 64-bit
    // word), or nothing when hashing raised.  Only asked for indices below
    // size().
    virtual std::optional<std::uint64_t> object_hash(std::uint64_t index) const = 0;

    // The hash of the object's type, or nothing when that raised.  Only
    // asked for indices below size(), after object_hash succeeded.
    virtual std::optional<std::uint64_t> type_hash(std::uint64_t index) const = 0;

    // Value equality of object `index` of this pool and object
    // `other_index` of `other`: unequal when either index is outside its
    // pool; equal when they are the same object; unequal when their exact
    // types differ; otherwise the truth of `x == y`, unequal when the
    // comparison or its truth test raises.
    virtual bool objects_equal(std::uint64_t index, const PoolAccess& other, std::uint64_t other_index) const = 0;
};

}  // namespace tessaron::ir
