#pragma once

#include <cstddef>
#include <list>
#include <new>
#include <utility>

#include "platform/harbor/CbExceptionOutOfMemory.h"

// A doubly linked list. Allocation failure raises CbExceptionOutOfMemory.
//
// Not thread-safe: callers serialise access.
template <class T>
class CbList {
public:
    using iterator = typename std::list<T>::iterator;
    using const_iterator = typename std::list<T>::const_iterator;

    void AddTail(T value) {
        try {
            m_items.push_back(std::move(value));
        } catch (const std::bad_alloc&) {
            CB_THROW(CbExceptionOutOfMemory, "CbList: out of memory");
        }
    }
    void AddHead(T value) {
        try {
            m_items.push_front(std::move(value));
        } catch (const std::bad_alloc&) {
            CB_THROW(CbExceptionOutOfMemory, "CbList: out of memory");
        }
    }
    void RemoveAll() { m_items.clear(); }
    size_t GetCount() const { return m_items.size(); }
    bool IsEmpty() const { return m_items.empty(); }
    T& GetHead() { return m_items.front(); }
    T& GetTail() { return m_items.back(); }

    iterator begin() { return m_items.begin(); }
    iterator end() { return m_items.end(); }
    const_iterator begin() const { return m_items.begin(); }
    const_iterator end() const { return m_items.end(); }

private:
    std::list<T> m_items;
};
