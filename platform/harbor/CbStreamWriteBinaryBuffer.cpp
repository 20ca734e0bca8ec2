#include "platform/harbor/CbStreamWriteBinaryBuffer.h"

#include <new>
#include <stdexcept>

#include "platform/harbor/CbExceptionOutOfMemory.h"

CbStreamWriteBinaryBuffer::CbStreamWriteBinaryBuffer(uint64_t reserveBytes) {
    m_data.reserve(reserveBytes);
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
