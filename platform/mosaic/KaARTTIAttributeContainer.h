#pragma once

#include <cstddef>
#include <vector>

#include "platform/harbor/CbSmartPointer.h"
#include "platform/mosaic/KaARTTIAttribute.h"

class CbRTTI;
class KaCUnknownAttribute;
class CbStreamWriteBinary;
class CbStreamReadBinary;

// The attribute set of one node: at most one attribute per run-time type (exact type), in
// the order they were first set. Attributes are shared objects; copying the container
// shares them, CopyAttributesFrom copies them.
//
// Stream form: version 1, an unsigned 32-bit count, then per attribute its class name
// (wide string), the byte count of its record (unsigned 32-bit) and the record. Reading
// creates each attribute by class name; a record of a class this process does not know is
// kept as a KaCUnknownAttribute (one per class name), which writes it back unchanged.
// Reading replaces the content only when the whole set was read: a
// failure (CbExceptionWrongFileVersion for an unknown container version, CbException for
// corrupt bytes) leaves the container as it was.
//
// Not thread-safe: the node's owner serialises access.
class KaARTTIAttributeContainer {
public:
    KaARTTIAttributeContainer() = default;

    // Sets `attribute`, replacing one of the same type; a null attribute is ignored.
    void SetAttribute(CbSmartPointer<KaARTTIAttribute> attribute);
    // Sets every attribute of `other` (shared, not copied).
    void SetAttributes(KaARTTIAttributeContainer& other);
    // Sets a copy of every attribute of `other`: made by the clone function of the
    // attribute's class; a class without clone function is shared instead.
    void CopyAttributesFrom(const KaARTTIAttributeContainer& other);
    void DeleteAttribute(const CbRTTI& record);
    void DeleteAttributes(const std::vector<const CbRTTI*>& records);
    // Calls ResetAttribute on every attribute; the attributes stay.
    void ResetAttributes();
    // Removes every attribute.
    void ClearAttributeContainer();

    // The attribute of exactly that type, or null.
    CbSmartPointer<KaARTTIAttribute> GetAttribute(const CbRTTI& record) const;
    template <class T>
    CbSmartPointer<T> GetAttribute() const {
        return CbStaticCast<T>(GetAttribute(T::RTTI));
    }
    size_t GetCount() const { return m_attributes.size(); }
    const std::vector<CbSmartPointer<KaARTTIAttribute>>& GetAttributes() const {
        return m_attributes;
    }

    void Serialize(CbStreamWriteBinary& stream) const;
    void Serialize(CbStreamReadBinary& stream);

    // The stream form in parts, for readers and writers of many containers that know which
    // are empty without looking at them. Serialize(CbStreamReadBinary&) is ReadRecordCount
    // and then ReadAttributes with the count read; Serialize(CbStreamWriteBinary&) of an
    // empty container writes what WriteEmpty writes.
    static uint32_t ReadRecordCount(CbStreamReadBinary& stream);
    // Reads the `count` attributes that follow the count and replaces the content with
    // them (all of it when `count` is 0), or throws and leaves the container as it was.
    void ReadAttributes(CbStreamReadBinary& stream, uint32_t count);
    static void WriteEmpty(CbStreamWriteBinary& stream);

private:
    std::vector<CbSmartPointer<KaARTTIAttribute>>::iterator find(const CbRTTI& record);
    std::vector<CbSmartPointer<KaARTTIAttribute>>::iterator findUnknown(
        const KaCUnknownAttribute& unknown);

    std::vector<CbSmartPointer<KaARTTIAttribute>> m_attributes;
};
