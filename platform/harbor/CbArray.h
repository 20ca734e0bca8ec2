#pragma once

#include <cstddef>
#include <new>
#include <utility>
#include <vector>

#include "platform/harbor/CbExceptionOutOfMemory.h"

// Construction policy of CbArray: new elements are default-constructed.
struct CbArrayPolicyConstructDefault {};

// A growable array. `GrowBy` is a growth hint kept for compatibility (0: the array
// chooses). Allocation failure raises CbExceptionOutOfMemory.
//
// Not thread-safe: callers serialise access.
template <class T, size_t GrowBy = 0, class Policy = CbArrayPolicyConstructDefault>
class CbArray {
public:
    using iterator = typename std::vector<T>::iterator;
    using const_iterator = typename std::vector<T>::const_iterator;

    // Appends `value` and returns its index.
    size_t Add(T value) {
        try {
            m_items.push_back(std::move(value));
        } catch (const std::bad_alloc&) {
            CB_THROW(CbExceptionOutOfMemory, "CbArray: out of memory");
        }
        return m_items.size() - 1;
    }
    void RemoveAll() { m_items.clear(); }
    size_t GetSize() const { return m_items.size(); }
    bool IsEmpty() const { return m_items.empty(); }

    T& operator[](size_t index) { return m_items[index]; }
    const T& operator[](size_t index) const { return m_items[index]; }
    T& GetAt(size_t index) { return m_items.at(index); }
    const T& GetAt(size_t index) const { return m_items.at(index); }

    iterator begin() { return m_items.begin(); }
    iterator end() { return m_items.end(); }
    const_iterator begin() const { return m_items.begin(); }
    const_iterator end() const { return m_items.end(); }

private:
    std::vector<T> m_items;
};
