// The small types every set decision shares: the three-valued answers, the
// step budget of one public call, and the context the procedures carry
// down their recursion.
//
// Answers are three-valued throughout (core/ir/answers.h).  For inclusion
// (left within right) a `Decision`: subset, not a subset, undecided; for
// emptiness an `Emptiness`: empty, inhabited, undecided.  Undecided is
// always a permitted answer, so whatever runs out -- steps, nesting, an
// oracle that declines -- ends in it, never in a claim.
#pragma once

#include <cstdint>
#include <span>

#include "core/ir/answers.h"
#include "core/ir/kind.h"
#include "core/ir/node.h"
#include "core/ir/oracle.h"
#include "core/util/native_stack.h"

namespace tessaron::decide {

// The vocabulary of core/ir the decisions speak.
using ir::Answer;
using ir::Decision;
using ir::Emptiness;
using ir::Kind;
using ir::KindMask;
using ir::LeafInfo;
using ir::NullOracle;
using ir::Oracle;
using ir::Order;

// Steps of one public decision call (both directions of an equivalence
// share them).
inline constexpr std::int32_t kDecisionSteps = 1000000;

// How deeply the decision procedures may nest on one thread.  The step
// budget bounds how many calls are made, not how deeply they nest: two
// recursive schemas whose cycle lengths share no factor unfold in lock-step
// for a very long time before an assumption matches, and each unfolding is
// one more native frame.  Past this depth a question answers undecided.
// The count is per thread, not per call, so decisions nested through user
// code (a predicate that asks a relation question) share it.
inline constexpr std::uint32_t kMaxDecisionNesting = 3000;

// The decision nesting of the current thread.
inline thread_local std::uint32_t t_decision_nesting = 0;

struct DecisionBudget {
    std::int32_t steps = kDecisionSteps;

    // Takes one step; false (and nothing taken) once the steps are spent.
    bool take() {
        if (steps <= 0) return false;
        --steps;
        return true;
    }
    // Takes n steps; false (and the steps spent) when fewer are left.
    bool take(std::uint64_t n) {
        if (steps <= 0 || n > static_cast<std::uint64_t>(steps)) {
            steps = 0;
            return false;
        }
        steps -= static_cast<std::int32_t>(n);
        return true;
    }
};

// One level of nesting for the duration of a scope.  `entered()` is false
// when the limit is reached or the thread has too little native stack left
// for another level (a small thread stack, or a decision asked from user
// code deep inside another one); the level is then not taken.
class NestingLevel {
public:
    NestingLevel() : entered_(t_decision_nesting < kMaxDecisionNesting && !util::native_stack_low()) {
        if (entered_) ++t_decision_nesting;
    }
    ~NestingLevel() {
        if (entered_) --t_decision_nesting;
    }
    NestingLevel(const NestingLevel&) = delete;
    NestingLevel& operator=(const NestingLevel&) = delete;
    bool entered() const { return entered_; }

private:
    bool entered_;
};

class UnionFacts;

// What the decisions carry down their recursion; it only borrows.  `facts`
// (union_facts.h), when present, holds what the call learned of its large
// unions.
struct DecisionContext {
    Oracle& oracle;
    std::span<const ir::Node> definitions;
    DecisionBudget& budget;
    UnionFacts* facts = nullptr;
};

}  // namespace tessaron::decide
