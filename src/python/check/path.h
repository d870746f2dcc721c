// The path of the value a walk is checking.
//
// A check pushes one segment before it walks a child and pops it after, so
// the stack is a plain vector of segments and pushing costs no allocation.
// A failure keeps the path as a shared `Path` (errors.h); `snapshot` builds
// the shared nodes of the current prefix only when a failure asks for them,
// and keeps them while their segments stay on the stack, so every failure
// recorded under one prefix shares that prefix's nodes instead of copying
// its segments: memory is linear in failures plus distinct segments.
//
// Invariant: `nodes_[i]` is the shared form of `segments_[0..i]` for every
// i below `nodes_.size()`, which never exceeds `segments_.size()`.
#pragma once

#include <cstddef>
#include <utility>
#include <variant>
#include <vector>

#include "python/errors.h"

namespace tessaron::python::check {

// Whether two segments name the same step (texts by their content).
inline bool same_segment(const PathSegment& a, const PathSegment& b) {
    if (a.index() != b.index()) return false;
    if (const auto* k = std::get_if<PathKey>(&a)) {
        const auto& other = std::get<PathKey>(b);
        return k->text == other.text || (k->text && other.text && *k->text == *other.text);
    }
    if (const auto* n = std::get_if<PathInt>(&a)) return n->value == std::get<PathInt>(b).value;
    if (const auto* big = std::get_if<PathBigInt>(&a)) {
        const auto& other = std::get<PathBigInt>(b);
        return big->digits == other.digits || (big->digits && other.digits && *big->digits == *other.digits);
    }
    return std::get<PathIndex>(a).value == std::get<PathIndex>(b).value;
}

class PathStack {
public:
    std::size_t size() const { return segments_.size(); }

    void push(PathSegment segment) { segments_.push_back(std::move(segment)); }

    void pop() {
        segments_.pop_back();
        if (nodes_.size() > segments_.size()) nodes_.pop_back();
    }

    // The current path as a shared path.
    Path snapshot() {
        while (nodes_.size() < segments_.size()) {
            Path parent = nodes_.empty() ? Path() : nodes_.back();
            nodes_.push_back(path_append(std::move(parent), segments_[nodes_.size()]));
        }
        return nodes_.empty() ? Path() : nodes_.back();
    }

    // Whether `path` is the current path: the same segments.  A prefix
    // whose shared node is the one `snapshot` keeps is not read further.
    bool holds(const Path& path) const {
        if (path_length(path) != segments_.size()) return false;
        const PathNode* node = path.get();
        for (std::size_t i = segments_.size(); i-- > 0; node = node->parent.get()) {
            if (i < nodes_.size() && nodes_[i].get() == node) return true;
            if (!same_segment(node->segment, segments_[i])) return false;
        }
        return true;
    }

    // The current path followed by `extra`.
    Path snapshot_plus(PathSegment extra) { return path_append(snapshot(), std::move(extra)); }

private:
    std::vector<PathSegment> segments_;
    std::vector<Path> nodes_;
};

}  // namespace tessaron::python::check
