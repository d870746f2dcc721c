// Inhabitation of set items (see set_item_verdict.h).
//
// What it computes: inhabited when some item is shown to hold a set whose
// elements, picked one per `not_within` entry, cannot collapse into fewer
// set elements; empty when every item is proved empty; undecided
// otherwise.
//
// Invariants: the atom is only read.  A witness element for an entry is
// taken from the element descriptor met with the entry's complement, in a
// slot proved inhabited; two elements of different kind groups never
// compare equal under the builtin kinds' own equality, and two bools
// outside different entries can always be chosen distinct, so such a set
// has one element per entry.  Values whose class overrides equality are
// outside what the decisions promise.
//
// Budget: the explicit form, the containment tests and the witness tests
// take their units; an exhausted budget gives undecided, never empty.
#include "core/descr/sets/set_item_verdict.h"

#include <algorithm>
#include <array>
#include <utility>

#include "core/descr/nested.h"
#include "core/descr/descr.h"
#include "core/descr/sets/set_item_algebra.h"

namespace tessaron::descr {

namespace {

using ir::Emptiness;

// Kind groups whose elements never equal one of another group: bool, int
// and float values compare equal across their kinds (True == 1 == 1.0).
enum class KindGroup : std::uint8_t { None, Str, Bytes, Numbers };
constexpr std::size_t kGroups = 4;
// The scalar kinds, each with its group, in slot order.
constexpr std::array<std::pair<Kind, KindGroup>, 6> kScalarGroups{{
    {Kind::None, KindGroup::None},
    {Kind::Bool, KindGroup::Numbers},
    {Kind::Int, KindGroup::Numbers},
    {Kind::Float, KindGroup::Numbers},
    {Kind::Str, KindGroup::Str},
    {Kind::Bytes, KindGroup::Bytes},
}};

struct Witnesses {
    std::array<bool, kGroups> group{};  // indexed by KindGroup
    bool in_bool = false;
};

// Where the element descriptor holds a value outside `entry`.
std::optional<Witnesses> witnesses_outside(const SharedDescr& element, const SharedDescr& entry) {
    const SharedDescr outside = complement_shared_descr(entry);
    const auto met = meet_optional_shared(element, outside);
    if (!met) return std::nullopt;
    const Descr& d = **met;
    Witnesses w;
    for (const auto& [kind, group] : kScalarGroups)
        if (slot_verdict(d.slot(kind), kind) == Emptiness::Inhabited) {
            w.group[static_cast<std::size_t>(group)] = true;
            if (kind == Kind::Bool) w.in_bool = true;
        }
    return w;
}

// An assignment of pairwise distinct groups to the entries.
bool distinct_groups(const std::vector<Witnesses>& ws, std::size_t i, std::array<bool, kGroups>& used) {
    if (i == ws.size()) return true;
    for (std::size_t g = 0; g < kGroups; ++g) {
        if (used[g] || !ws[i].group[g]) continue;
        used[g] = true;
        if (distinct_groups(ws, i + 1, used)) return true;
        used[g] = false;
    }
    return false;
}

// One element outside every entry: a set of that one element.
bool one_element_outside_all(const SetItem& item) {
    SharedDescr all = item.not_within.front();
    for (std::size_t i = 1; i < item.not_within.size(); ++i) {
        auto joined = join_shared_descrs(all, item.not_within[i]);
        if (!joined) return false;
        all = std::move(*joined);
    }
    return shared_descr_subset(item.element, all) == ir::Decision::NotSubset;
}

// Several entries, each with an element of the item outside it: whether
// elements can be picked that stay distinct in a set.
bool distinct_elements_exist(const SetItem& item) {
    if (one_element_outside_all(item)) return true;
    std::vector<Witnesses> ws;
    for (const SharedDescr& entry : item.not_within) {
        auto w = witnesses_outside(item.element, entry);
        if (!w) return false;
        ws.push_back(*w);
    }
    if (std::all_of(ws.begin(), ws.end(), [](const Witnesses& w) { return w.in_bool; })) return true;
    if (ws.size() > kGroups) return false;
    std::array<bool, kGroups> used{};
    return distinct_groups(ws, 0, used);
}

Emptiness item_verdict(const SetItem& item) {
    if (item.not_within.empty()) return Emptiness::Inhabited;
    bool undecided = false;
    for (const SharedDescr& entry : item.not_within) {
        switch (shared_descr_subset(item.element, entry)) {
            case ir::Decision::Subset: return Emptiness::Empty;
            case ir::Decision::Undecided: undecided = true; break;
            case ir::Decision::NotSubset: break;
        }
    }
    if (undecided) return Emptiness::Undecided;
    if (item.not_within.size() == 1 || distinct_elements_exist(item)) return Emptiness::Inhabited;
    return Emptiness::Undecided;
}

}  // namespace

ir::Emptiness set_items_verdict(const SetItems& atom) {
    const auto items = positive_set_items(atom);
    if (!items) return Emptiness::Undecided;
    Emptiness verdict = Emptiness::Empty;
    for (const SetItem& item : *items) {
        switch (item_verdict(item)) {
            case Emptiness::Inhabited: return Emptiness::Inhabited;
            case Emptiness::Undecided: verdict = Emptiness::Undecided; break;
            case Emptiness::Empty: break;
        }
    }
    return verdict;
}

}  // namespace tessaron::descr
