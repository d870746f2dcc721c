// The pool facts core code asks for (hashes and value equality of pooled
// objects), answered by Python.  Exceptions are cleared: a hash that raised
// is absent, a comparison that raised is "unequal".
#pragma once

#include <span>

#include "core/ir/pool_access.h"
#include "python/pool.h"

namespace tessaron::python {

class PythonPoolAccess final : public ir::PoolAccess {
public:
    explicit PythonPoolAccess(std::span<const py::Ref> objects) : objects_(objects) {}

    std::uint64_t size() const override { return objects_.size(); }
    std::optional<std::uint64_t> object_hash(std::uint64_t index) const override;
    std::optional<std::uint64_t> type_hash(std::uint64_t index) const override;
    bool objects_equal(std::uint64_t index, const ir::PoolAccess& other, std::uint64_t other_index) const override;

    PyObject* object(std::uint64_t index) const { return index < objects_.size() ? objects_[index].get() : nullptr; }

private:
    std::span<const py::Ref> objects_;
};

// Value equality of two pooled objects: same object; else same exact type
// and `x == y` true; any exception clears to unequal.
bool pool_objects_equal(PyObject* x, PyObject* y);

}  // namespace tessaron::python
