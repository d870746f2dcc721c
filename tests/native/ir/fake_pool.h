// A PoolAccess over plain test objects, standing in for a pool of Python
// objects.  An object has an identity (shared between pools to model "the
// same object"), an exact type, a value, and switches for the failures the
// Python side reports as "no answer": a hash that raises, a type hash that
// raises, an __eq__ that raises, and NaN-like values equal only to
// themselves.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "core/ir/pool_access.h"

namespace tessaron::ir::testing {

struct FakeObject {
    std::uint64_t identity = 0;
    int type = 0;
    std::int64_t value = 0;
    bool hash_raises = false;
    bool type_hash_raises = false;
    bool eq_raises = false;
    bool nan_like = false;  // unequal to everything but itself
};

inline FakeObject obj(std::uint64_t identity, int type, std::int64_t value) {
    return FakeObject{identity, type, value};
}

class FakePool : public PoolAccess {
public:
    FakePool() = default;
    explicit FakePool(std::vector<FakeObject> objects) : objects(std::move(objects)) {}

    std::vector<FakeObject> objects;
    // When set, replaces value equality (for relations that are not
    // equivalences).
    std::function<bool(const FakeObject&, const FakeObject&)> custom_eq;

    std::uint64_t size() const override { return objects.size(); }

    std::optional<std::uint64_t> object_hash(std::uint64_t i) const override {
        if (objects.at(i).hash_raises) return std::nullopt;
        return static_cast<std::uint64_t>(objects[i].value) * 0x9e3779b97f4a7c15ULL + 1;
    }

    std::optional<std::uint64_t> type_hash(std::uint64_t i) const override {
        if (objects.at(i).type_hash_raises) return std::nullopt;
        return 1000 + static_cast<std::uint64_t>(objects[i].type);
    }

    bool objects_equal(std::uint64_t i, const PoolAccess& other, std::uint64_t j) const override {
        const auto& o = static_cast<const FakePool&>(other);
        if (i >= objects.size() || j >= o.objects.size()) return false;
        const FakeObject& x = objects[i];
        const FakeObject& y = o.objects[j];
        if (x.identity == y.identity) return true;
        if (x.type != y.type) return false;
        if (x.eq_raises || y.eq_raises) return false;
        if (custom_eq) return custom_eq(x, y);
        if (x.nan_like || y.nan_like) return false;
        return x.value == y.value;
    }
};

}  // namespace tessaron::ir::testing
