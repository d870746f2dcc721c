// The shared pool of the decision tests and the calls that run one
// question under a fresh budget.
#pragma once

#include <vector>

#include "core/decide/decision.h"
#include "core/decide/include.h"
#include "core/decide/inhabit.h"
#include "decide/fake_oracle.h"
#include "ir/ir_builders.h"

namespace tessaron::decide::testing {

// Pool indices of the fixture's constants.
enum : std::uint64_t {
    kFive = 0,
    kThree = 1,
    kTwoFloat = 2,
    kTwo = 3,
    kFour = 4,
    kNaN = 5,
    kOneFloat = 6,
    kOne = 7,
    kStrA = 8,
    kStrB = 9,
    kPlainClass = 10,   // a plain class with no builtin base (ancestors: itself, object)
    kAbstractClass = 11,  // its metaclass overrides the checks
    kPredicate = 12,    // an opaque callable
    kIntSubclass = 13,  // derives from int
    kObjectClass = 14,  // object: every value is an instance
    kIntClass = 15,     // int itself
    kTrue = 16,
    kTwoAndHalf = 17,
    kStrX = 18,
    kTen = 19,
};

inline std::vector<FakeConst> fixture_pool() {
    const KindMask every_kind = ~KindMask(Kind::None) & ~KindMask(Kind::Other);
    return {
        int_c(5),
        int_c(3),
        float_c(2.0),
        int_c(2),
        int_c(4),
        float_c(std::numeric_limits<double>::quiet_NaN()),
        float_c(1.0),
        int_c(1),
        str_c("a"),
        str_c("b"),
        class_c(Kind::Other, {kPlainClass, kObjectClass}),
        class_c(Kind::Other, {kAbstractClass, kObjectClass}, false),
        opaque_c(),
        class_c(Kind::Int, {kIntSubclass, kIntClass, kObjectClass}),
        class_c(Kind::Other, {kObjectClass}, true, every_kind),
        class_c(Kind::Int, {kIntClass, kObjectClass}, true, ir::kIntegralKinds),
        bool_c(true),
        float_c(2.5),
        str_c("x"),
        int_c(10),
    };
}

struct Harness {
    FakeOracle oracle{fixture_pool()};
    std::vector<ir::Node> definitions;
    DecisionBudget budget;
    DecisionContext ctx{oracle, definitions, budget};

    explicit Harness(std::vector<ir::Node> defs = {}) : definitions(std::move(defs)) {
        ctx.definitions = definitions;
    }

    Decision subset(const ir::Node& left, const ir::Node& right) {
        AssumptionStack stack;
        const Decision d = decide_subset(left, right, ctx, stack);
        EXPECT_EQ(stack.size(), 0u);
        EXPECT_EQ(t_decision_nesting, 0u);
        return d;
    }

    Inhabitation inhabited(const ir::Node& node) {
        RecursionPath path;
        const Inhabitation w = decide_inhabited(node, ctx, path);
        EXPECT_TRUE(path.empty());
        EXPECT_EQ(t_decision_nesting, 0u);
        return w;
    }
};

}  // namespace tessaron::decide::testing
