#include "transformationtree/persistence/KaCSurfelCollectionBlock.h"

#include <cstdint>
#include <string>

#include "platform/harbor/CbException.h"
#include "platform/harbor/CbFactory.h"
#include "platform/harbor/CbRTTI.h"
#include "platform/harbor/CbStreamReadBinary.h"
#include "platform/harbor/CbStreamWriteBinary.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"

void KaCSurfelCollectionBlock::Write(
    CbStreamWriteBinary& stream, const CbSmartPointer<const CySurfelCollectionBase>& collection) {
    if (!collection) {
        stream.WriteBool(false);
        return;
    }
    // The record is complete before anything reaches the stream, so that a collection too
    // large for the block leaves the stream untouched.
    CbStreamWriteBinaryBuffer record;
    collection->Serialize(record);
    if (record.GetCount() > UINT32_MAX) {
        CB_THROW(CbException, "KaCSurfelCollectionBlock: surfel collection record of " +
                                  std::to_string(record.GetCount()) +
                                  " bytes exceeds the 32-bit byte count");
    }
    stream.WriteBool(true);
    stream.WriteWideString(collection->GetClassNameW());
    stream.WriteUInt32(static_cast<uint32_t>(record.GetCount()));
    stream.WriteBuffer(record.GetData(), record.GetCount());
}

void KaCSurfelCollectionBlock::Read(CbStreamReadBinary& stream,
                                    CbSmartPointer<const CySurfelCollectionBase>& collection) {
    if (!stream.ReadBool()) {
        return;
    }
    const std::wstring name = stream.ReadWideString();
    const uint32_t byteCount = stream.ReadCount(1, "surfel collection record byte");
    CbSmartPointer<CySurfelCollectionBase> created = CreateByName(name);
    if (!created) {
        stream.Skip(byteCount);
        collection = nullptr;
        return;
    }
    const uint64_t start = stream.GetPosition();
    created->Serialize(stream);
    const uint64_t used = stream.GetPosition() - start;
    if (used > byteCount) {
        CB_THROW(CbException, "corrupt stream: surfel collection record read " +
                                  std::to_string(used) + " bytes, but its block holds " +
                                  std::to_string(byteCount));
    }
    stream.Skip(byteCount - used);
    collection = created;
}

CbSmartPointer<CySurfelCollectionBase> KaCSurfelCollectionBlock::CreateByName(
    const std::wstring& name) noexcept {
    // Only surfel collection classes are created: a stream must not make objects of other
    // classes, whatever their constructors do. So a collection class must name its base in
    // its run-time type record; one that does not is treated as unknown and skipped.
    const CbRTTI* record = CbRTTI::Find(name);
    if (record == nullptr || !record->IsKindOf(CySurfelCollectionBase::RTTI)) {
        return nullptr;
    }
    return CbCreateByName<CySurfelCollectionBase>(name);
}

CbSmartPointer<CySurfelCollectionBase> KaCSurfelCollectionBlock::Clone(
    const CbSmartPointer<const CySurfelCollectionBase>& collection) noexcept {
    if (!collection) {
        return nullptr;
    }
    return CbCloneByName<CySurfelCollectionBase>(*collection);
}
