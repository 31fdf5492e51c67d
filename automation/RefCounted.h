// Intrusive reference counting for objects that cross the module boundary.
// AddRef and Release are virtual so that the count and the final delete
// always run in the code of the module that created the object, whichever
// side drops the last reference. Objects start with a count of 0; the first
// Ref that points at them takes the first reference.
#pragma once

#include <atomic>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace cvn::automation {

class RefCounted {
public:
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;

    virtual void AddRef() noexcept { refs_.fetch_add(1, std::memory_order_relaxed); }
    virtual void Release() noexcept {
        if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
    }
    uint32_t refCount() const noexcept { return refs_.load(std::memory_order_relaxed); }

protected:
    RefCounted() = default;
    virtual ~RefCounted() = default;

private:
    std::atomic<uint32_t> refs_{0};
};

// Owning pointer to a RefCounted object (one reference per non-null Ref).
template <typename T>
class Ref {
public:
    Ref() noexcept = default;
    Ref(std::nullptr_t) noexcept {}
    // Takes a new reference to p.
    explicit Ref(T* p) noexcept : p_(p) {
        if (p_) p_->AddRef();
    }
    // Takes over a reference the caller already owns (the counterpart of
    // detach, e.g. for a pointer received through an exported C function).
    static Ref adopt(T* p) noexcept {
        Ref r;
        r.p_ = p;
        return r;
    }

    Ref(const Ref& other) noexcept : Ref(other.p_) {}
    Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    template <typename U>
    requires std::convertible_to<U*, T*> Ref(const Ref<U>& other)
    noexcept : Ref(static_cast<T*>(other.get())) {}
    template <typename U>
    requires std::convertible_to<U*, T*> Ref(Ref<U>&& other)
    noexcept : p_(other.detach()) {}
    ~Ref() {
        if (p_) p_->Release();
    }

    Ref& operator=(Ref other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    T& operator*() const noexcept { return *p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // Gives up ownership without releasing: the caller now owns the
    // reference (hand-over through an exported C function).
    T* detach() noexcept { return std::exchange(p_, nullptr); }
    void reset() noexcept { Ref().swap(*this); }
    void swap(Ref& other) noexcept { std::swap(p_, other.p_); }

    friend bool operator==(const Ref& a, const Ref& b) noexcept { return a.p_ == b.p_; }
    friend bool operator==(const Ref& a, std::nullptr_t) noexcept { return a.p_ == nullptr; }

private:
    T* p_ = nullptr;
};

template <typename T, typename... A>
Ref<T> makeRef(A&&... args) {
    return Ref<T>(new T(std::forward<A>(args)...));
}

// Checked downcast; null when the object is not a T.
template <typename T, typename U>
Ref<T> refCast(const Ref<U>& r) {
    return Ref<T>(dynamic_cast<T*>(r.get()));
}

}  // namespace cvn::automation
