// Shared<T>: an immutable value behind an atomic reference count.
//
// The descriptor algebra shares its value sets (text automata now,
// descriptors later) between many atoms and lines instead of copying them.
// A Shared<T> is one pointer to a single allocation holding the count and
// the value; copying a handle takes a reference, destroying one drops it,
// and the last one frees the value.  The value is const from the moment it
// is shared, so any thread may read it; the count is atomic, so any thread
// may copy or drop a handle.
//
// A default-constructed handle holds nothing (an absent value); `same`
// tests identity, which content comparisons use as their shortcut.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

namespace tessaron::descr {

template <class T>
class Shared {
public:
    Shared() noexcept = default;

    // Shares a new value built from the arguments.
    template <class... Args>
    static Shared make(Args&&... args) {
        Shared s;
        s.box_ = new Box(std::forward<Args>(args)...);
        return s;
    }

    Shared(const Shared& other) noexcept : box_(other.box_) { retain(); }
    Shared(Shared&& other) noexcept : box_(std::exchange(other.box_, nullptr)) {}
    Shared& operator=(const Shared& other) noexcept {
        Shared copy(other);
        swap(copy);
        return *this;
    }
    Shared& operator=(Shared&& other) noexcept {
        Shared moved(std::move(other));
        swap(moved);
        return *this;
    }
    ~Shared() { release(); }

    void swap(Shared& other) noexcept { std::swap(box_, other.box_); }

    explicit operator bool() const noexcept { return box_ != nullptr; }
    const T& operator*() const noexcept { return box_->value; }
    const T* operator->() const noexcept { return &box_->value; }
    const T* get() const noexcept { return box_ ? &box_->value : nullptr; }

    // Identity: both handles hold the same allocation (or both hold nothing).
    bool same(const Shared& other) const noexcept { return box_ == other.box_; }

    // The number of handles holding the value (0 for an empty handle).
    std::uint64_t use_count() const noexcept { return box_ ? box_->refs.load(std::memory_order_relaxed) : 0; }

private:
    struct Box {
        template <class... Args>
        explicit Box(Args&&... args) : value(std::forward<Args>(args)...) {}
        std::atomic<std::uint64_t> refs{1};
        const T value;
    };

    void retain() const noexcept {
        if (box_) box_->refs.fetch_add(1, std::memory_order_relaxed);
    }
    void release() noexcept {
        // acq_rel: the thread that frees the value sees every other
        // thread's reads of it completed.
        if (box_ && box_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete box_;
        box_ = nullptr;
    }

    Box* box_ = nullptr;
};

}  // namespace tessaron::descr
