// Plain element tests: checks of a container's items that run no user code,
// chosen once per container and run straight over its storage.
//
// What it computes: for an element node that is a scalar kind (a type
// test), a union of scalar kinds (a few type tests) or a union made only of
// literals (a lookup in its `LiteralSets`),
// the verdicts of a run of items, without a `walk` call per item: the
// index of the first item the test does not admit, or cannot answer.  The
// scan loops are specialised per test, so an item costs its type test or
// lookup and nothing else: no per-item dispatch on the node's kind, no
// depth counting, no scratch context.
//
// The record checks use the same tests for their declared values (one per
// entry, kept with the record's lookup table).
//
// Invariants: a test answers 1 (member), 0 (not a member) or -1 (no answer
// here: the caller walks that item).  Where it answers, its answer is the
// walk's: the scalar tests are the walk's own, and the literal sets hold
// every exact-int constant within 64 bits and every exact-str constant of
// the union (literal_sets.h).  Nothing in a scan calls Python code,
// allocates or lets another thread run, so the storage read at its start
// stays valid to its end.  The callers keep the depth rule: a scalar test
// stands for a walk one level down, a union's tests for two; and they note
// the union's level as reached, so that the walk remembered around them
// knows how deep it went (walk.cc).
//
// Budget: one type test, or one hash lookup, per item.
#pragma once

#include "python/binding/capi.h"

#include <cstdint>

#include "core/ir/node.h"
#include "python/check/literal_sets.h"

namespace tessaron::python::check {

struct Precompute;

struct PlainTest {
    // Scalar: one scalar kind.  Scalars: a union of scalar kinds (such as
    // `Optional[str]`), one bit per kind in `mask`.  Literals: a union made
    // only of literals.
    enum class Kind : std::uint8_t { None, Scalar, Scalars, Literals };
    Kind kind = Kind::None;
    ir::NodeKind scalar = ir::NodeKind::Anything;  // Kind::Scalar
    std::uint8_t mask = 0;                         // Kind::Scalar(s): bit k for NodeKind k
    const LiteralSets* sets = nullptr;             // Kind::Literals

    explicit operator bool() const { return kind != Kind::None; }
    // The levels below the container that a walk of an item would enter.
    std::uint64_t levels() const { return kind == Kind::Scalar ? 1 : 2; }
    // Of those, the levels above the item's type tests (a union's own): a
    // caller that answers an item by the test notes them as reached
    // (`WalkState::reached`), as the walk of the item would.  The type
    // tests one level below them are those a remembered walk allows one
    // level more for, as for every type test made in place (walk.cc).
    std::uint64_t levels_above_tests() const { return levels() - 1; }
};

// The plain test of an element node, or none.  On PyPy the literal unions
// do not qualify (its str objects are not laid out as CPython's).
PlainTest plain_test(const ir::Node& node, const Precompute& tables);

// Whether an object is a member of one of the scalar kinds (None to bytes)
// whose bits are set in `mask`: the walk's type tests, as a union of scalar
// kinds asks them member by member.  The tests that read only the object
// and its type's flags are all taken and or-ed together, so a record's
// values of differing kinds cost no branch per kind; only a float subclass
// (whose test asks the type's bases) is looked at past them.
inline bool scalar_mask_matches(std::uint8_t mask, PyObject* o) {
    constexpr auto bit = [](ir::NodeKind k) { return 1u << static_cast<unsigned>(k); };
    const unsigned kinds = bit(ir::NodeKind::Anything) |
                           (o == Py_None ? bit(ir::NodeKind::None) : 0u) |
                           (Py_IS_TYPE(o, &PyBool_Type) ? bit(ir::NodeKind::Bool) : 0u) |
                           (PyLong_Check(o) ? bit(ir::NodeKind::Int) : 0u) |
                           (Py_IS_TYPE(o, &PyFloat_Type) ? bit(ir::NodeKind::Float) : 0u) |
                           (PyUnicode_Check(o) ? bit(ir::NodeKind::Str) : 0u) |
                           (PyBytes_Check(o) ? bit(ir::NodeKind::Bytes) : 0u);
    if (mask & kinds) return true;
    return (mask & bit(ir::NodeKind::Float)) && PyFloat_Check(o);
}

// Whether storage may be read in place across a scan: not where other
// threads run at the same time as this one (a free-threaded interpreter).
#ifdef Py_GIL_DISABLED
inline constexpr bool kScanInPlace = false;
#else
inline constexpr bool kScanInPlace = true;
#endif

// The literal-set answer of a Python value: exact strs and exact ints
// within 64 bits are looked up; anything else is left to the walk (-1).
inline int literal_answer(const LiteralSets& sets, PyObject* item) {
#ifndef PYPY_VERSION
    PyTypeObject* type = Py_TYPE(item);
    if (type == &PyUnicode_Type) return sets.str_objects.contains(item) ? 1 : 0;
    if (type == &PyLong_Type) {
        // An exact int converts without calling anything and cannot fail;
        // past 64 bits it overflows and the members answer.
        int overflow = 0;
        const long long n = PyLong_AsLongLongAndOverflow(item, &overflow);
        if (overflow != 0) return -1;
        return sets.ints.contains(static_cast<std::int64_t>(n)) ? 1 : 0;
    }
#else
    (void)sets;
    (void)item;
#endif
    return -1;
}

// The walk's type test of one scalar kind (anything to bytes).
inline bool scalar_one_matches(ir::NodeKind kind, PyObject* o) {
    switch (kind) {
        case ir::NodeKind::Anything: return true;
        case ir::NodeKind::None: return o == Py_None;
        case ir::NodeKind::Bool: return Py_IS_TYPE(o, &PyBool_Type);
        case ir::NodeKind::Int: return PyLong_Check(o);
        case ir::NodeKind::Float: return PyFloat_Check(o);
        case ir::NodeKind::Str: return PyUnicode_Check(o);
        case ir::NodeKind::Bytes: return PyBytes_Check(o);
        default: return false;
    }
}

// The answer of a plain test for one value: 1, 0, or -1 (walk it).
inline int plain_answer(const PlainTest& test, PyObject* o) {
    switch (test.kind) {
        case PlainTest::Kind::Literals: return literal_answer(*test.sets, o);
        case PlainTest::Kind::Scalars:
        case PlainTest::Kind::Scalar: return scalar_mask_matches(test.mask, o) ? 1 : 0;
        default: return -1;
    }
}

namespace detail {

// The scan loop of one test: `test` is inlined into it, so each kind of
// test gets its own tight loop.
template <class Test>
inline Py_ssize_t scan_with(PyObject* const* items, Py_ssize_t begin, Py_ssize_t end, int& answer, Test test) {
    for (Py_ssize_t i = begin; i < end; ++i) {
        const int a = test(items[i]);
        if (a != 1) [[unlikely]] {
            answer = a;
            return i;
        }
    }
    answer = 1;
    return end;
}

}  // namespace detail

// Scans `items[begin..end)`: the index of the first item whose answer is
// not 1 (its answer in `answer`), or `end` (answer 1) when every item is a
// member.
[[gnu::always_inline]] inline Py_ssize_t plain_scan(const PlainTest& test, PyObject* const* items, Py_ssize_t begin, Py_ssize_t end,
                             int& answer) {
    using detail::scan_with;
    if (test.kind == PlainTest::Kind::Literals) {
        const LiteralSets& sets = *test.sets;
        return scan_with(items, begin, end, answer, [&sets](PyObject* o) { return literal_answer(sets, o); });
    }
    if (test.kind == PlainTest::Kind::Scalars) {
        const std::uint8_t mask = test.mask;
        return scan_with(items, begin, end, answer, [mask](PyObject* o) { return int(scalar_mask_matches(mask, o)); });
    }
    switch (test.scalar) {
        case ir::NodeKind::Anything:
            answer = 1;
            return end;
        case ir::NodeKind::None:
            return scan_with(items, begin, end, answer, [](PyObject* o) { return int(o == Py_None); });
        case ir::NodeKind::Bool:
            return scan_with(items, begin, end, answer, [](PyObject* o) { return int(Py_IS_TYPE(o, &PyBool_Type)); });
        case ir::NodeKind::Int:
            return scan_with(items, begin, end, answer, [](PyObject* o) { return int(PyLong_Check(o) != 0); });
        case ir::NodeKind::Float:
            return scan_with(items, begin, end, answer, [](PyObject* o) { return int(PyFloat_Check(o) != 0); });
        case ir::NodeKind::Str:
            return scan_with(items, begin, end, answer, [](PyObject* o) { return int(PyUnicode_Check(o) != 0); });
        case ir::NodeKind::Bytes:
            return scan_with(items, begin, end, answer, [](PyObject* o) { return int(PyBytes_Check(o) != 0); });
        default:  // nothing
            return scan_with(items, begin, end, answer, [](PyObject*) { return 0; });
    }
}

// A list or tuple root with no fixed positions whose item check is plain,
// as the lookup tables record it once per validator (precompute.h).
struct PlainRoot {
    PlainTest items;
    bool tuple = false;
};

// At most this many items are scanned at the root without a walk state;
// a longer value is left to the walk, which scans it in stretches.
inline constexpr Py_ssize_t kQuickItems = 16384;

// The verdict of a value at a plain root, when it can be given without a
// walk state: 1 every item admitted, 0 (only when `definite_no`) an item
// refused, -1 walk it (another type, an item the test cannot answer, more
// than `kQuickItems` items, or a refusal when only members are answered
// here).  Runs no user code; never on PyPy (-1).
inline int plain_root_verdict(const PlainRoot& root, PyObject* value, bool definite_no) {
    if constexpr (py::kPyPy || !kScanInPlace) return -1;
    if (!root.items) return -1;
    if (root.tuple ? !PyTuple_Check(value) : !PyList_Check(value)) return -1;
    const Py_ssize_t n = Py_SIZE(value);
    if (n > kQuickItems) return -1;
    int answer = 1;
    plain_scan(root.items, PySequence_Fast_ITEMS(value), 0, n, answer);
    if (answer == 1) return 1;
    return answer == 0 && definite_no ? 0 : -1;
}

// The plain root of a schema's root node, if it has one.
PlainRoot plain_root(const ir::Node& root, const Precompute& tables);

}  // namespace tessaron::python::check
