// The Python-backed answers to the leaf questions core code asks about
// pooled objects.
//
// `PoolOracle` implements the Oracle interface over the pool (and the
// definitions) of the schemas one decision call works on.  It asks Python
// -- rich comparisons, `issubclass`, `math.floor`, `__mod__`, set
// membership, membership walks -- and declines whenever Python raises: the
// exception is dropped, fatal ones included, and the error indicator is
// clear whenever an operation returns.  One oracle serves one public call on
// one thread; it is never shared.
#pragma once

#include "python/binding/capi.h"

#include <boost/unordered/unordered_flat_map.hpp>
#include <cstdint>
#include <optional>
#include <span>

#include <memory>
#include <string>

#include "core/decide/decision.h"
#include "core/ir/oracle.h"
#include "core/util/fxhash.h"
#include "python/binding/ref.h"
#include "python/check/precompute.h"
#include "python/pattern_cache.h"

namespace tessaron::python {

// None, bool, int, float, str or bytes by exact type; none for any other
// object (subclasses included).  Never raises.
std::optional<ir::Kind> literal_kind(PyObject* obj);

// Whether the metaclass of `cls` keeps `type`'s instance and subclass
// checks: yes plain, no overridden (an abstract base class, a
// runtime-checkable protocol), declined when a lookup failed.  Leaves no
// exception set.
ir::Answer class_is_plain(PyObject* cls);

// Whether the type's `__eq__` is `object`'s (equality is identity).  A
// failed lookup answers false.  Leaves no exception set.
bool has_default_eq(PyTypeObject* type);

// The builtin type a class derives from, tested in the order int, str,
// bytes, float, tuple, frozenset, list, set, dict: its kind (Other: none).
struct BuiltinBase {
    ir::Kind kind = ir::Kind::Other;
};
BuiltinBase builtin_base_kind(PyObject* cls);

struct CompiledSchema;

// The work counters of the membership walks of decisions, on the calling
// thread: `_pattern_matches()` answers (work, stopped), the NFA states the
// walks' pattern matches visited (charged to the decisions' automaton
// work) and the walks a spent allowance stopped.
PyObject* pattern_matches_function(PyObject* module, PyObject* unused);
extern const char kPatternMatchesDoc[];

class PoolOracle final : public ir::Oracle {
public:
    PoolOracle(std::span<const py::Ref> pool, std::span<const ir::Node> definitions)
        : pool_(pool), definitions_(definitions) {}
    explicit PoolOracle(std::span<const py::Ref> pool) : pool_(pool) {}

    ir::LeafInfo bound_info(std::uint64_t) override;
    ir::LeafInfo literal_info(std::uint64_t) override;
    ir::LeafInfo class_info(std::uint64_t) override;
    ir::Answer leaf_relation(const ir::Node& leaf, const ir::Node& node) override;
    ir::Order compare(std::uint64_t, std::uint64_t) override;
    ir::Answer literal_sets_disjoint(std::span<const std::uint64_t>, std::span<const std::uint64_t>) override;
    ir::Answer integer_interval_empty(std::uint64_t, bool, std::uint64_t, bool) override;
    ir::Answer divides(std::uint64_t divisor, std::uint64_t dividend) override;
    ir::Answer class_atom_is_plain(const ir::Node& instance) override;
    std::optional<ir::Kind> constant_kind(std::uint64_t) override;
    ir::Answer class_overlaps_kind(std::uint64_t, ir::Kind) override;
    ir::Answer class_produces_kind(std::uint64_t, ir::Kind) override;
    ir::Answer kind_within_class(ir::Kind, std::uint64_t) override;
    ir::Answer literals_distinct(std::uint64_t, std::uint64_t) override;

    // The dense id of a class within this oracle's answers: classes are
    // numbered in the order they are first met (0, 1, 2, ...).
    std::uint32_t intern_class_id(PyObject* cls);

    // The call's step budget, which the membership walks also spend (a
    // walk one step, a pattern compiled for them one step per byte of its
    // text); once it is spent they are declined.  And the receiver's
    // lookup tables, when built: patterns compiled there are not compiled
    // again.  Both must outlive the oracle.
    void set_budget(decide::DecisionBudget* budget) { budget_ = budget; }
    void set_receiver_tables(const check::Precompute* tables) { receiver_tables_ = tables; }
    // The pattern cache of a validator the call decides on (the receiver,
    // and `other` when it is one): a pattern kept there is not compiled,
    // and one compiled here is offered to it.  Both must outlive the
    // oracle.
    void add_pattern_cache(const CompiledSchema* schema, PatternCache* cache) {
        pattern_caches_.push_back(PatternSource{schema, cache});
    }

private:
    PyObject* object(std::uint64_t index) const {
        return index < pool_.size() ? pool_[index].get() : nullptr;
    }
    ir::LeafInfo leaf_info_at(std::uint64_t index);
    ir::LeafInfo class_leaf_info(PyObject* cls);
    // The verdict of a membership walk of `value` against `node`: yes
    // member, no not a member, declined when the walk aborted.
    ir::Answer walk_verdict(const ir::Node& node, PyObject* value);
    ir::Answer literal_in_node(PyObject* constant, const ir::Node& node);
    ir::Answer enumeration_in_node(PyObject* cls, const ir::Node& node);
    ir::Answer class_kind_answer(std::uint64_t class_index, ir::Kind kind, bool plain_none_is_no);
    // Puts the matcher of every pattern the walk of `node` can meet into
    // `walk_tables_`, each distinct text compiled once per oracle and each
    // shared list looked over once; false when the budget ran out.
    bool prepare_patterns(const ir::Node& node);
    bool prepare_tree(const ir::Node& root);
    bool prepare_pattern(const ir::Constraint& c);
    // The NFA work the decision's matchers did since it was last taken,
    // now taken (the total so far is held in `matcher_work_`).
    std::uint64_t take_matcher_work();

    std::span<const py::Ref> pool_;
    std::span<const ir::Node> definitions_;
    // Guards the class-id table: -1 while intern_class_id updates it.
    std::int64_t borrow_ = 0;
    boost::unordered_flat_map<std::uint64_t, std::uint32_t, util::FxHash> class_ids_;

    decide::DecisionBudget* budget_ = nullptr;
    const check::Precompute* receiver_tables_ = nullptr;
    // The walks' tables: only `patterns` is filled, by the address of each
    // constraint's text; the lists looked over are held (`prepared_lists_`),
    // so no address in the table is freed and reused during the call.
    std::unique_ptr<check::Precompute> walk_tables_;
    boost::unordered_flat_map<const void*, std::shared_ptr<const void>, util::FxHash> prepared_lists_;
    // The matcher of every pattern the walks use, by text (nullptr: it
    // does not compile): the call's own (FullMatcher::with_cache), whose
    // lazy DFA serves all the literals the call checks against the
    // pattern and no other call.
    boost::unordered_flat_map<std::string, std::shared_ptr<const pattern::FullMatcher>> matchers_;
    std::vector<const pattern::FullMatcher*> own_matchers_;
    std::uint64_t matcher_work_ = 0;
    // A walk was stopped for want of automaton work: the scope has none
    // left, and further walks are declined.
    bool match_work_spent_ = false;
    struct PatternSource {
        const CompiledSchema* schema;
        PatternCache* cache;
    };
    std::vector<PatternSource> pattern_caches_;
    bool definitions_prepared_ = false;
};


}  // namespace tessaron::python
