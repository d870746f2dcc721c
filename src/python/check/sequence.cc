// Sequence (list, tuple) and set (set, frozenset) checks.
//
// What it computes: a list or tuple matches a sequence node when its type
// fits the flavour, its length fits the prefix (exactly, or at least with a
// tail), and each element matches its prefix node or the tail; a set or
// frozenset matches when every element matches the element node.
//
// Invariants: list items are read from the list's storage (no user
// item-access method runs) with one strong reference held while an item is
// walked; the list's size is read again before each element and after the
// last, and a change is reported as "mutated_during_validation" instead of
// raising.  Overrides of `__len__` and `__iter__` in subclasses are never
// called.  Set failures carry the set's own path and are sorted by their
// value text and code, ties by the elements' values (no user code), so the
// report does not depend on hash order.
//
// Budget: one walk per element.  In verdict-only mode a homogeneous list or
// tuple of a scalar kind is tested without recursion (a list of 16 to
// 262144 items through one storage snapshot), and a set of scalars likewise.
// The scans tick the walk's poll every stretch of items (context.h), and
// read the storage again after a tick (a signal handler may have run).
//
// Fast path of the recording modes: when the check of every element node
// runs no user code (`runs_no_user_code`: scalar kinds, plain literals and
// their unions), the elements are first tested verdict-only, straight from
// the storage and without path segments; if all of them pass, the value is
// a member and nothing would have been recorded.  Only when one fails does
// the recording loop run, from the start, to build the report.  Since
// nothing in the first pass can call Python code or allocate (but a signal
// handler run between two stretches of a long value, which would have run
// in the recording loop as well), running it is not observable; a failing
// value pays for at most one extra pass up to its first failure.
#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "python/check/builtins.h"
#include "python/check/plain_scan.h"
#include "python/check/report.h"
#include "python/check/sources.h"
#include "python/check/walk.h"

namespace tessaron::python::check {

namespace {

// Items a scan tests between two ticks of the walk's poll; a scan of fewer
// than kTickedScan items is paid for by its walk level and ticks nothing.
constexpr Py_ssize_t kScanStretch = 16384;
constexpr Py_ssize_t kTickedScan = 64;

// The end of the stretch of a scan that starts at `i`.
Py_ssize_t stretch_end(Py_ssize_t i, Py_ssize_t n) { return n - i > kScanStretch ? i + kScanStretch : n; }

// The tick after the last stretch of a scan of `n` items.
bool tick_scan_end(Py_ssize_t n, WalkState& st) {
    return n < kTickedScan || st.tick(static_cast<std::uint64_t>(n % kScanStretch) * kScanItemUnits);
}

// One element of `container`: in the recording modes under its `Index`
// path segment.
bool check_element(const ir::Node& node, PyObject* item, PyObject* container, std::uint64_t position,
                   WalkContext& ctx) {
    const PySource child{item, PySource::identity_of(container), position};
    if (!ctx.recording()) return walk(node, child, ctx);
    ctx.path->push(PathIndex{position});
    const bool member = walk(node, child, ctx);
    ctx.path->pop();
    return member;
}

// Verdict-only check of a list or tuple whose element check is plain
// (plain_scan.h): the items are scanned straight from the storage; an item
// the test cannot answer is walked, holding a reference to it, and a list
// is measured again after that walk and at the end, a change making the
// value a non-member.
bool plain_items_verdict(const PlainTest& test, const ir::Node& tail, PyObject* value, Py_ssize_t n, bool is_tuple,
                         WalkContext& ctx) {
    if constexpr (py::kPyPy) {
        // Only type tests are plain here.  The list's own storage, turned
        // into C-API form on the first read and kept so, is scanned in
        // place (nothing in the scan runs Python code or lets another
        // thread run).
        for (Py_ssize_t start = 0; start < n; start += kScanStretch) {
            // After a tick the storage is read again: a signal handler may
            // have changed the list.
            if (start > 0 && !ctx.state->tick(kScanStretch * kScanItemUnits)) return false;
            if (!is_tuple && PyList_GET_SIZE(value) != n) return false;
            PyObject* const* items = PySequence_Fast_ITEMS(value);
            if (!items) {
                absorb_error(*ctx.state);
                return false;
            }
            const Py_ssize_t end = stretch_end(start, n);
            for (Py_ssize_t i = start; i < end; ++i)
                if (plain_answer(test, items[i]) != 1) return false;
        }
        return tick_scan_end(n, *ctx.state) && (is_tuple || PyList_GET_SIZE(value) == n);
    }
    py::Ref snapshot;
    if (!kScanInPlace && !is_tuple) {
        // Other threads may change the list meanwhile: scan a copy.
        snapshot = py::Ref::steal(PyList_AsTuple(value));
        if (!snapshot) {
            absorb_error(*ctx.state);
            return false;
        }
    }
    PyObject* storage = snapshot ? snapshot.get() : value;
    Py_ssize_t i = 0;
    Py_ssize_t end = stretch_end(0, n);
    while (i < n) {
        int answer = 1;
        i = plain_scan(test, PySequence_Fast_ITEMS(storage), i, end, answer);
        if (i == end) {
            if (end == n) break;
            // Between two stretches: a signal handler may run, and the
            // storage is read again (a list measured again first).
            if (!ctx.state->tick(kScanStretch * kScanItemUnits)) return false;
            if (!is_tuple && PyList_GET_SIZE(value) != n) return false;
            end = stretch_end(i, n);
            continue;
        }
        if (answer == 0) return false;
        py::Ref item = py::Ref::borrow(PySequence_Fast_ITEMS(storage)[i]);
        if (!walk(tail, PySource{item.get(), PySource::identity_of(value), static_cast<std::uint64_t>(i)}, ctx))
            return false;
        if (!is_tuple && PyList_GET_SIZE(value) != n) return false;
        ++i;
    }
    return tick_scan_end(n, *ctx.state) && (is_tuple || PyList_GET_SIZE(value) == n);
}

bool check_list_elements(std::span<const ir::Node> prefix, const ir::Node* tail, PyObject* list, Py_ssize_t n,
                         const PySource& src, WalkContext& ctx) {
    bool verdict = true;
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (PyList_GET_SIZE(list) != n) {
            report_mutated(src, ctx);
            return false;
        }
        const auto pos = static_cast<std::size_t>(i);
        const ir::Node* node = pos < prefix.size() ? &prefix[pos] : tail;
        py::Ref item = py::Ref::borrow(PyList_GET_ITEM(list, i));
        if (!node || !check_element(*node, item.get(), list, pos, ctx)) {
            if (ctx.mode != WalkMode::CollectAll || ctx.state->stop) return false;
            verdict = false;
        }
    }
    if (PyList_GET_SIZE(list) != n) {
        report_mutated(src, ctx);
        return false;
    }
    return verdict;
}

bool check_tuple_elements(std::span<const ir::Node> prefix, const ir::Node* tail, PyObject* tuple, Py_ssize_t n,
                          WalkContext& ctx) {
    bool verdict = true;
    for (Py_ssize_t i = 0; i < n; ++i) {
        const auto pos = static_cast<std::size_t>(i);
        const ir::Node* node = pos < prefix.size() ? &prefix[pos] : tail;
        // Held, as a list's item is: a tuple's item then has as many
        // references as a list's when the walk tells whether it is shared.
        const py::Ref item = py::Ref::borrow(PyTuple_GET_ITEM(tuple, i));
        if (!node || !check_element(*node, item.get(), tuple, pos, ctx)) {
            if (ctx.mode != WalkMode::CollectAll || ctx.state->stop) return false;
            verdict = false;
        }
    }
    return verdict;
}

// At most this many element nodes are looked at to decide whether the
// recording modes may test the elements verdict-only first.
constexpr int kPureCheckBudget = 64;

// Whether every element node of a sequence runs no user code.
bool elements_run_no_user_code(std::span<const ir::Node> prefix, const ir::Node* tail, const WalkState& st) {
    int budget = kPureCheckBudget;
    for (const ir::Node& node : prefix)
        if (!runs_no_user_code(node, st.pool, budget)) return false;
    return !tail || runs_no_user_code(*tail, st.pool, budget);
}

// The verdict-only first pass over the items of `value` (a list or tuple
// of `n` items, read from its storage) for element nodes that run no user
// code; see the file comment.  Scalar kinds are type tests in place, other
// nodes a verdict-only walk.  Within a stretch nothing runs Python code
// (the walks' poll is paused); between two, the poll is ticked, and the
// storage read again, a changed size ending the pass with false.
bool elements_verdict(std::span<const ir::Node> prefix, const ir::Node* tail, PyObject* value, Py_ssize_t n,
                      WalkContext& ctx) {
    constexpr Py_ssize_t kStretch = 4096;
    WalkState& st = *ctx.state;
    const bool is_list = PyList_Check(value);
    const std::uint64_t parent = PySource::identity_of(value);
    std::vector<Violation> none;
    WalkContext quiet = ctx.scratch(none, WalkMode::VerdictOnly);
    for (Py_ssize_t start = 0; start < n; start += kStretch) {
        if (start > 0) {
            if (!st.tick(kStretch * kWalkLevelUnits)) return false;
            if ((is_list ? PyList_GET_SIZE(value) : PyTuple_GET_SIZE(value)) != n) return false;
        }
        PyObject* const* items = PySequence_Fast_ITEMS(value);
        const Py_ssize_t end = n - start > kStretch ? start + kStretch : n;
        PollPause pause(st);
        for (Py_ssize_t i = start; i < end; ++i) {
            const auto pos = static_cast<std::size_t>(i);
            const ir::Node* node = pos < prefix.size() ? &prefix[pos] : tail;
            if (!node) return false;
            const bool ok = is_scalar_kind(node->kind) ? scalar_kind_matches(node->kind, items[i])
                                                       : walk(*node, PySource{items[i], parent, pos}, quiet);
            if (!ok) return false;
        }
    }
    return n < kTickedScan || st.tick(static_cast<std::uint64_t>(n % kStretch) * kWalkLevelUnits);
}

// Whether a plain test admits every item of `value`, scanned in place a
// stretch at a time with a tick between two (the storage read again after
// one; a list that changed size answers false).  False also when the poll
// stopped the walk.
bool plain_members(const PlainTest& test, PyObject* value, Py_ssize_t n, bool is_tuple, WalkState& st) {
    for (Py_ssize_t start = 0; start < n; start += kScanStretch) {
        if (start > 0) {
            if (!st.tick(kScanStretch * kScanItemUnits)) return false;
            if (!is_tuple && PyList_GET_SIZE(value) != n) return false;
        }
        int answer = 1;
        const Py_ssize_t end = stretch_end(start, n);
        if (plain_scan(test, PySequence_Fast_ITEMS(value), start, end, answer) != end) return false;
    }
    return tick_scan_end(n, st);
}

struct SetGroup {
    std::string key;
    std::vector<Violation> violations;
    py::Ref element;
};

// The lines of a group's violations, for groups tied on key and value.
std::string violation_lines(const SetGroup& group) {
    std::string lines;
    for (const Violation& v : group.violations) {
        render_error_line(v, lines);
        lines += '\n';
    }
    return lines;
}

// An order over set elements for groups whose keys tie, read from the
// values alone and running no user code: exact None < bool < int < float <
// str < bytes < tuple < frozenset, each by value (tuples item by item,
// frozensets of at most kTieSetItems by size then sorted items); anything
// else, NaN among floats, and items past kTieDepth levels are tied with
// their kind.  A weak order: the groups it leaves tied are ordered by their
// violations' lines, and groups tied on those too report the same lines.
constexpr int kTieDepth = 16;
constexpr Py_ssize_t kTieSetItems = 64;

int tie_rank(PyObject* x) {
    if (x == Py_None) return 0;
    if (PyBool_Check(x)) return 1;
    if (PyLong_CheckExact(x)) return 2;
    if (PyFloat_CheckExact(x)) return 3;
    if (PyUnicode_CheckExact(x)) return 4;
    if (PyBytes_CheckExact(x)) return 5;
    if (PyTuple_CheckExact(x)) return 6;
    if (PyFrozenSet_CheckExact(x)) return 7;
    return 8;
}

template <typename T>
int three_way(const T& a, const T& b) {
    return a < b ? -1 : b < a ? 1 : 0;
}

int tie_compare(PyObject* a, PyObject* b, int depth);

// The items of a frozenset in tie order.
std::vector<PyObject*> tie_sorted_items(PyObject* set, int depth) {
    // An exact frozenset's iteration runs no user code; the set, held by
    // the element, holds its items while they are compared.
    std::vector<PyObject*> items;
    py::Ref iter = py::Ref::steal(PyObject_GetIter(set));
    while (py::Ref item = py::Ref::steal(iter ? PyIter_Next(iter.get()) : nullptr)) items.push_back(item.get());
    if (PyErr_Occurred()) PyErr_Clear();  // memory only: the items read so far
    std::stable_sort(items.begin(), items.end(),
                     [depth](PyObject* x, PyObject* y) { return tie_compare(x, y, depth) < 0; });
    return items;
}

int tie_compare(PyObject* a, PyObject* b, int depth) {
    if (a == b) return 0;
    const int ra = tie_rank(a), rb = tie_rank(b);
    if (ra != rb) return three_way(ra, rb);
    if (depth >= kTieDepth) return 0;
    switch (ra) {
        case 1:
            return three_way(a == Py_True, b == Py_True);
        case 2: {
            // Exact ints: their comparison runs no user code and cannot fail.
            if (PyObject_RichCompareBool(a, b, Py_LT) == 1) return -1;
            return PyObject_RichCompareBool(b, a, Py_LT) == 1 ? 1 : 0;
        }
        case 3: {
            const double x = PyFloat_AS_DOUBLE(a), y = PyFloat_AS_DOUBLE(b);
            if (std::isnan(x) || std::isnan(y)) return three_way(std::isnan(x), std::isnan(y));
            return three_way(x, y);
        }
        case 4: {
            const int c = PyUnicode_Compare(a, b);
            return c < 0 ? -1 : c > 0 ? 1 : 0;
        }
        case 5: {
            const std::string_view x(PyBytes_AS_STRING(a), static_cast<std::size_t>(PyBytes_GET_SIZE(a)));
            const std::string_view y(PyBytes_AS_STRING(b), static_cast<std::size_t>(PyBytes_GET_SIZE(b)));
            return three_way(x, y);
        }
        case 6: {
            const Py_ssize_t n = std::min(PyTuple_GET_SIZE(a), PyTuple_GET_SIZE(b));
            for (Py_ssize_t i = 0; i < n; ++i)
                if (int c = tie_compare(PyTuple_GET_ITEM(a, i), PyTuple_GET_ITEM(b, i), depth + 1)) return c;
            return three_way(PyTuple_GET_SIZE(a), PyTuple_GET_SIZE(b));
        }
        case 7: {
            const Py_ssize_t na = PySet_GET_SIZE(a), nb = PySet_GET_SIZE(b);
            if (na != nb) return three_way(na, nb);
            if (na > kTieSetItems) return 0;
            const std::vector<PyObject*> xs = tie_sorted_items(a, depth + 1), ys = tie_sorted_items(b, depth + 1);
            for (std::size_t i = 0; i < xs.size() && i < ys.size(); ++i)
                if (int c = tie_compare(xs[i], ys[i], depth + 1)) return c;
            return 0;
        }
        default:
            return 0;
    }
}

}  // namespace

bool check_sequence(const ir::Node& node, const PySource& src, WalkContext& ctx) {
    const bool is_tuple = node.flavour() == ir::kFlavourTuple;
    const char* kind_name = is_tuple ? "tuple" : "list";
    PyObject* value = src.obj;
    if (is_tuple ? !PyTuple_Check(value) : !PyList_Check(value)) {
        push_violation(is_tuple ? "tuple_type" : "list_type", kind_name, src, ctx);
        return false;
    }
    const auto prefix = ir::as_span(node.prefix());
    const ir::Node* tail = node.tail().get();
    // A list is measured by its storage; so is a tuple: the storage size is
    // what the builtin `tuple.__len__` answers, so an override of `__len__`
    // in a tuple subclass never changes what is checked.
    const Py_ssize_t n = is_tuple ? PyTuple_GET_SIZE(value) : PyList_GET_SIZE(value);
    if (!storage_readable(value, n, *ctx.state)) {  // only on PyPy (builtins.h)
        report_mutated(src, ctx);
        return false;
    }
    const auto count = static_cast<std::size_t>(n);
    if (tail ? count < prefix.size() : count != prefix.size()) {
        report_type_mismatch_formatted(is_tuple ? "tuple_length" : "list_length", kind_name, prefix.size(),
                                       tail != nullptr, src, ctx);
        return false;
    }
    WalkState& st = *ctx.state;
    if (prefix.empty() && tail) {
        // Plain element checks (plain_scan.h), where the walk of an item
        // would not cross the nesting limit.  Verdict-only, they answer;
        // recording, a member is answered by the scan, and anything else
        // goes on to the passes below (the scan ran no user code).  The
        // first item is tested, so the levels of its walk are reached.
        const PlainTest test = plain_test(*tail, *st.tables);
        if (test && st.depth + test.levels() <= kMaxWalkDepth) {
            if (n != 0) st.reached(st.depth + test.levels_above_tests());
            if (!ctx.recording()) return plain_items_verdict(test, *tail, value, n, is_tuple, ctx);
            if (kScanInPlace && !py::kPyPy && plain_members(test, value, n, is_tuple, st)) return true;
            if (st.stop) return false;
        }
    }
    // The recording modes' first pass (file comment).  The nesting test
    // keeps it from admitting elements the walk would refuse at the limit
    // (the scalar tests skip `walk`'s own depth check).
    if (ctx.recording() && st.depth < kMaxWalkDepth && elements_run_no_user_code(prefix, tail, st)) {
        if (elements_verdict(prefix, tail, value, n, ctx)) return true;
        if (st.stop) return false;
    }
    if (is_tuple) return check_tuple_elements(prefix, tail, value, n, ctx);
    return check_list_elements(prefix, tail, value, n, src, ctx);
}

template <ValueSource Source>
bool check_set(const ir::Node& node, const Source& src, WalkContext& ctx) {
    const bool frozen = node.flavour() == ir::kFlavourFrozenset;
    const char* code = frozen ? "frozen_set_type" : "set_type";
    const char* kind_name = frozen ? "frozenset" : "set";
    if constexpr (Source::is_json) {
        push_violation(code, kind_name, src, ctx);
        return false;
    } else {
        WalkState& st = *ctx.state;
        PyObject* value = src.obj;
        if (frozen ? !PyFrozenSet_Check(value) : !PySet_Check(value)) {
            push_violation(code, kind_name, src, ctx);
            return false;
        }
        const ir::Node* element = node.element().get();
        if (!element) return false;
        if (!PySet_CheckExact(value) && !PyFrozenSet_CheckExact(value)) st.note_user_code();  // a subclass's type
        // A set holds an object once: its elements' place is the set.
        const std::uint64_t set_place = src.identity();
        py::Ref iter = py::Ref::steal(builtin_iter(value));
        if (!iter) {
            absorb_error(st);
            report_mutated(src, ctx);
            return false;
        }
        if (!ctx.recording()) {
            const bool scalar = is_scalar_kind(element->kind) && st.depth < kMaxWalkDepth;
            while (py::Ref item = py::Ref::steal(PyIter_Next(iter.get()))) {
                const bool ok = scalar ? scalar_kind_matches(element->kind, item.get()) && st.tick(kScanItemUnits)
                                       : walk(*element, PySource{item.get(), set_place, 0}, ctx);
                if (!ok) return false;
            }
            if (PyErr_Occurred()) {
                absorb_error(st);
                return false;
            }
            return true;
        }
        if (ctx.profile) {
            // Profiling: every element's failures count, in any order.
            bool verdict = true;
            while (py::Ref item = py::Ref::steal(PyIter_Next(iter.get()))) {
                if (!walk(*element, PySource{item.get(), set_place, 0}, ctx)) verdict = false;
                if (st.stop) return false;
            }
            if (PyErr_Occurred()) {
                absorb_error(st);
                report_mutated(src, ctx);
                return false;
            }
            return verdict;
        }
        std::vector<SetGroup> groups;
        while (py::Ref item = py::Ref::steal(PyIter_Next(iter.get()))) {
            std::vector<Violation> mine;
            WalkContext sub = ctx.scratch(mine, ctx.mode);
            const PlaceScope place(st, PySource::identity_of(item.get()));  // the path names no element
            if (walk(*element, PySource{item.get(), set_place, 0}, sub)) continue;
            if (st.stop) return false;
            SetGroup group;
            if (!mine.empty()) {
                group.key = mine.front().value;
                group.key += ' ';
                group.key += mine.front().code;
            }
            group.violations = std::move(mine);
            group.element = std::move(item);
            groups.push_back(std::move(group));
        }
        if (PyErr_Occurred()) {
            absorb_error(st);
            report_mutated(src, ctx);
            return false;
        }
        // Byte order of the keys (std::string compares as unsigned char);
        // ties by the elements' values, then by the violations' lines, so
        // equal sets report alike whatever their iteration order.
        std::stable_sort(groups.begin(), groups.end(), [](const SetGroup& a, const SetGroup& b) {
            if (int c = a.key.compare(b.key)) return c < 0;
            if (int c = tie_compare(a.element.get(), b.element.get(), 0)) return c < 0;
            return violation_lines(a) < violation_lines(b);
        });
        for (SetGroup& group : groups) {
            for (Violation& v : group.violations) ctx.violations->push_back(std::move(v));
            if (ctx.mode == WalkMode::FailFast) break;
        }
        return groups.empty();
    }
}

#define TS_INSTANTIATE_SET(S) template bool check_set<S>(const ir::Node&, const S&, WalkContext&);
TS_FOR_EACH_SOURCE(TS_INSTANTIATE_SET)
#undef TS_INSTANTIATE_SET

}  // namespace tessaron::python::check
