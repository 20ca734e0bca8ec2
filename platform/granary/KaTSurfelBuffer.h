#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>

#include "platform/granary/KaSurfelMemory.h"
#include "platform/harbor/CbExceptionOutOfMemory.h"

// The storage of one surfel attribute: a growable array of trivially copyable elements in
// 64-byte aligned memory from KaCSurfelMemoryPool, reached through KaSurfelMemory (large
// arrays on huge pages, recycled after release). It keeps allocation in one place so that
// the surfel containers can change where their memory comes from without touching their
// interface.
// Not thread-safe for writing; const use from several threads is safe. Allocation failure
// and sizes beyond the address space throw CbExceptionOutOfMemory.
template <class T>
class KaTSurfelBuffer {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>,
                  "surfel attributes are copied as bytes");

public:
    static constexpr size_t ms_alignment = KaSurfelMemory::c_alignment;

    KaTSurfelBuffer() = default;
    KaTSurfelBuffer(const KaTSurfelBuffer& other) { assign(other); }
    KaTSurfelBuffer(KaTSurfelBuffer&& other) noexcept { Swap(other); }
    ~KaTSurfelBuffer() { deallocate(m_data, m_capacity); }

    KaTSurfelBuffer& operator=(const KaTSurfelBuffer& other) {
        if (this != &other) {
            KaTSurfelBuffer copy(other);
            Swap(copy);
        }
        return *this;
    }
    KaTSurfelBuffer& operator=(KaTSurfelBuffer&& other) noexcept {
        KaTSurfelBuffer moved(std::move(other));
        Swap(moved);
        return *this;
    }

    void Swap(KaTSurfelBuffer& other) noexcept {
        std::swap(m_data, other.m_data);
        std::swap(m_size, other.m_size);
        std::swap(m_capacity, other.m_capacity);
    }

    size_t Size() const { return m_size; }
    size_t Capacity() const { return m_capacity; }
    bool IsEmpty() const { return m_size == 0; }
    T* Data() { return m_data; }
    const T* Data() const { return m_data; }
    T& operator[](size_t index) { return m_data[index]; }
    const T& operator[](size_t index) const { return m_data[index]; }

    // Makes room for `capacity` elements without changing the size.
    void Reserve(size_t capacity) {
        if (capacity > m_capacity) {
            reallocate(capacity);
        }
    }
    // New elements are set to `fill`; a smaller size keeps the capacity.
    void Resize(size_t size, const T& fill) {
        Reserve(size);
        if (size > m_size) {
            std::uninitialized_fill_n(m_data + m_size, size - m_size, fill);
        }
        m_size = size;
    }
    // New elements are left unset, for writers that fill them before anything reads them.
    void ResizeForOverwrite(size_t size) {
        Reserve(size);
        m_size = size;
    }
    void Clear() { m_size = 0; }
    // Frees the memory beyond the size.
    void ShrinkToFit() {
        if (m_capacity != m_size) {
            reallocate(m_size);
        }
    }
    size_t GetUsedDynamicMemory() const { return m_capacity * sizeof(T); }

private:
    static constexpr size_t maxElements() { return (SIZE_MAX - ms_alignment) / sizeof(T); }

    static T* allocate(size_t count) {
        if (count == 0) {
            return nullptr;
        }
        if (count > maxElements()) {
            CB_THROW(CbExceptionOutOfMemory, "KaTSurfelBuffer: size beyond the address space");
        }
        return static_cast<T*>(KaSurfelMemory::Allocate(count * sizeof(T)));
    }
    static void deallocate(T* data, size_t count) {
        KaSurfelMemory::Deallocate(data, count * sizeof(T));
    }

    void reallocate(size_t capacity) {
        T* data = allocate(capacity);
        if (m_size != 0) {
            std::uninitialized_copy_n(m_data, m_size, data);
        }
        deallocate(m_data, m_capacity);
        m_data = data;
        m_capacity = capacity;
    }

    void assign(const KaTSurfelBuffer& other) {
        m_data = allocate(other.m_size);
        m_capacity = other.m_size;
        m_size = other.m_size;
        if (m_size != 0) {
            std::uninitialized_copy_n(other.m_data, m_size, m_data);
        }
    }

    T* m_data = nullptr;
    size_t m_size = 0;
    size_t m_capacity = 0;
};
