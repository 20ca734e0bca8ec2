#include "platform/harbor/CbStreamReadBinaryBuffer.h"

#include <cstring>
#include <string>

#include "platform/harbor/CbException.h"

CbStreamReadBinaryBuffer::CbStreamReadBinaryBuffer(const void* data, uint64_t size)
    : m_data(static_cast<const uint8_t*>(data)), m_size(data == nullptr ? 0 : size) {}

CbStreamReadBinaryBuffer::CbStreamReadBinaryBuffer(std::vector<uint8_t> bytes)
    : m_owned(std::move(bytes)), m_data(m_owned.data()), m_size(m_owned.size()) {}

void CbStreamReadBinaryBuffer::ReadBytes(void* data, uint64_t count) {
    if (count > GetRemaining()) {
        truncated(count);
    }
    if (count != 0) {
        std::memcpy(data, m_data + m_position, count);
        m_position += count;
    }
}

const uint8_t* CbStreamReadBinaryBuffer::ReadView(uint64_t count) {
    if (count > GetRemaining()) {
        truncated(count);
    }
    const uint8_t* view = m_data + m_position;
    m_position += count;
    return view;
}

void CbStreamReadBinaryBuffer::truncated(uint64_t count) const {
    CB_THROW(CbException, "truncated stream: " + std::to_string(count) + " bytes needed at byte " +
                              std::to_string(m_position) + ", " + std::to_string(GetRemaining()) +
                              " left");
}
