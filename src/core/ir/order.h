// The canonical total order of nodes, the structural equality that goes with
// it, the order of constraints, and the stable sort-and-deduplicate helpers
// that put every member, clause and constraint list into canonical form.
//
// node_cmp(a, b) == 0 exactly when node_eq(a, b).  The Any flag never
// counts; the flavour of sequences and sets does.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "core/ir/node.h"

namespace tessaron::ir {

// Byte strings compared as unsigned bytes, a string that is a beginning of
// the other first.
int bytes_cmp(std::string_view a, std::string_view b);

int node_cmp(const Node& a, const Node& b);
bool node_eq(const Node& a, const Node& b);

int constraint_cmp(const Constraint& a, const Constraint& b);
bool constraint_eq(const Constraint& a, const Constraint& b);
int constraints_cmp(std::span<const Constraint> a, std::span<const Constraint> b);

// Entry order: key bytes, then the value by node_cmp, then the required
// flag (optional first).
int entry_cmp(const RecordEntry& a, const RecordEntry& b);
// Clause order: the key by node_cmp, then the value.
int clause_cmp(const Clause& a, const Clause& b);
bool clause_eq(const Clause& a, const Clause& b);

// Stable sort by a strict "less": insertion sort up to 20 elements, a stable
// merge sort above.
inline constexpr std::size_t kInsertionSortLimit = 20;

template <class T, class Less>
void stable_canonical_sort(std::vector<T>& items, Less less);

// Canonical lists: stable sort, then removal of every element equal to the
// one kept before it (the first of a run of equal elements survives).
void sort_dedup_nodes(std::vector<Node>& nodes);
void sort_dedup_constraints(std::vector<Constraint>& constraints);
void sort_dedup_clauses(std::vector<Clause>& clauses);
// Record entries: stable sort by key bytes alone; nothing is removed.
void sort_entries_by_key(std::vector<RecordEntry>& entries);

// --- implementation of the template -------------------------------------

namespace detail {

template <class T, class Less>
void insertion_sort(T* a, std::size_t n, Less& less) {
    for (std::size_t i = 1; i < n; ++i) {
        if (!less(a[i], a[i - 1])) continue;
        T moving = std::move(a[i]);
        std::size_t j = i;
        do {
            a[j] = std::move(a[j - 1]);
            --j;
        } while (j > 0 && less(moving, a[j - 1]));
        a[j] = std::move(moving);
    }
}

// Merges the sorted runs [a, a+mid) and [a+mid, a+n) through `buf`; on ties
// the left run wins, which keeps the sort stable.
template <class T, class Less>
void merge_runs(T* a, std::size_t mid, std::size_t n, T* buf, Less& less) {
    for (std::size_t i = 0; i < mid; ++i) buf[i] = std::move(a[i]);
    std::size_t i = 0, j = mid, k = 0;
    while (i < mid && j < n) {
        if (less(a[j], buf[i]))
            a[k++] = std::move(a[j++]);
        else
            a[k++] = std::move(buf[i++]);
    }
    while (i < mid) a[k++] = std::move(buf[i++]);
}

}  // namespace detail

template <class T, class Less>
void stable_canonical_sort(std::vector<T>& items, Less less) {
    const std::size_t n = items.size();
    T* a = items.data();
    if (n <= kInsertionSortLimit) {
        detail::insertion_sort(a, n, less);
        return;
    }
    // Bottom-up: insertion-sorted runs of the limit's size, then pairwise
    // merges of doubling width.
    for (std::size_t lo = 0; lo < n; lo += kInsertionSortLimit)
        detail::insertion_sort(a + lo, std::min(kInsertionSortLimit, n - lo), less);
    std::vector<T> buf((n + 1) / 2);
    for (std::size_t width = kInsertionSortLimit; width < n; width *= 2) {
        for (std::size_t lo = 0; lo + width < n; lo += 2 * width) {
            std::size_t len = std::min(2 * width, n - lo);
            if (buf.size() < width) buf.resize(width);
            detail::merge_runs(a + lo, width, len, buf.data(), less);
        }
    }
}

}  // namespace tessaron::ir
