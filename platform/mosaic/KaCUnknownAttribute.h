#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/harbor/IObject.h"
#include "platform/mosaic/KaARTTIAttribute.h"

// An attribute record of a class this process does not know (another program's, or a later
// version's), kept as it was read: its class name and its bytes. Writing the container again
// gives the record back unchanged, so a program that reads and saves a file loses nothing
// it cannot interpret. The container keeps one per class name, as it keeps one attribute
// per known class.
//
// Its record names no factory: a stream cannot create one by name (a record that names this
// class is itself kept as unknown). Immutable after construction; safe to share between
// threads.
class KaCUnknownAttribute : public KaARTTIAttribute {
    CB_DECLARE_RTTI()

public:
    KaCUnknownAttribute(std::wstring className, std::vector<uint8_t> record);

    // The class name the record was stored under.
    const std::wstring& GetRecordClassName() const { return m_className; }
    // The record's bytes, exactly as read.
    const std::vector<uint8_t>& GetRecord() const { return m_record; }

    // Writes the bytes as read.
    void Serialize(CbStreamWriteBinary& stream) const override;
    // Replaces the bytes by everything left in `stream` (the container hands each record
    // its own bounded block).
    void Serialize(CbStreamReadBinary& stream) override;

private:
    std::wstring m_className;
    std::vector<uint8_t> m_record;
};
