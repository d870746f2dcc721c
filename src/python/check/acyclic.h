// Whether the Python values below an object can lead back to a value the
// walk is inside of.
//
// A memo entry made from one recursion guard may stand in for a walk from
// another guard of no more entries when the entries it does not share
// cannot be met below the value (memo.h).  Every guard entry is a value
// the walk passed through on its way to this one.  For a value all of
// whose descendants are builtin containers and scalars (so the walk below
// it follows containment only, and runs none of our callers' code) and
// that reaches no cycle, no such entry can be met below it: the entry
// would be a descendant that contains the value, a cycle through it.
// `AcyclicCache::holds` answers exactly that, conservatively: a value of
// any other type anywhere below, or a cycle, answers false.
//
// Invariant: an answer holds while no code of our callers runs (a
// container can change only then); the cache is emptied when
// `WalkState::user_code` moves on.
//
// Every container marked is held by a strong reference until the cache is
// emptied, so no mark can outlive its object and be read for another one
// at the same address.
//
// Budget: every object below the value is visited at most once per epoch,
// with an explicit stack (no native recursion, whatever the nesting); one
// hash entry per object visited.
#pragma once

#include "python/binding/capi.h"

#include <boost/unordered/unordered_flat_map.hpp>
#include <cstdint>
#include <vector>

#include "core/util/fxhash.h"
#include "python/binding/ref.h"

namespace tessaron::python::check {

class AcyclicCache {
public:
    // True when everything below `value` is a builtin container or scalar
    // and no cycle is reachable from it, as of epoch `epoch`.
    bool holds(PyObject* value, std::uint64_t epoch);

private:
    enum class Mark : std::uint8_t { Open, Clear, Tainted };
    struct Frame {
        PyObject* object;
        Py_ssize_t next = 0;          // the next item, or a dict's position
        PyObject* pending = nullptr;  // a dict's value, after its key
        py::Ref iterator;             // sets only
    };

    // The next child of the frame's object (borrowed), or nullptr once
    // done; false when the object could not be read.
    static bool next_child(Frame& f, PyObject*& child);
    // Marks every open frame Tainted and empties the stack.
    void taint_open();

    std::vector<Frame> stack_;
    std::vector<py::Ref> held_;

    boost::unordered_flat_map<const void*, Mark, util::FxHash> marks_;
    std::uint64_t epoch_ = ~std::uint64_t{0};
};

}  // namespace tessaron::python::check
