// Building, reaching and guarding a validator's lookup tables.
//
// What it computes: the four `Precompute` tables of a finished schema.  For
// now the tables stay empty: every reader of the walk has its fallback that
// works from the nodes alone, so an empty table changes speed, never an
// answer.  Filling them is a pass over the root and each definition.
//
// Invariant: once `ready_` is published the tables never change, so readers
// on any thread use them without a lock.  Budget: the build runs once per
// validator.
#include "python/check/precompute.h"

namespace tessaron::python::check {

const Precompute& empty_precompute() {
    static const Precompute* const empty = new Precompute();
    return *empty;
}

bool build_precompute(const CompiledSchema&, Precompute&) { return true; }

int visit_precompute(const Precompute& tables, visitproc visit, void* arg) {
    for (const auto& [key, record] : tables.record_keys)
        for (const py::Ref& name : record.names) Py_VISIT(name.get());
    for (const auto& [key, names] : tables.attribute_names)
        for (const py::Ref& name : names) Py_VISIT(name.get());
    return 0;
}

const Precompute* PrecomputeCell::build_slow(const CompiledSchema& schema) {
    // Never wait for the mutex while holding the interpreter lock: the
    // builder needs the interpreter lock, so the order is mutex first.
    PyThreadState* ts = PyEval_SaveThread();
    mutex_.lock();
    PyEval_RestoreThread(ts);
    std::lock_guard<std::mutex> guard(mutex_, std::adopt_lock);
    if (!ready_.load(std::memory_order_relaxed)) {
        Precompute fresh;
        if (!build_precompute(schema, fresh)) return nullptr;
        value_.emplace(std::move(fresh));
        ready_.store(true, std::memory_order_release);
    }
    return &*value_;
}

}  // namespace tessaron::python::check
