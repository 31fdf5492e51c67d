// Vectors for bulk instrument data. A waveform of millions of points is
// written by the read that fills it; zeroing it first, as std::vector does
// whenever it grows, would cost a whole extra pass over that memory for
// every transfer. DataVector leaves elements it adds without a value
// uninitialised (class types still get their default constructor).
//
// Where zeros are wanted, say so: DataVector<T>(n, T{}), resize(n, T{}).
#pragma once

#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "support/BigBlocks.h"

namespace cvn {

template <typename T>
class DefaultInitAllocator : public std::allocator<T> {
public:
    using value_type = T;
    template <typename U>
    struct rebind {
        using other = DefaultInitAllocator<U>;
    };

    DefaultInitAllocator() noexcept = default;
    template <typename U>
    DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept {}

    // Big blocks come from the kernel and go back to it (see BigBlocks.h).
    T* allocate(std::size_t n) {
        if (n > std::size_t(-1) / sizeof(T)) throw std::bad_array_new_length();
        if (n * sizeof(T) >= bigblocks::kMinBytes)
            return static_cast<T*>(bigblocks::Allocate(n * sizeof(T)));
        return std::allocator<T>::allocate(n);
    }
    void deallocate(T* p, std::size_t n) noexcept {
        if (n * sizeof(T) >= bigblocks::kMinBytes)
            bigblocks::Free(p);
        else
            std::allocator<T>::deallocate(p, n);
    }

    // Default-initialisation instead of value-initialisation: no zeroing
    // for arithmetic types.
    template <typename U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

template <typename T, typename U>
bool operator==(const DefaultInitAllocator<T>&, const DefaultInitAllocator<U>&) noexcept {
    return true;
}

template <typename T>
using DataVector = std::vector<T, DefaultInitAllocator<T>>;

}  // namespace cvn
