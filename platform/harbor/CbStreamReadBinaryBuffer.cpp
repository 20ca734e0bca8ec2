#include "platform/harbor/CbStreamReadBinaryBuffer.h"

#include <cstring>
#include <string>

#include "platform/harbor/CbByteOrder.h"
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

template <class T>
T CbStreamReadBinaryBuffer::load() {
    if (sizeof(T) > GetRemaining()) {
        truncated(sizeof(T));
    }
    const T value = CbByteOrder::load<T>(m_data + m_position);
    m_position += sizeof(T);
    return value;
}

uint32_t CbStreamReadBinaryBuffer::ReadVersion(uint32_t /*newestKnown*/) {
    return load<uint32_t>();
}
bool CbStreamReadBinaryBuffer::ReadBool() {
    return load<uint8_t>() != 0;
}
uint8_t CbStreamReadBinaryBuffer::ReadUInt8() {
    return load<uint8_t>();
}
uint16_t CbStreamReadBinaryBuffer::ReadUInt16() {
    return load<uint16_t>();
}
int32_t CbStreamReadBinaryBuffer::ReadInt32() {
    return load<int32_t>();
}
uint32_t CbStreamReadBinaryBuffer::ReadUInt32() {
    return load<uint32_t>();
}
int64_t CbStreamReadBinaryBuffer::ReadInt64() {
    return load<int64_t>();
}
uint64_t CbStreamReadBinaryBuffer::ReadUInt64() {
    return load<uint64_t>();
}
float CbStreamReadBinaryBuffer::ReadFloat() {
    return load<float>();
}
double CbStreamReadBinaryBuffer::ReadDouble() {
    return load<double>();
}

void CbStreamReadBinaryBuffer::truncated(uint64_t count) const {
    CB_THROW(CbException, "truncated stream: " + std::to_string(count) + " bytes needed at byte " +
                              std::to_string(m_position) + ", " + std::to_string(GetRemaining()) +
                              " left");
}
