// How much native stack the current thread has left.
//
// Every recursive procedure bounds its depth with a fixed counter (512 walk
// levels, 128 schema levels, the decisions' nesting limit), but a counter
// bounds frames, not bytes: a thread started with a small stack, frames
// enlarged by the sanitizers, or user code that re-enters validation from a
// predicate (each re-entry starting a fresh count) can exhaust the stack well
// inside the counters.  So each of those procedures also asks, before it
// goes one level deeper, whether more than `kNativeStackReserve` bytes are
// left below the current frame, and treats "no" as its ordinary limit: the
// walk fails with "recursion_limit", a decision answers undecided, the
// builder, rendering and finalisation raise RecursionError.  The recursive
// procedures of the core that have no failure result of their own (the
// rewrites of a tree, comparison and hashing of trees, pattern compilation)
// call `ensure_native_stack`, which throws `NativeStackExhausted`; the
// interpreter boundary turns it into RecursionError and the decisions into
// undecided.
//
// The bounds of the thread's stack come from its attributes
// (pthread_getattr_np), read once per thread and cached in a thread-local
// word.  Where they cannot be read, or the current frame lies outside them
// (a stack switched by a coroutine library), the answer is "plenty": the
// counters still bound the depth as before.
//
// The reserve is the headroom that must stay free for whatever runs
// between two checks: one level of our own frames, the interpreter calling
// user code (an `isinstance`, an `__eq__`, a predicate) and building an
// error.  The sanitizers enlarge every frame, so their builds keep more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>

#if defined(__linux__)
#include <pthread.h>
#endif

namespace tessaron::util {

#if defined(__SANITIZE_ADDRESS__)
#define TS_NATIVE_STACK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TS_NATIVE_STACK_ASAN 1
#endif
#endif

#if defined(TS_NATIVE_STACK_ASAN)
inline constexpr std::size_t kNativeStackReserve = std::size_t{128} * 1024;
#else
inline constexpr std::size_t kNativeStackReserve = std::size_t{64} * 1024;
#endif

namespace detail {

// The lowest address of the calling thread's stack; 1 when it cannot be
// read (never a real stack address), 0 while not read yet.
inline thread_local std::uintptr_t t_stack_low = 0;
inline thread_local std::uintptr_t t_stack_high = 0;

inline void read_stack_bounds() noexcept {
    std::uintptr_t low = 1;
    std::uintptr_t high = 1;
#if defined(__linux__)
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        void* addr = nullptr;
        std::size_t size = 0;
        if (pthread_attr_getstack(&attr, &addr, &size) == 0 && addr != nullptr && size != 0) {
            // The guard area lies inside the reported range on some
            // libraries and below it on others; count it as used.
            std::size_t guard = 0;
            pthread_attr_getguardsize(&attr, &guard);
            low = reinterpret_cast<std::uintptr_t>(addr) + guard;
            high = reinterpret_cast<std::uintptr_t>(addr) + size;
        }
        pthread_attr_destroy(&attr);
    }
#endif
    t_stack_high = high;
    t_stack_low = low;
}

}  // namespace detail

// The address of the calling frame.  Under AddressSanitizer this is the
// real stack, not the heap-allocated "fake stack" that holds the locals.
[[gnu::always_inline]] inline std::uintptr_t current_frame() noexcept {
    return reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
}

// Bytes of stack left below `frame` on the calling thread; SIZE_MAX when
// the bounds are unknown or `frame` lies outside them.
inline std::size_t native_stack_left(std::uintptr_t frame) noexcept {
    if (detail::t_stack_low == 0) detail::read_stack_bounds();
    const std::uintptr_t low = detail::t_stack_low;
    if (low == 1 || frame < low || frame >= detail::t_stack_high) return SIZE_MAX;
    return frame - low;
}

// The lowest address a frame below `frame` on the same stack may sit at and
// still go one level deeper; 0 (no frame is below it) when the bounds are
// unknown.  A procedure that checks every level reads it once on entry and
// then compares `current_frame() < floor`.
inline std::uintptr_t native_stack_floor(std::uintptr_t frame) noexcept {
    if (native_stack_left(frame) == SIZE_MAX) return 0;
    return detail::t_stack_low + kNativeStackReserve;
}

// True when going one level deeper from the calling frame would leave
// less than the reserve.
[[gnu::always_inline]] inline bool native_stack_low() noexcept {
    return native_stack_left(current_frame()) <= kNativeStackReserve;
}

// Thrown by `ensure_native_stack`.
class NativeStackExhausted : public std::exception {
public:
    const char* what() const noexcept override { return "too little native stack left"; }
};

// Throws NativeStackExhausted when going one level deeper from the calling
// frame would leave less than the reserve.
[[gnu::always_inline]] inline void ensure_native_stack() {
    if (native_stack_low()) [[unlikely]]
        throw NativeStackExhausted();
}

}  // namespace tessaron::util
