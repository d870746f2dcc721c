// The values of a union made only of literals, for lookups instead of walks.
//
// `LiteralSets` holds what a union of literals admits among the values that
// are cheap to look up: the exact-int constants that fit in 64 bits, and
// the exact-str constants.  The str constants are kept twice: as UTF-8
// texts (`strs`, which a JSON string, always UTF-8, is looked up in) and,
// on CPython, as the pooled str objects themselves in `StrObjects`, an
// open-addressed table keyed by the hash the str caches in itself.  A
// Python str is looked up there without encoding it: the cached hash picks
// the slot, and two exact strs are equal when they have the same length,
// the same storage width and the same code units (CPython keeps every str
// in its narrowest width, so equal texts are stored alike).  That table
// also holds constants that have no UTF-8 form (lone surrogates), so for an
// exact str its answer is the members' answer whatever the text.
//
// Invariants: the tables are filled once, while the validator's lookup
// tables are built, and only read afterwards; `StrObjects` borrows its
// strs from the validator's pool, which lives as long as the tables.
// Budget: a lookup is one hash read (computed and cached by the str on its
// first use) and, on average, under two probes; the table is at most half
// full.
#pragma once

#include "python/binding/capi.h"

#include <boost/unordered/unordered_flat_set.hpp>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "core/util/fxhash.h"

namespace tessaron::python::check {

// Hashes a string_view-convertible key with FxHash (transparent, so a
// table keyed by owned strings can be probed with a view).
struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept { return util::FxHash{}(s); }
};
struct TextEq {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept { return a == b; }
};

#ifndef PYPY_VERSION
// Exact str objects by their cached hash.  Both arguments of every
// comparison are exact strs.
class StrObjects {
public:
    bool empty() const { return count_ == 0; }

    // Adds an exact str (borrowed; it must outlive the table).
    void insert(PyObject* str) {
        if (contains(str)) return;
        if ((count_ + 1) * 2 > slots_.size()) grow();
        place(Slot{hash_of(str), str});
        ++count_;
    }

    // Whether an exact str equal to `str` (an exact str) is in the table.
    bool contains(PyObject* str) const {
        if (count_ == 0) return false;
        const Py_hash_t hash = hash_of(str);
        for (std::size_t i = static_cast<std::size_t>(hash) & mask_;; i = (i + 1) & mask_) {
            const Slot& slot = slots_[i];
            if (!slot.str) return false;
            if (slot.hash == hash && (slot.str == str || same_text(slot.str, str))) return true;
        }
    }

private:
    struct Slot {
        Py_hash_t hash = 0;
        PyObject* str = nullptr;
    };

    // The str's own hash: cached in the object after its first use (an
    // exact str's hash never fails and runs no Python code).
    static Py_hash_t hash_of(PyObject* str) {
        const Py_hash_t cached = reinterpret_cast<PyASCIIObject*>(str)->hash;
        return cached != -1 ? cached : PyObject_Hash(str);
    }

    static bool same_text(PyObject* a, PyObject* b) {
        const Py_ssize_t n = PyUnicode_GET_LENGTH(a);
        if (n != PyUnicode_GET_LENGTH(b)) return false;
        const int kind = PyUnicode_KIND(a);
        if (kind != static_cast<int>(PyUnicode_KIND(b))) return false;
        return std::memcmp(PyUnicode_DATA(a), PyUnicode_DATA(b), static_cast<std::size_t>(n) * kind) == 0;
    }

    void place(Slot s) {
        std::size_t i = static_cast<std::size_t>(s.hash) & mask_;
        while (slots_[i].str) i = (i + 1) & mask_;
        slots_[i] = s;
    }

    void grow() {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(old.empty() ? 8 : old.size() * 2, Slot{});
        mask_ = slots_.size() - 1;
        for (const Slot& s : old)
            if (s.str) place(s);
    }

    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
    std::size_t count_ = 0;
};
#endif

struct LiteralSets {
    boost::unordered_flat_set<std::int64_t, util::FxHash> ints;
    boost::unordered_flat_set<std::string, TextHash, TextEq> strs;
#ifndef PYPY_VERSION
    StrObjects str_objects;
#endif
};

}  // namespace tessaron::python::check
