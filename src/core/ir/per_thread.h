// Per-thread state with an explicit life cycle.
//
// Every per-thread structure of the IR (the sharing tables, the scratch
// pools, the placeholder stack) is created on the first call that needs it
// and destroyed when its thread ends.  Thread exit runs destructors in an
// order we do not control, so a structure may be asked for after it has been
// destroyed (by another thread-local's destructor releasing a schema, say).
// `PerThread<T>::get()` answers null in that case instead of handing out a
// dead object; callers fall back to doing without it.
//
// The life state and the pointer are trivially destructible thread-locals,
// readable at any point of the thread's life; the object itself sits on the
// heap, owned by a function-local thread_local holder whose destructor flips
// the state to destroyed.  Keeping the object on the heap keeps the thread's
// static TLS block small, which matters for a module loaded with dlopen.
#pragma once

#include <cstdint>
#include <memory>

namespace tessaron::ir {

enum class Life : std::uint8_t { NotCreated = 0, Alive = 1, Destroyed = 2 };

template <class T>
class PerThread {
public:
    // The calling thread's object, created on first use; null once the
    // thread has started destroying it.
    static T* get() {
        if (life_ == Life::Alive) return ptr_;
        if (life_ == Life::Destroyed) return nullptr;
        static thread_local Holder holder;
        return ptr_;
    }

    static Life life() { return life_; }

private:
    struct Holder {
        std::unique_ptr<T> value;
        Holder() : value(std::make_unique<T>()) {
            ptr_ = value.get();
            life_ = Life::Alive;
        }
        ~Holder() {
            life_ = Life::Destroyed;
            ptr_ = nullptr;
            // `value` is released after the state says destroyed, so a
            // destructor running inside T's teardown sees null and refrains.
        }
    };

    static inline constinit thread_local Life life_ = Life::NotCreated;
    static inline constinit thread_local T* ptr_ = nullptr;
};

// A borrow guard: 0 free, -1 while one operation holds the structure.  The
// operations never call back into the structure they hold, so a second
// borrow is never seen; if it were, the caller gets `false` and does without.
class BorrowGuard {
public:
    explicit BorrowGuard(std::int32_t& flag) : flag_(flag), held_(flag == 0) {
        if (held_) flag_ = -1;
    }
    ~BorrowGuard() {
        if (held_) flag_ = 0;
    }
    BorrowGuard(const BorrowGuard&) = delete;
    BorrowGuard& operator=(const BorrowGuard&) = delete;
    explicit operator bool() const { return held_; }

private:
    std::int32_t& flag_;
    bool held_;
};

}  // namespace tessaron::ir
