#include "platform/mosaic/KaARTTIAttributeContainer.h"

#include <algorithm>
#include <string>
#include <utility>

#include "platform/harbor/CbByteOrder.h"
#include "platform/harbor/CbException.h"
#include "platform/harbor/CbFactory.h"
#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamReadBinaryBuffer.h"
#include "platform/harbor/CbStreamWriteBinary.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"
#include "platform/harbor/CbStringConversion.h"
#include "platform/mosaic/KaCUnknownAttribute.h"

namespace {
constexpr uint32_t c_version = 1;
// Class name count (4) and record byte count (4) at the least.
constexpr uint64_t c_minimumEntryBytes = 8;
}  // namespace

std::vector<CbSmartPointer<KaARTTIAttribute>>::iterator KaARTTIAttributeContainer::find(
    const CbRTTI& record) {
    return std::find_if(
        m_attributes.begin(), m_attributes.end(),
        [&](const CbSmartPointer<KaARTTIAttribute>& a) { return a->GetRTTI().Is(record); });
}

std::vector<CbSmartPointer<KaARTTIAttribute>>::iterator KaARTTIAttributeContainer::findUnknown(
    const KaCUnknownAttribute& unknown) {
    return std::find_if(
        m_attributes.begin(), m_attributes.end(), [&](const CbSmartPointer<KaARTTIAttribute>& a) {
            return a->GetRTTI().Is(KaCUnknownAttribute::RTTI) &&
                   static_cast<const KaCUnknownAttribute&>(*a).GetRecordClassName() ==
                       unknown.GetRecordClassName();
        });
}

void KaARTTIAttributeContainer::SetAttribute(CbSmartPointer<KaARTTIAttribute> attribute) {
    if (!attribute) {
        return;
    }
    auto it = attribute->GetRTTI().Is(KaCUnknownAttribute::RTTI)
                  ? findUnknown(static_cast<const KaCUnknownAttribute&>(*attribute))
                  : find(attribute->GetRTTI());
    if (it != m_attributes.end()) {
        *it = std::move(attribute);
    } else {
        m_attributes.push_back(std::move(attribute));
    }
}

void KaARTTIAttributeContainer::SetAttributes(KaARTTIAttributeContainer& other) {
    if (&other == this) {
        return;
    }
    for (const CbSmartPointer<KaARTTIAttribute>& attribute : other.m_attributes) {
        SetAttribute(attribute);
    }
}

void KaARTTIAttributeContainer::CopyAttributesFrom(const KaARTTIAttributeContainer& other) {
    // Copy from a snapshot: `other` may be this container.
    std::vector<CbSmartPointer<KaARTTIAttribute>> sources = other.m_attributes;
    for (const CbSmartPointer<KaARTTIAttribute>& source : sources) {
        CbSmartPointer<KaARTTIAttribute> copy = CbCloneByName<KaARTTIAttribute>(*source);
        SetAttribute(copy ? copy : source);
    }
}

void KaARTTIAttributeContainer::DeleteAttribute(const CbRTTI& record) {
    auto it = find(record);
    if (it != m_attributes.end()) {
        m_attributes.erase(it);
    }
}

void KaARTTIAttributeContainer::DeleteAttributes(const std::vector<const CbRTTI*>& records) {
    for (const CbRTTI* record : records) {
        if (record != nullptr) {
            DeleteAttribute(*record);
        }
    }
}

void KaARTTIAttributeContainer::ResetAttributes() {
    for (const CbSmartPointer<KaARTTIAttribute>& attribute : m_attributes) {
        attribute->ResetAttribute();
    }
}

void KaARTTIAttributeContainer::ClearAttributeContainer() {
    m_attributes.clear();
}

CbSmartPointer<KaARTTIAttribute> KaARTTIAttributeContainer::GetAttribute(
    const CbRTTI& record) const {
    auto it = std::find_if(
        m_attributes.begin(), m_attributes.end(),
        [&](const CbSmartPointer<KaARTTIAttribute>& a) { return a->GetRTTI().Is(record); });
    return it == m_attributes.end() ? nullptr : *it;
}

namespace {
// Version (the stream writes versions as plain 32-bit values) and count in one piece: most
// nodes carry no attribute, and a tree writes one container per node.
void writeHead(CbStreamWriteBinary& stream, uint32_t version, uint32_t count) {
    unsigned char head[8];
    CbByteOrder::store<uint32_t>(head, version);
    CbByteOrder::store<uint32_t>(head + 4, count);
    stream.WriteBytes(head, sizeof(head));
}
}  // namespace

void KaARTTIAttributeContainer::WriteEmpty(CbStreamWriteBinary& stream) {
    writeHead(stream, c_version, 0);
}

void KaARTTIAttributeContainer::Serialize(CbStreamWriteBinary& stream) const {
    writeHead(stream, c_version, static_cast<uint32_t>(m_attributes.size()));
    for (const CbSmartPointer<KaARTTIAttribute>& attribute : m_attributes) {
        CbStreamWriteBinaryBuffer record;
        attribute->Serialize(record);
        if (record.GetCount() > UINT32_MAX) {
            CB_THROW(CbException, "KaARTTIAttributeContainer: attribute record too large");
        }
        stream.WriteWideString(
            attribute->GetRTTI().Is(KaCUnknownAttribute::RTTI)
                ? static_cast<const KaCUnknownAttribute&>(*attribute).GetRecordClassName()
                : std::wstring(attribute->GetClassNameW()));
        stream.WriteUInt32(static_cast<uint32_t>(record.GetCount()));
        stream.WriteBuffer(record.GetData(), record.GetCount());
    }
}

void KaARTTIAttributeContainer::Serialize(CbStreamReadBinary& stream) {
    ReadAttributes(stream, ReadRecordCount(stream));
}

uint32_t KaARTTIAttributeContainer::ReadRecordCount(CbStreamReadBinary& stream) {
    stream.ReadAcceptedVersion("KaARTTIAttributeContainer", {c_version});
    return stream.ReadCount(c_minimumEntryBytes, "attribute");
}

void KaARTTIAttributeContainer::ReadAttributes(CbStreamReadBinary& stream, uint32_t count) {
    if (count == 0) {
        m_attributes.clear();  // most nodes carry none
        return;
    }
    KaARTTIAttributeContainer read;
    for (uint32_t i = 0; i < count; ++i) {
        std::wstring name = stream.ReadWideString();
        uint32_t byteCount = stream.ReadCount(1, "attribute record byte");
        // Each record is read from its own bounded block, so a record cannot read into
        // the next one; bytes it leaves unread are skipped.
        std::vector<uint8_t> copy;
        const uint8_t* bytes = stream.ReadView(byteCount);
        if (bytes == nullptr) {
            copy.resize(byteCount);
            stream.ReadBuffer(copy.data(), byteCount);
            bytes = copy.data();
        }
        CbSmartPointer<KaARTTIAttribute> attribute = CbCreateByName<KaARTTIAttribute>(name);
        if (!attribute) {
            // A class this process does not know: kept as read, to be written back.
            read.SetAttribute(CbSmartPointer<KaARTTIAttribute>(new KaCUnknownAttribute(
                std::move(name), std::vector<uint8_t>(bytes, bytes + byteCount))));
            continue;
        }
        CbStreamReadBinaryBuffer block(bytes, byteCount);
        attribute->Serialize(block);
        read.SetAttribute(attribute);
    }
    m_attributes.swap(read.m_attributes);
}
