#include "platform/harbor/CbStreamWriteBinaryBuffer.h"

#include <cstring>
#include <new>

#include "platform/harbor/CbExceptionOutOfMemory.h"

CbStreamWriteBinaryBuffer::CbStreamWriteBinaryBuffer(uint64_t reserveBytes) {
    m_data.reserve(reserveBytes);
}

void CbStreamWriteBinaryBuffer::WriteBytes(const void* data, uint64_t count) {
    if (count == 0) {
        return;
    }
    size_t offset = m_data.size();
    try {
        m_data.resize(offset + count);
    } catch (const std::bad_alloc&) {
        CB_THROW(CbExceptionOutOfMemory, "CbStreamWriteBinaryBuffer: out of memory");
    }
    std::memcpy(m_data.data() + offset, data, count);
}
