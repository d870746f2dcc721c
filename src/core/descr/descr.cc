// The descriptor types' small helpers and the shared empty descriptor.
#include "core/descr/descr.h"

#include <algorithm>
#include <cassert>

namespace tessaron::descr {

namespace {
// The exact-type records' ids: above every id an oracle hands out in
// practice (ids are dense from 0, one per class met in one decision).
constexpr std::uint32_t kExactTypeIdBase = 0xFFFFFF00u;
}  // namespace

bool ClassRecord::has_ancestor(std::uint32_t id) const {
    return std::binary_search(ancestor_ids.begin(), ancestor_ids.end(), id);
}

ConditionList unrestricted() {
    ConditionList list;
    list.conditions.emplace_back();
    return list;
}

ClassRecord exact_type_record(Kind kind) {
    assert(kind == Kind::Int || kind == Kind::Float || kind == Kind::Str || kind == Kind::Bytes);
    ClassRecord c;
    c.class_id = kExactTypeIdBase + static_cast<std::uint32_t>(ir::kind_slot(kind));
    c.ancestor_ids = {c.class_id};
    c.builtin_kind = kind;
    return c;
}

bool is_exact_type_record(const ClassRecord& c) {
    return c.class_id >= kExactTypeIdBase + ir::kind_slot(Kind::Int) &&
           c.class_id <= kExactTypeIdBase + ir::kind_slot(Kind::Bytes);
}

namespace {

bool class_set_is_normal(const std::vector<ClassRecord>& set) {
    for (std::size_t i = 0; i < set.size(); ++i) {
        const ClassRecord& c = set[i];
        if (i > 0 && set[i - 1].class_id >= c.class_id) return false;
        if (!std::is_sorted(c.ancestor_ids.begin(), c.ancestor_ids.end()) ||
            std::adjacent_find(c.ancestor_ids.begin(), c.ancestor_ids.end()) != c.ancestor_ids.end() ||
            !c.has_ancestor(c.class_id))
            return false;
    }
    return true;
}

}  // namespace

bool condition_is_normal(const Condition& c) {
    for (std::size_t i = 0; i < c.attributes.size(); ++i) {
        if (i > 0 && c.attributes[i - 1].name >= c.attributes[i].name) return false;
    }
    return class_set_is_normal(c.classes) && class_set_is_normal(c.excluded_classes);
}

void insert_class(std::vector<ClassRecord>& set, const ClassRecord& c) {
    auto it = std::lower_bound(set.begin(), set.end(), c.class_id,
                               [](const ClassRecord& r, std::uint32_t id) { return r.class_id < id; });
    if (it != set.end() && it->class_id == c.class_id) return;
    set.insert(it, c);
}

SharedDescr empty_descr() {
    // Built once per process (a thread-safe static) and never freed.
    static const SharedDescr* const cell = new SharedDescr(SharedDescr::make());
    return *cell;
}

}  // namespace tessaron::descr
