#pragma once

#include <cstdint>
#include <vector>

#include "platform/granary/KaCSurfelCollectionCCT.h"
#include "platform/harbor/CbStreamReadBinaryBuffer.h"
#include "platform/harbor/CbStreamWriteBinaryBuffer.h"
#include "platform/mosaic/KaARTTIAttribute.h"

// Helpers of the attribute tests. Records are written and read through the base class, the
// way the attribute container does it (some attributes keep Serialize protected).
namespace AttributeTestSupport {

inline std::vector<uint8_t> Write(const KaARTTIAttribute& attribute) {
    CbStreamWriteBinaryBuffer stream;
    attribute.Serialize(stream);
    return stream.GetBuffer();
}

// Reads `bytes` into `attribute`; returns the number of bytes the reader left unread.
inline uint64_t Read(KaARTTIAttribute& attribute, const std::vector<uint8_t>& bytes) {
    CbStreamReadBinaryBuffer stream(bytes.data(), bytes.size());
    attribute.Serialize(stream);
    return stream.GetRemaining();
}

// A collection of `count` surfels at distinct positions, with colours and quality.
inline CbSmartPointer<KaCSurfelCollectionCCT> MakeCollection(uint32_t count, float offset = 0.0f) {
    auto collection =
        CbMakeShared<KaCSurfelCollectionCCT>(KaCSurfelContainer::eSurfelAttributeSetFull);
    for (uint32_t i = 0; i < count; ++i) {
        KaCSurfel surfel;
        surfel.position = {offset + static_cast<float>(i), 2.0f * static_cast<float>(i), -1.0f};
        surfel.quality = 0.25f * static_cast<float>(i);
        collection->AddSurfel(surfel);
    }
    return collection;
}

// The record a collection writes of itself (equal records: equal content); empty for null.
inline std::vector<uint8_t> CollectionBytes(const CbSmartPointer<const CySurfelCollectionBase>& c) {
    CbStreamWriteBinaryBuffer stream;
    if (c) {
        c->Serialize(stream);
    }
    return stream.GetBuffer();
}

// Overwrites the 4 bytes at `offset` with `value`, little-endian.
inline void PatchUInt32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) {
        bytes.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
    }
}

}  // namespace AttributeTestSupport
