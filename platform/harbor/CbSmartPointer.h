#pragma once

#include <cstddef>
#include <functional>
#include <type_traits>
#include <utility>

#include "platform/harbor/IReferenceCounted.h"

// Tag for constructors that take over a reference the caller already holds.
struct CbAdoptReference {};

// Intrusive strong pointer to an IReferenceCounted object (T may be const). Copying
// increments the object's count; releasing the last reference destroys the object (see
// CbReferenceCounter). Converts implicitly from derived to base; CbDynamicCast,
// CbStaticCast and CbConstCast convert the other ways.
//
// Thread safety: like a raw pointer. Distinct smart pointers to one object may be copied
// and released from different threads at once; one smart pointer object is not to be
// written by one thread while another reads it.
template <class T>
class CbSmartPointer {
public:
    using element_type = T;

    CbSmartPointer() noexcept = default;
    CbSmartPointer(std::nullptr_t) noexcept {}                     // NOLINT: implicit by design
    CbSmartPointer(T* object) : m_object(object) { increment(); }  // NOLINT: implicit by design
    CbSmartPointer(T* object, CbAdoptReference) noexcept : m_object(object) {}
    // A strong reference to `object` (not null), which no other thread can reach yet, for
    // code that makes many objects in a row (see CbReferenceCounter::IncrementUnshared).
    static CbSmartPointer FromUnshared(T* object) {
        const IReferenceCounted* counted = object;
        counted->getReferenceCounter().IncrementUnshared();
        return CbSmartPointer(object, CbAdoptReference());
    }
    CbSmartPointer(const CbSmartPointer& other) : m_object(other.m_object) { increment(); }
    CbSmartPointer(CbSmartPointer&& other) noexcept
        : m_object(std::exchange(other.m_object, nullptr)) {}
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    CbSmartPointer(const CbSmartPointer<U>& other)
        : m_object(other.Get()) {  // NOLINT: implicit by design
        increment();
    }
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    CbSmartPointer(CbSmartPointer<U>&& other) noexcept : m_object(other.Release()) {}  // NOLINT

    ~CbSmartPointer() { decrement(); }

    CbSmartPointer& operator=(const CbSmartPointer& other) {
        CbSmartPointer(other).Swap(*this);
        return *this;
    }
    CbSmartPointer& operator=(CbSmartPointer&& other) noexcept {
        CbSmartPointer(std::move(other)).Swap(*this);
        return *this;
    }
    CbSmartPointer& operator=(std::nullptr_t) {
        Reset();
        return *this;
    }

    void Reset() { CbSmartPointer().Swap(*this); }
    void Swap(CbSmartPointer& other) noexcept { std::swap(m_object, other.m_object); }
    // Gives up the reference without releasing it; the caller now owns it.
    T* Release() noexcept { return std::exchange(m_object, nullptr); }

    T* Get() const noexcept { return m_object; }
    T* operator->() const noexcept { return m_object; }
    T& operator*() const noexcept { return *m_object; }
    explicit operator bool() const noexcept { return m_object != nullptr; }
    bool IsNull() const noexcept { return m_object == nullptr; }

private:
    void increment() const {
        if (m_object != nullptr) {
            static_cast<const IReferenceCounted*>(m_object)->getReferenceCounter().Increment();
        }
    }
    void decrement() const {
        if (m_object != nullptr) {
            const IReferenceCounted* counted = m_object;
            counted->getReferenceCounter().Decrement(counted);
        }
    }

    T* m_object = nullptr;
};

template <class T, class U>
bool operator==(const CbSmartPointer<T>& a, const CbSmartPointer<U>& b) noexcept {
    return a.Get() == b.Get();
}
template <class T>
bool operator==(const CbSmartPointer<T>& a, std::nullptr_t) noexcept {
    return a.Get() == nullptr;
}
template <class T, class U>
bool operator==(const CbSmartPointer<T>& a, const U* b) noexcept {
    return a.Get() == b;
}
template <class T, class U>
bool operator<(const CbSmartPointer<T>& a, const CbSmartPointer<U>& b) noexcept {
    return std::less<const void*>()(a.Get(), b.Get());
}

// Run-time typed cast: null when the object is not a U.
template <class U, class T>
CbSmartPointer<U> CbDynamicCast(const CbSmartPointer<T>& pointer) {
    return CbSmartPointer<U>(dynamic_cast<U*>(pointer.Get()));
}
template <class U, class T>
CbSmartPointer<U> CbStaticCast(const CbSmartPointer<T>& pointer) {
    return CbSmartPointer<U>(static_cast<U*>(pointer.Get()));
}
template <class U, class T>
CbSmartPointer<U> CbConstCast(const CbSmartPointer<T>& pointer) {
    return CbSmartPointer<U>(const_cast<U*>(pointer.Get()));
}

template <class T, class... Args>
CbSmartPointer<T> CbMakeShared(Args&&... args) {
    return CbSmartPointer<T>(new T(std::forward<Args>(args)...));
}

template <class T>
struct std::hash<CbSmartPointer<T>> {
    size_t operator()(const CbSmartPointer<T>& pointer) const noexcept {
        return std::hash<const void*>()(pointer.Get());
    }
};
