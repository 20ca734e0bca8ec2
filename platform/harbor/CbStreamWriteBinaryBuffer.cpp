#include "platform/harbor/CbStreamWriteBinaryBuffer.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "platform/harbor/CbExceptionOutOfMemory.h"

namespace {
// Buffers from this size on ask for huge pages.
constexpr uint64_t c_hugePageThreshold = uint64_t{8} << 20;
constexpr uintptr_t c_hugePageBytes = uintptr_t{2} << 20;
}  // namespace

CbStreamWriteBinaryBuffer::CbStreamWriteBinaryBuffer(uint64_t reserveBytes) {
    reserve(reserveBytes);
}

void CbStreamWriteBinaryBuffer::Overwrite(uint64_t offset, const void* data, uint64_t count) {
    if (offset > m_data.size() || count > m_data.size() - offset) {
        CB_THROW(CbException, "CbStreamWriteBinaryBuffer::Overwrite: bytes " +
                                  std::to_string(offset) + " to " + std::to_string(offset + count) +
                                  " lie beyond the " + std::to_string(m_data.size()) +
                                  " bytes written");
    }
    if (count != 0) {
        std::memcpy(m_data.data() + offset, data, count);
    }
}

void CbStreamWriteBinaryBuffer::ExpectBytes(uint64_t byteCount) {
    if (byteCount > m_data.capacity() - m_data.size()) {
        reserve(m_data.size() + byteCount);
    }
}

void CbStreamWriteBinaryBuffer::reserve(uint64_t byteCount) {
    if (byteCount <= m_data.capacity()) {
        return;
    }
    try {
        m_data.reserve(byteCount);
    } catch (const std::bad_alloc&) {
        CB_THROW(CbExceptionOutOfMemory, "CbStreamWriteBinaryBuffer: out of memory");
    } catch (const std::length_error&) {
        CB_THROW(CbExceptionOutOfMemory, "CbStreamWriteBinaryBuffer: out of memory");
    }
#ifdef MADV_HUGEPAGE
    if (byteCount >= c_hugePageThreshold) {
        // Only the whole huge pages inside the buffer; the advice is a hint, and a system
        // that declines it leaves the buffer as it is.
        const auto begin = reinterpret_cast<uintptr_t>(m_data.data());
        const uintptr_t first = (begin + c_hugePageBytes - 1) & ~(c_hugePageBytes - 1);
        const uintptr_t last = (begin + m_data.capacity()) & ~(c_hugePageBytes - 1);
        if (last > first) {
            ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
        }
    }
#endif
}

void CbStreamWriteBinaryBuffer::WriteBytes(const void* data, uint64_t count) {
    if (count == 0) {
        return;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    try {
        // Appending copies once; resizing first would also zero-fill what is then overwritten.
        m_data.insert(m_data.end(), bytes, bytes + count);
    } catch (const std::bad_alloc&) {
        CB_THROW(CbExceptionOutOfMemory, "CbStreamWriteBinaryBuffer: out of memory");
    } catch (const std::length_error&) {
        CB_THROW(CbExceptionOutOfMemory, "CbStreamWriteBinaryBuffer: out of memory");
    }
}
