// Answers kept per descriptor object, or per pair of them, within one
// computation.
//
// The sequence algorithms ask the same question of the same label objects
// again and again (every product state that pairs the same two input
// states, every refinement pass over the same transitions).  A memo keyed
// by object addresses answers each key once.  Each entry holds handles to
// its key objects, so no address is reused while the memo lives, whether
// the objects came from the inputs or were built meanwhile.  An answer is
// never revised: a failure stays a failure, as the budget never rises
// within one computation.
#pragma once

#include <array>
#include <cstddef>
#include <map>
#include <utility>

#include "core/descr/descr_fwd.h"

namespace tessaron::descr {

template <class Value, std::size_t N = 1>
class DescrMemo {
public:
    // The answer for these objects, computed by `compute()` on first ask.
    template <class Compute>
    const Value& get(const std::array<SharedDescr, N>& objects, Compute&& compute) {
        std::array<const Descr*, N> key;
        for (std::size_t i = 0; i < N; ++i) key[i] = objects[i].get();
        auto [it, fresh] = memo_.try_emplace(key);
        if (fresh) it->second = Entry{objects, std::forward<Compute>(compute)()};
        return it->second.value;
    }

private:
    struct Entry {
        std::array<SharedDescr, N> objects;
        Value value{};
    };
    std::map<std::array<const Descr*, N>, Entry> memo_;
};

}  // namespace tessaron::descr
