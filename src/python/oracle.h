// The Python-backed answers to the leaf questions core code asks about
// pooled objects.
//
// `PoolOracle` implements the Oracle interface over a validator's pool: it
// asks Python and declines whenever Python raises (the exception is cleared).
// Questions whose answers the decision procedures need are filled in as those
// procedures arrive; until then they decline, which is always sound.
#pragma once

#include <Python.h>

#include <cstdint>
#include <span>

#include "core/decide/oracle.h"
#include "python/pool.h"

namespace tessaron::python {

// 1 bool, 2 int, 3 float, 4 str, 5 bytes by exact type, 0 for None, 255 for
// any other object (subclasses included).  Never raises.
std::uint8_t literal_kind(PyObject* obj);

class PoolOracle final : public decide::Oracle {
public:
    explicit PoolOracle(std::span<const py::Ref> pool) : pool_(pool) {}

    decide::LeafInfo bound_info(std::uint64_t) override;
    decide::LeafInfo literal_info(std::uint64_t) override;
    decide::LeafInfo class_info(std::uint64_t) override;
    std::uint8_t leaf_relation(const ir::Node&, const ir::Node&) override;
    std::int8_t compare(std::uint64_t, std::uint64_t) override;
    std::uint8_t literal_sets_disjoint(std::span<const std::uint64_t>, std::span<const std::uint64_t>) override;
    std::uint8_t integer_interval_empty(std::uint64_t, bool, std::uint64_t, bool) override;
    std::uint8_t divides(std::uint64_t, std::uint64_t) override;
    std::uint8_t class_atom_is_plain(const ir::Node& instance) override;
    std::uint8_t constant_kind(std::uint64_t) override;
    std::uint8_t class_overlaps_kind(std::uint64_t, std::uint8_t) override;
    std::uint8_t class_produces_kind(std::uint64_t, std::uint8_t) override;
    std::uint8_t kind_within_class(std::uint8_t, std::uint64_t) override;
    std::uint8_t literals_distinct(std::uint64_t, std::uint64_t) override;

private:
    PyObject* object(std::uint64_t index) const {
        return index < pool_.size() ? pool_[index].get() : nullptr;
    }

    std::span<const py::Ref> pool_;
};

}  // namespace tessaron::python
