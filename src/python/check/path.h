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
#include <vector>

#include "python/errors.h"

namespace tessaron::python::check {

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

    // The current path followed by `extra`.
    Path snapshot_plus(PathSegment extra) { return path_append(snapshot(), std::move(extra)); }

private:
    std::vector<PathSegment> segments_;
    std::vector<Path> nodes_;
};

}  // namespace tessaron::python::check
