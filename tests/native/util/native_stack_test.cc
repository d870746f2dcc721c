// The native stack guard: a recursion that asks it before each level stops
// with stack to spare on a small thread, and the procedures built on it (the
// throwing check, the decisions' nesting level) stop where it says.
#include <gtest/gtest.h>

#include <pthread.h>

#include <cstdint>
#include <cstdlib>
#include <functional>

#include "core/decide/decision.h"
#include "core/util/native_stack.h"

namespace tessaron::util {
namespace {

// Runs `fn` on a new thread with a stack of `bytes`.  The stack is our own
// allocation: a size alone lets the C library hand out a larger stack it
// cached from an earlier thread.
void run_on_stack(std::size_t bytes, const std::function<void()>& fn) {
    constexpr std::size_t kPage = 4096;
    bytes = (bytes + kPage - 1) / kPage * kPage;
    void* stack = std::aligned_alloc(kPage, bytes);
    ASSERT_NE(stack, nullptr);
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstack(&attr, stack, bytes), 0);
    pthread_t thread;
    auto trampoline = [](void* arg) -> void* {
        (*static_cast<const std::function<void()>*>(arg))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, trampoline, const_cast<std::function<void()>*>(&fn)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    std::free(stack);
}

// About 2 KiB of frame per level; stops when the guard says so.
[[gnu::noinline]] std::size_t descend(std::size_t depth, std::size_t& least_left) {
    volatile char pad[2048];
    pad[0] = 0;
    const std::size_t left = native_stack_left(current_frame());
    if (left < least_left) least_left = left;
    if (native_stack_low() || depth >= 100000) return depth;
    // Not a tail call: each level keeps its frame.
    const std::size_t reached = descend(depth + 1, least_left);
    return reached + static_cast<std::size_t>(pad[0]);
}

TEST(NativeStack, ADeepRecursionStopsWithTheReserveLeft) {
    for (std::size_t stack : {std::size_t{256} << 10, std::size_t{512} << 10, std::size_t{8} << 20}) {
        std::size_t depth = 0;
        std::size_t least_left = SIZE_MAX;
        run_on_stack(stack, [&] { depth = descend(0, least_left); });
        SCOPED_TRACE(stack);
        // It stopped on the guard, not on the safety count, and the deepest
        // frame still had (about) the reserve below it.
        EXPECT_LT(depth, 100000u);
        EXPECT_GT(least_left, kNativeStackReserve - 8192);
        // Most of the stack was usable: the guard does not stop early.
        EXPECT_GT(depth * 2048, (stack - kNativeStackReserve) / 2);
    }
}

[[gnu::noinline]] std::size_t descend_throwing(std::size_t depth) {
    volatile char pad[1024];
    pad[0] = 1;
    ensure_native_stack();
    return descend_throwing(depth + 1) + pad[0];
}

TEST(NativeStack, TheThrowingCheckUnwindsInsteadOfOverflowing) {
    bool thrown = false;
    run_on_stack(std::size_t{256} << 10, [&] {
        try {
            descend_throwing(0);
        } catch (const NativeStackExhausted&) {
            thrown = true;
        }
    });
    EXPECT_TRUE(thrown);
}

TEST(NativeStack, AFrameOutsideTheThreadsStackIsNeverLow) {
    // A stack switched by a coroutine library: the bounds do not apply.
    EXPECT_EQ(native_stack_left(16), SIZE_MAX);
    EXPECT_EQ(native_stack_floor(16), 0u);
    EXPECT_LT(native_stack_left(current_frame()), SIZE_MAX);
}

[[gnu::noinline]] void take_level(bool& entered, std::uint32_t& nesting_after) {
    decide::NestingLevel level;
    entered = level.entered();
    nesting_after = decide::t_decision_nesting;
}

[[gnu::noinline]] void take_level_below(bool& entered, std::uint32_t& nesting_after) {
    volatile char pad[32 << 10];
    pad[0] = 0;
    take_level(entered, nesting_after);
    pad[1] = pad[0];
}

TEST(NativeStack, ADecisionLevelIsRefusedWhenTheStackIsLow) {
    // A thread whose whole stack is about the reserve: no level is entered,
    // and the nesting count is left as it was.
    bool entered = true;
    std::uint32_t nesting_after = 1;
    run_on_stack(kNativeStackReserve + (16 << 10), [&] { take_level_below(entered, nesting_after); });
    EXPECT_FALSE(entered);
    EXPECT_EQ(nesting_after, 0u);
}

}  // namespace
}  // namespace tessaron::util
