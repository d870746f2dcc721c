// The per-validator lookup tables of the walk (`Precompute`) and the
// once-lock that holds them.
//
// A schema tree never changes, so what the walk would otherwise work out on
// every call about a node can be worked out once per validator: the
// declared keys of each record as interned Python strings, the attribute
// names of each object node, the int and str values of each union made only
// of literals, and each compiled pattern.  Every table is keyed by the
// address of the shared list (or pattern text) the entry belongs to, so a
// lookup is one FxHash of a machine word.  Every reader also works without
// its entry: the walks that decisions start run with four empty tables.
//
// `PrecomputeCell` is the validator's once-lock: the first validating call
// builds the tables, a thread that arrives meanwhile waits for it without
// holding the interpreter lock, and afterwards the tables are only read.
// A call that re-enters on the building thread itself (a finalizer run
// during the build) gets the empty tables instead of waiting on itself.
// Unlike the process-wide one-time cells it destroys its value: it lives and
// dies with its validator.
#pragma once

#include "python/binding/capi.h"

#include <boost/unordered/unordered_flat_map.hpp>
#include <boost/unordered/unordered_flat_set.hpp>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ir/node.h"
#include "core/pattern/pattern.h"
#include "core/util/fxhash.h"
#include "python/binding/ref.h"
#include "python/check/literal_sets.h"
#include "python/check/native_checks.h"
#include "python/check/plain_scan.h"

namespace tessaron::python {

struct CompiledSchema;
class PatternCache;

namespace check {

// The declared keys of one record (entry list).
struct RecordKeys {
    std::vector<py::Ref> names;  // interned str per entry, in entry order
    // key text -> entry position (the last position of a repeated text);
    // the views point into the entries' shared key texts, kept alive by
    // `texts`.
    boost::unordered_flat_map<std::string_view, std::uint64_t, TextHash, TextEq> positions;
    std::vector<ir::SharedText> texts;
    std::uint64_t required = 0;
    // The plain test of each entry's value (plain_scan.h), in entry order;
    // filled once every table is built.
    std::vector<PlainTest> plain;
};

template <class V>
using AddressMap = boost::unordered_flat_map<const void*, V, util::FxHash>;

struct Precompute {
    AddressMap<RecordKeys> record_keys;                              // by entry list
    AddressMap<std::vector<py::Ref>> attribute_names;                // by entry list
    AddressMap<LiteralSets> literal_sets;                            // by member list
    // by the address of the constraint's pattern text (its std::string)
    AddressMap<std::shared_ptr<const pattern::FullMatcher>> patterns;
    // No check of the schema runs code we do not control, so a JSON
    // document may be checked while it is parsed (check/json_stream.h).
    bool json_in_one_pass = false;
    // Native copies of the literals and of the refinements whose checks
    // need no Python object, for JSON values (native_checks.h).
    NativeChecks native;
    // The root as a list or tuple of plain items, when it is one: a member
    // is then answered by one scan at the entry (plain_scan.h).  Points
    // into `literal_sets`, which never changes once built.
    PlainRoot root;

    template <class T>
    static const void* key_of(const ir::SharedList<T>& list) {
        return list && !list->empty() ? static_cast<const void*>(list->data()) : nullptr;
    }
};

// Four empty tables, shared by every walk that has none of its own.
const Precompute& empty_precompute();

// Fills the tables of a finished schema.  Returns false with a Python
// exception set only when the interpreter fails (memory) or a signal
// handler run while patterns compile raises.
// `patterns`, when given, is the validator's cache of compiled patterns: a
// pattern found there is not compiled again, and one compiled here is
// offered to it.
bool build_precompute(const CompiledSchema& schema, Precompute& out, PatternCache* patterns = nullptr);

// Reports the Python objects the tables hold to the garbage collector.
int visit_precompute(const Precompute& tables, visitproc visit, void* arg);

// The once-lock of one validator's tables.
class PrecomputeCell {
public:
    PrecomputeCell() = default;
    PrecomputeCell(const PrecomputeCell&) = delete;
    PrecomputeCell& operator=(const PrecomputeCell&) = delete;

    // The tables, built by the first caller.  nullptr with an exception set
    // when building failed (the cell stays unbuilt; a later call retries).
    const Precompute* get(const CompiledSchema& schema, PatternCache* patterns = nullptr) {
        if (ready_.load(std::memory_order_acquire)) return &*value_;
        return build_slow(schema, patterns);
    }
    // The tables when built, else nullptr; never builds.
    const Precompute* peek() const { return ready_.load(std::memory_order_acquire) ? &*value_ : nullptr; }

private:
    const Precompute* build_slow(const CompiledSchema& schema, PatternCache* patterns);

    std::atomic<bool> ready_{false};
    // The thread identifier of the thread building the tables, 0 when none.
    std::atomic<unsigned long> builder_{0};
    std::mutex mutex_;
    std::optional<Precompute> value_;
};

}  // namespace check
}  // namespace tessaron::python
