#include "platform/mosaic/KaCUnknownAttribute.h"

#include <utility>

#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamWriteBinary.h"

CB_DEFINE_RTTI(KaCUnknownAttribute, nullptr, nullptr, nullptr)

KaCUnknownAttribute::KaCUnknownAttribute(std::wstring className, std::vector<uint8_t> record)
    : m_className(std::move(className)), m_record(std::move(record)) {}

void KaCUnknownAttribute::Serialize(CbStreamWriteBinary& stream) const {
    stream.WriteBuffer(m_record.data(), m_record.size());
}

void KaCUnknownAttribute::Serialize(CbStreamReadBinary& stream) {
    std::vector<uint8_t> record(stream.GetRemaining());
    stream.ReadBuffer(record.data(), record.size());
    m_record = std::move(record);
}
