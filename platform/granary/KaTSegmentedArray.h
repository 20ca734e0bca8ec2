#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "platform/granary/KaCSurfelMemoryPool.h"
#include "platform/granary/KaTSurfelBuffer.h"

// An array that grows without ever moving its elements: blocks of 16384 elements (or the
// next power of two that makes a block whole huge pages, see blockShiftFor), so growing
// copies nothing and an element is found with a shift and a mask. Used for per-cell sums,
// which grow one cell at a time to sizes nobody knows in advance. Blocks come from
// KaCSurfelMemoryPool; blocks of elements of 64 bytes or more are at least 1 MiB and so lie
// on huge pages, which matters: the sums are reached in no particular order, and with
// small pages the address translations cost more than the sums. New elements hold
// unspecified values.
// Not thread-safe for writing; const use from several threads is safe. Allocation failure
// throws CbExceptionOutOfMemory.
template <class T>
class KaTSegmentedArray {
public:
    // A block on huge pages is rounded up to whole huge pages, and its last page is resident
    // whole as soon as an element on it is used: 16384 elements of 192 bytes (3 MiB) would
    // hold 4 MiB. Such blocks grow to the smallest power of two of elements that fills whole
    // huge pages (32768 of 192 bytes: 6 MiB), up to 2^18 elements.
    static constexpr unsigned blockShiftFor(size_t elementBytes) {
        constexpr unsigned smallest = 14;
        if ((elementBytes << smallest) < KaCSurfelMemoryPool::ms_defaultHugeBlockThreshold) {
            return smallest;
        }
        for (unsigned shift = smallest; shift <= 18; ++shift) {
            if ((elementBytes << shift) % KaCSurfelMemoryPool::ms_hugePageSize == 0) {
                return shift;
            }
        }
        return smallest;
    }
    static constexpr unsigned ms_blockShift = blockShiftFor(sizeof(T));
    static constexpr size_t ms_blockSize = size_t{1} << ms_blockShift;

    KaTSegmentedArray() = default;
    // Copies the elements into blocks of its own.
    KaTSegmentedArray(const KaTSegmentedArray& other) {
        Resize(other.m_size);
        for (size_t i = 0; i < m_size; ++i) {
            (*this)[i] = other[i];
        }
    }
    KaTSegmentedArray(KaTSegmentedArray&& other) noexcept = default;
    KaTSegmentedArray& operator=(const KaTSegmentedArray& other) {
        if (this != &other) {
            KaTSegmentedArray copy(other);
            *this = std::move(copy);
        }
        return *this;
    }
    KaTSegmentedArray& operator=(KaTSegmentedArray&& other) noexcept = default;
    ~KaTSegmentedArray() = default;

    size_t Size() const { return m_size; }

    T& operator[](size_t index) {
        return m_data[index >> ms_blockShift][index & (ms_blockSize - 1)];
    }
    const T& operator[](size_t index) const {
        return m_data[index >> ms_blockShift][index & (ms_blockSize - 1)];
    }

    // Grows or shrinks to `size` elements; elements kept keep their values and addresses.
    void Resize(size_t size) {
        if (size > m_data.size() * ms_blockSize) {
            const size_t blocks = (size + ms_blockSize - 1) >> ms_blockShift;
            m_blocks.reserve(blocks);
            m_data.reserve(blocks);
            while (m_data.size() < blocks) {
                KaTSurfelBuffer<T> block;
                block.ResizeForOverwrite(ms_blockSize);
                m_data.push_back(block.Data());
                m_blocks.push_back(std::move(block));
            }
        }
        m_size = size;
    }
    // Size 0; the blocks stay for reuse.
    void Clear() { m_size = 0; }

private:
    std::vector<KaTSurfelBuffer<T>> m_blocks;
    std::vector<T*> m_data;  // the blocks' elements, for look-ups without indirection
    size_t m_size = 0;
};
