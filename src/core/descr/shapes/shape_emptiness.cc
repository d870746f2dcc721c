// Emptiness of one mapping shape (see shape_emptiness.h).
//
// What it computes.  The keys the shape names (its declared keys) and the
// entries still to satisfy are kept in a work list; then, to a fixpoint:
//   1. a required key whose value is proved empty, or two required keys a
//      dict takes for one (a Bool and an Int of one value), prove the shape
//      empty;
//   2. the candidates of each entry (c, V, excluded X) are gathered: every
//      named key of class c outside X that may be present (it does not
//      collide with a required key), bounded by its requirement and V; the
//      None key, or the False and True keys, when the shape does not name
//      them, X does not hold them and they may be present, bounded by the
//      class and V; for the seven infinite classes, a fresh undeclared key
//      bounded by the class and V.  Candidates proved empty are dropped.
//      An entry without candidates proves the shape empty.  An entry whose
//      only candidate is a named, None, False or True key forces that key:
//      it becomes required with the met value, the entry is settled, and
//      the scan starts again.
// When nothing more is forced, the shape is inhabited if every required
// value is proved inhabited and every entry gets a witness proved
// inhabited: a fresh key (always available, one per entry), or a finite
// key assigned to that entry alone, no two assigned keys being one key to
// a dict (a bipartite matching of entries to keys, False and 0 counting as
// one key, True and 1 as one).  Otherwise it is undecided.
//
// Invariants: "empty" rests on proofs only (a value proved empty, two keys
// that cannot both be there, an entry whose every candidate is proved
// impossible); forcing is itself such a proof.  "Inhabited" rests on a
// dict whose every part is proved: a witness is counted only after a full
// scan of its entry's candidates, never after an early stop.  Keys serving
// several entries, and values that could only be shown inhabited jointly,
// leave the answer undecided.
//
// Budget: the value meets take their units (`meet_shared_descrs`); the
// emptiness tests of values take what their explicit forms take, and each
// value weighed (a candidate's, a required key's) takes a failing small
// step (budget.h) unless the decision has proved its verdict already
// (decision_memo.h: a verdict other than undecided is kept per object, so
// the values shared by the shapes of one list are weighed once).  A failed
// meet or a refused step leaves its candidate undecided and never forced.
// Each forcing settles one entry, so the fixpoint takes at most one scan
// per entry.
#include "core/descr/shapes/shape_emptiness.h"

#include <algorithm>

#include "core/descr/budget.h"
#include "core/descr/decision_memo.h"
#include "core/descr/nested.h"

namespace tessaron::descr {

namespace {

using ir::Emptiness;

thread_local std::uint64_t t_values_weighed = 0;

// The verdict of a value the search weighs: free when it is absent, the
// shared empty descriptor or already proved in this decision; otherwise a
// failing small step, undecided without it.
Emptiness value_verdict(const SharedDescr& v) {
    if (!v) return Emptiness::Inhabited;
    if (v.same(empty_descr())) return Emptiness::Empty;
    if (const auto known = remembered_verdict(v)) return *known;
    if (!take_small_step()) return Emptiness::Undecided;
    ++t_values_weighed;
    return shared_descr_verdict(v);
}

bool is_infinite_class(KeyClass key_class) { return key_class != KeyClass::None && key_class != KeyClass::Bool; }

LiteralKey bool_key(std::int64_t b) {
    LiteralKey k;
    k.tag = LiteralKey::Tag::Bool;
    k.number = b;
    return k;
}

LiteralKey none_key() { return LiteralKey{}; }

// A key of the dict being put together that the shape names: a declared
// key, or a None, False or True key forced in.
struct NamedKey {
    LiteralKey key;
    SharedDescr value;
    bool required = false;
    std::optional<Emptiness> verdict;  // of `value`, once asked
};

// One way of satisfying an entry.
struct Candidate {
    enum class Source : std::uint8_t { Named, Finite, Fresh } source = Source::Fresh;
    std::size_t named = 0;  // Named: its index
    LiteralKey key;         // Named and Finite
    std::optional<SharedDescr> value;  // the bounded value; none when the meet failed
    Emptiness verdict = Emptiness::Undecided;
};

class ShapeSearch {
public:
    explicit ShapeSearch(const Shape& s) : shape_(s) {
        for (const auto& [key, requirement] : s.declared_keys)
            named_.push_back(NamedKey{key, requirement.value, !requirement.optional, std::nullopt});
        for (const ExistentialEntry& e : s.existentials) pending_.push_back(&e);
    }

    Emptiness run() {
        std::vector<std::vector<Candidate>> lists;
        for (;;) {
            if (required_keys_conflict()) return Emptiness::Empty;
            lists.clear();
            bool forced = false;
            for (std::size_t i = 0; i < pending_.size(); ++i) {
                std::vector<Candidate> list = candidates(*pending_[i]);
                if (list.empty()) return Emptiness::Empty;
                if (list.size() == 1 && list[0].source != Candidate::Source::Fresh && list[0].value) {
                    force(list[0]);
                    pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(i));
                    forced = true;
                    break;
                }
                lists.push_back(std::move(list));
            }
            if (!forced) break;
        }
        for (NamedKey& k : named_)
            if (k.required && verdict_of(k) != Emptiness::Inhabited) return Emptiness::Undecided;
        return witnesses_assigned(lists) ? Emptiness::Inhabited : Emptiness::Undecided;
    }

private:
    Emptiness verdict_of(NamedKey& k) {
        if (!k.verdict) k.verdict = value_verdict(k.value);
        return *k.verdict;
    }

    // A required value proved empty, or two required keys that are one.
    bool required_keys_conflict() {
        for (NamedKey& k : named_)
            if (k.required && verdict_of(k) == Emptiness::Empty) return true;
        for (std::size_t i = 0; i < named_.size(); ++i)
            for (std::size_t j = i + 1; j < named_.size(); ++j)
                if (named_[i].required && named_[j].required && literal_keys_alias(named_[i].key, named_[j].key))
                    return true;
        return false;
    }

    const NamedKey* find_named(const LiteralKey& k) const {
        for (const NamedKey& n : named_)
            if (literal_key_equal(n.key, k)) return &n;
        return nullptr;
    }

    // False when a required key is the same dict key under another variant.
    bool may_be_present(const LiteralKey& k) const {
        return std::none_of(named_.begin(), named_.end(),
                            [&](const NamedKey& n) { return n.required && literal_keys_alias(n.key, k); });
    }

    std::vector<Candidate> candidates(const ExistentialEntry& e) {
        std::vector<Candidate> out;
        auto consider = [&](Candidate c, const SharedDescr& bound) {
            c.value = meet_optional_shared(bound, e.value);
            c.verdict = c.value ? value_verdict(*c.value) : Emptiness::Undecided;
            if (c.verdict != Emptiness::Empty) out.push_back(std::move(c));
        };
        for (std::size_t i = 0; i < named_.size(); ++i) {
            const LiteralKey& k = named_[i].key;
            if (literal_key_class(k) != e.key_class || key_set_holds(e.excluded_keys, k) || !may_be_present(k))
                continue;
            consider(Candidate{Candidate::Source::Named, i, k, std::nullopt, Emptiness::Undecided}, named_[i].value);
        }
        const SharedDescr& bound = shape_.class_requirement(e.key_class).value;
        if (is_infinite_class(e.key_class)) {
            consider(Candidate{}, bound);
            return out;
        }
        const std::vector<LiteralKey> finite =
            e.key_class == KeyClass::None ? std::vector<LiteralKey>{none_key()} : std::vector<LiteralKey>{bool_key(0), bool_key(1)};
        for (const LiteralKey& k : finite) {
            if (find_named(k) || key_set_holds(e.excluded_keys, k) || !may_be_present(k)) continue;
            consider(Candidate{Candidate::Source::Finite, 0, k, std::nullopt, Emptiness::Undecided}, bound);
        }
        return out;
    }

    // The entry's only candidate: its key is required, bounded by the
    // entry's value as well.
    void force(const Candidate& c) {
        if (c.source == Candidate::Source::Named) {
            NamedKey& k = named_[c.named];
            k.value = *c.value;
            k.required = true;
            k.verdict = c.verdict;
            return;
        }
        auto at = std::find_if(named_.begin(), named_.end(),
                               [&](const NamedKey& n) { return cmp_literal_key(c.key, n.key) < 0; });
        named_.insert(at, NamedKey{c.key, *c.value, true, c.verdict});
    }

    // One key per entry: an inhabited fresh key, or a finite key proved
    // inhabited that serves no other entry (False and 0 one key, True and
    // 1 one key).
    static bool witnesses_assigned(const std::vector<std::vector<Candidate>>& lists) {
        std::vector<LiteralKey> keys;  // the finite keys, one per dict key
        auto dict_key = [](LiteralKey k) {
            if (k.tag == LiteralKey::Tag::Bool) k.tag = LiteralKey::Tag::Int;
            return k;
        };
        auto index_of = [&](const LiteralKey& k) {
            const LiteralKey d = dict_key(k);
            for (std::size_t i = 0; i < keys.size(); ++i)
                if (literal_key_equal(keys[i], d)) return i;
            keys.push_back(d);
            return keys.size() - 1;
        };
        std::vector<std::vector<std::size_t>> edges;
        for (const std::vector<Candidate>& list : lists) {
            const bool fresh = std::any_of(list.begin(), list.end(), [](const Candidate& c) {
                return c.source == Candidate::Source::Fresh && c.verdict == Emptiness::Inhabited;
            });
            if (fresh) continue;
            std::vector<std::size_t> to;
            for (const Candidate& c : list)
                if (c.source != Candidate::Source::Fresh && c.verdict == Emptiness::Inhabited) to.push_back(index_of(c.key));
            if (to.empty()) return false;
            edges.push_back(std::move(to));
        }
        // Augmenting paths (Kuhn): each entry in turn, reassigning keys.
        std::vector<std::ptrdiff_t> owner(keys.size(), -1);
        for (std::size_t entry = 0; entry < edges.size(); ++entry) {
            std::vector<bool> seen(keys.size(), false);
            if (!augment(static_cast<std::ptrdiff_t>(entry), edges, owner, seen)) return false;
        }
        return true;
    }

    static bool augment(std::ptrdiff_t entry, const std::vector<std::vector<std::size_t>>& edges,
                        std::vector<std::ptrdiff_t>& owner, std::vector<bool>& seen) {
        for (std::size_t key : edges[static_cast<std::size_t>(entry)]) {
            if (seen[key]) continue;
            seen[key] = true;
            if (owner[key] < 0 || augment(owner[key], edges, owner, seen)) {
                owner[key] = entry;
                return true;
            }
        }
        return false;
    }

    const Shape& shape_;
    std::vector<NamedKey> named_;  // in key order
    std::vector<const ExistentialEntry*> pending_;
};

}  // namespace

ir::Emptiness shape_verdict(const Shape& s) { return ShapeSearch(s).run(); }

std::uint64_t shape_values_weighed() { return t_values_weighed; }

}  // namespace tessaron::descr
